#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/UartConfig.h"
#include "win32/DialogWindow.h"
#include "win32/Win32Controls.h"
#include "window/DialogPresenters.h"

class Core;

// The serial settings: config.cfg, and the port and settings Connect opens. What it does is
// SettingsPresenter's.
class UartDialog : public DialogWindow {
 public:
  UartDialog(HWND owner, std::string configPath);

  SettingsPresenter& Presenter() { return Rules; }
  // The port and settings the dialog shows.
  PortRequest Request() { return Rules.Request(); }
  // 0 written, 1 the file cannot be created.
  int SaveUartConfig(bool fromControls) { return Rules.Save(fromControls); }
  // COM1 to COM8, then the ports the system has, with their names; the typed name stays.
  void RefreshPortList();

 protected:
  bool OnCommand(int id, int code) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;
  void OnShow() override;

 private:
  Win32Controls Controls{*this};
  SettingsPresenter Rules;
  // The paths behind the port list's entries beyond COM8.
  std::vector<std::wstring> FoundPaths;
};

// Gets, edits, sets and resets the box's download configuration record: ConfigPresenter's.
class DlCfgDialog : public DialogWindow {
 public:
  DlCfgDialog(Core& core, HWND owner);

  ConfigPresenter& Presenter() { return Rules; }
  // record: the 100 bytes of a record the box sent.
  void ShowDLCfgRecord(const std::uint8_t* record);
  // The whole record from the edits (out: 100 bytes); "" or what the field that does not fit
  // takes.
  std::string PackDLCfgRecord(std::uint8_t* out) { return Rules.Pack(out); }

 protected:
  bool OnCommand(int id, int code) override;

 private:
  Win32Controls Controls{*this};
  ConfigPresenter Rules;
};

// A tuning test at a frequency and bandwidth.
class TuneDialog : public DialogWindow {
 public:
  TuneDialog(Core& core, HWND owner);
  // Where the box's steps are recorded (nullptr: nowhere).
  WindowRecord* Record = nullptr;

 protected:
  bool OnCommand(int id, int code) override;

 private:
  Core& Protocol;
  Win32Controls Controls{*this};
};

// Erases a range of the flash, or reads one back into flashdata.bin.
class FlashDialog : public DialogWindow {
 public:
  FlashDialog(Core& core, HWND owner);
  // Where the box's steps are recorded (nullptr: nowhere).
  WindowRecord* Record = nullptr;

 protected:
  bool OnCommand(int id, int code) override;

 private:
  Core& Protocol;
  Win32Controls Controls{*this};
};
