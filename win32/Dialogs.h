#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dlcfg/DlCfgRecord.h"
#include "dlcfg/DlCfgView.h"
#include "link/UartConfig.h"
#include "service/ServiceRequests.h"
#include "win32/DialogWindow.h"

class Core;

// The serial settings: config.cfg, and the port and settings Connect opens.
class UartDialog : public DialogWindow {
 public:
  UartDialog(HWND owner, std::string configPath);

  // The port and settings the dialog shows.
  PortRequest Request();
  // 0 written, 1 the file cannot be created.
  int SaveUartConfig(bool fromControls);
  // 1 when the file was missing (the default has then been written), else 0.
  int LoadUartConfig();
  // COM1 to COM8, then the ports the system has, with their names; the typed name stays.
  void RefreshPortList();

 protected:
  bool OnCommand(int id, int code) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;
  void OnShow() override;

 private:
  std::string ConfigPath;
  UartConfig Loaded;
  // What the dialog showed when it opened: Connect takes the controls, so a cancelled edit
  // must not stay in them.
  // (as loaded, for a dialog never opened).
  void Remember();
  std::wstring AtShow[3];
  int AtShowParity = -1, AtShowStop = -1;
  // The paths behind the port list's entries beyond COM8.
  std::vector<std::wstring> FoundPaths;
};

// Gets, edits, sets and resets the box's download configuration record.
class DlCfgDialog : public DialogWindow, public DlCfgView {
 public:
  DlCfgDialog(Core& core, HWND owner);

  bool ShowDLCfgRecord(const std::uint8_t* record) override;
  // The whole record from the edits (out: 100 bytes); "" or what the field that does not fit
  // takes.
  std::string PackDLCfgRecord(std::uint8_t* out);
  void SetStatusCaption(const std::string& text);
  void SetCommandButtonsEnabled(bool enabled);

 protected:
  bool OnCommand(int id, int code) override;

 private:
  void SelectItem(int item);
  void ShowDeliveryGroup(int deliveryType);

  Core& Protocol;
  std::map<std::string, int> FieldIds;
  std::array<std::uint8_t, DlCfgRecordSize> StoredDLCfg{};
  int SelectedItem = -1;
};

// A tuning test at a frequency and bandwidth.
class TuneDialog : public DialogWindow {
 public:
  TuneDialog(Core& core, HWND owner);

 protected:
  bool OnCommand(int id, int code) override;

 private:
  Core& Protocol;
};

// Erases a range of the flash, or reads one back into flashdata.bin.
class FlashDialog : public DialogWindow {
 public:
  FlashDialog(Core& core, HWND owner);

 protected:
  bool OnCommand(int id, int code) override;

 private:
  bool TypedRange(FlashRange& range);
  Core& Protocol;
};

// The text of an edit that holds a number: a character beyond Latin-1 stands as one that no
// number reading takes.
std::string TypedNumber(const std::wstring& text);
