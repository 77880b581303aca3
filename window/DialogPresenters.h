#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dlcfg/DlCfgRecord.h"
#include "engine/Core.h"
#include "link/UartConfig.h"
#include "window/DialogView.h"
#include "window/WindowRecord.h"

// The record's step for a record sent: the fields whose texts differ from the box's last record
// ("config set Sat_Freq=11778"); every field when the box has sent none (before: nullptr).
std::string ChangedFieldsStep(const std::uint8_t* before, const std::uint8_t* after);

// The download configuration dialog's rules over its controls: a record shown and packed
// again, the delivery choice's check, the status caption, the three buttons.
class ConfigPresenter {
 public:
  ConfigPresenter(Core& engine, DialogView& view) : Engine(engine), View(view) {}

  void GetClicked();
  // A text that does not fit its field would reach the box as some other value: nothing goes.
  void SetClicked();
  void DefaultClicked();
  // The technician chose a delivery item: 0 satellite, 1 cable, 2 terrestrial.
  void ItemChosen(int item);

  // A record the box sent: every field in its edit, the box of its delivery type shown.
  void Show(const std::array<std::uint8_t, DlCfgRecordSize>& record);
  // The whole record from the edits (out: 100 bytes); "" or what the field that does not fit
  // takes.
  std::string Pack(std::uint8_t* out);
  void SetStatus(const std::string& text);
  void SetCommandsEnabled(bool enabled);
  // Where the box's steps are recorded (nullptr: nowhere).
  WindowRecord* Record = nullptr;

 private:
  void Recorded(std::uint32_t word, std::string text);
  // The choice changes by a click or by the program alike: the check runs, unless the item was
  // chosen already.
  void Choose(int item);
  void ShowDeliveryGroup(int deliveryType);

  Core& Engine;
  DialogView& View;
  std::array<std::uint8_t, DlCfgRecordSize> Stored{};
  bool StoredFromBox = false;
  int ChosenItem = -1;
};

// The serial settings dialog's rules: config.cfg read into the controls and written from them,
// the request Connect opens the port with, and Cancel's way back.
class SettingsPresenter {
 public:
  SettingsPresenter(DialogView& view, std::string configPath);

  // The texts the controls show before config.cfg is read.
  void ShowDefaults();
  // 1 when the file was missing (the default line has then been written), else 0.
  int Load();
  // 0 written, 1 the file cannot be created. fromControls false: the default line.
  int Save(bool fromControls);
  PortRequest Request() const;
  // OK: the settings are kept (a file that could not be written is said).
  void OkClicked();
  // The dialog opens: what it shows now is what Cancel goes back to.
  void Opened();
  // Cancel, Escape or the close box: the controls show again what they showed when it opened.
  void Cancelled();

 private:
  DialogView& View;
  std::string ConfigPath;
  UartConfig Loaded;
  struct Shown {
    std::string Port, Baud, Data;
    int Parity = -1, Stop = -1;
  } AtOpen;
};

// The edit that shows a field of the record (by the field's name) in the dialog's form.
std::string FieldControl(const std::string& field);

// The tuning test's OK, and the flash dialog's Erase and Read: the typed numbers checked, then
// the request; a number that does not fit is said and nothing goes.
void TuneClicked(Core& engine, DialogView& view, WindowRecord* record = nullptr);
enum class FlashWork { Erase, Read };
void FlashClicked(Core& engine, DialogView& view, FlashWork work, WindowRecord* record = nullptr);
