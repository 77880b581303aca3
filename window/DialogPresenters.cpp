#include "window/DialogPresenters.h"

#include <algorithm>
#include <cstdio>

#include "link/NumberText.h"
#include "service/ServiceRequests.h"
#include "window/WindowRules.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

namespace {

// The delivery choice's radio group and the boxes of the three layouts.
constexpr const char* DeliveryChoice = "RadGrp_Select";
constexpr const char* DeliveryBoxes[] = {"grpbox_sat", "grpbox_Cable", "grpbox_Ter"};

}  // namespace

std::string ChangedFieldsStep(const std::uint8_t* before, const std::uint8_t* after) {
  std::string step = "config set";
  if (!before || before[DlCfgDeliveryTypeOffset] != after[DlCfgDeliveryTypeOffset])
    step += " DeliveryType=" + std::to_string(after[DlCfgDeliveryTypeOffset]);
  const auto old = before ? ShownTexts(before) : std::vector<std::pair<std::string, std::string>>{};
  for (const auto& [field, text] : ShownTexts(after)) {
    // The record's CRC follows from the rest.
    if (field == "Crc") continue;
    const auto was =
        std::find_if(old.begin(), old.end(), [&](const auto& o) { return o.first == field; });
    if (was == old.end() || was->second != text) step += " " + field + "=" + text;
  }
  return step;
}

std::string FieldControl(const std::string& field) {
  return "text_" + field;
}

void ConfigPresenter::SetStatus(const std::string& text) {
  View.SetLatin1Text("Lab_DL_Cfg_Status", text);
}

void ConfigPresenter::SetCommandsEnabled(bool enabled) {
  for (const char* button : {"btn_GetDLCfg", "btn_SetDLCfg", "btn_SetDefaultDLCfg"})
    View.Enable(button, enabled);
}

void ConfigPresenter::Recorded(std::uint32_t word, std::string text) {
  if (const LoaderCommand* command = LoaderCommandOf(word); Record && command)
    Record->Begin(*command, std::move(text));
}

void ConfigPresenter::GetClicked() {
  SetStatus("Status");
  if (Engine.GetDlCfg()) Recorded(Cmd::GetDlCfg, "config get");
}

void ConfigPresenter::SetClicked() {
  SetStatus("Status");
  std::uint8_t record[DlCfgRecordSize];
  const std::string problem = Pack(record);
  if (!problem.empty()) {
    View.Message(problem);
    return;
  }
  const bool sent = Engine.Connected();
  Engine.SetDlCfg(record);
  if (sent)
    Recorded(Cmd::SetDlCfg, ChangedFieldsStep(StoredFromBox ? Stored.data() : nullptr, record));
}

void ConfigPresenter::DefaultClicked() {
  SetStatus("Status");
  if (Engine.SetDefaultDlCfg()) Recorded(Cmd::SetDefaultDlCfg, "config default");
}

void ConfigPresenter::ItemChosen(int item) {
  Choose(item);
}

void ConfigPresenter::Choose(int item) {
  View.Choose(DeliveryChoice, item);
  if (item == ChosenItem) return;
  ChosenItem = item;
  const std::string problem = DeliveryChoiceProblem(item, TypedNumber(View, "text_DeliveryType"));
  if (!problem.empty()) {
    View.Message(problem);
    return;
  }
  ShowDeliveryGroup(item + 1);
}

void ConfigPresenter::ShowDeliveryGroup(int deliveryType) {
  const int group = DeliveryGroupOf(deliveryType);
  // Hidden first: the three boxes share their place.
  for (int box = 1; box <= 3; ++box)
    if (box != group) View.Show(DeliveryBoxes[box - 1], false);
  View.Show(DeliveryBoxes[group - 1], true);
}

void ConfigPresenter::Show(const std::array<std::uint8_t, DlCfgRecordSize>& record) {
  Stored = record;
  StoredFromBox = true;
  const std::uint8_t deliveryType = record[DlCfgDeliveryTypeOffset];
  // The type is in its edit before the choice changes, because the choice's check reads it; a
  // type outside 1 to 3 shows the terrestrial box and gets the check's message.
  View.SetLatin1Text("text_DeliveryType", std::to_string(deliveryType));
  ShowDeliveryGroup(deliveryType);
  Choose(DeliveryGroupOf(deliveryType) - 1);
  for (const auto& [field, text] : ShownTexts(record.data()))
    View.SetLatin1Text(FieldControl(field).c_str(), text);
}

std::string ConfigPresenter::Pack(std::uint8_t* out) {
  const DeliveryLayout layout = LayoutOfDeliveryType(Stored[DlCfgDeliveryTypeOffset]);
  DlCfgTexts texts;
  for (const DlCfgField& field : DlCfgFields()) {
    const std::optional<std::string> text = View.Latin1Text(FieldControl(field.Field).c_str());
    if (text) {
      texts[field.Field] = *text;
    } else if (field.Layout == DeliveryLayout::Common || field.Layout == layout) {
      // A character of more than one byte fits no field of the box.
      return FieldAccepts(field);
    }
  }
  return PackRecord(texts, Stored.data(), out);
}

SettingsPresenter::SettingsPresenter(DialogView& view, std::string configPath)
    : View(view), ConfigPath(std::move(configPath)) {}

void SettingsPresenter::ShowDefaults() {
  // The lists show their initial texts; only parity and stop bits choose an item.
  View.SetSystemText("Combo_port", "COM1");
  View.SetLatin1Text("Combo_BaudRate", "115200");
  View.SetLatin1Text("Combo_DataBit", "8");
  View.Choose("Combo_Parity", 0);
  View.Choose("Combo_StopBit", 0);
  View.Choose("Combo_FlowCtrl", -1);
  View.SetLatin1Text("Combo_FlowCtrl", "none");
}

int SettingsPresenter::Save(bool fromControls) {
  const std::string line =
      fromControls
          ? FormatConfigLine(View.SystemText("Combo_port"), TypedNumber(View, "Combo_BaudRate"),
                             TypedNumber(View, "Combo_DataBit"), View.Chosen("Combo_Parity"),
                             View.Chosen("Combo_StopBit"))
          : std::string(DefaultConfigLine);
  return WriteConfigFile(ConfigPath, line) ? 0 : 1;
}

int SettingsPresenter::Load() {
  std::string content;
  if (!ReadConfigFile(ConfigPath, content)) {
    Save(false);
    Opened();
    return 1;
  }
  Loaded = ParseConfigLine(content, Loaded);
  View.SetSystemText("Combo_port", Loaded.PortName);
  View.SetLatin1Text("Combo_BaudRate", std::to_string(Loaded.BaudRate));
  View.SetLatin1Text("Combo_DataBit", std::to_string(Loaded.DataBits));
  View.Choose("Combo_Parity", Loaded.ParityIndex);
  View.Choose("Combo_StopBit", Loaded.StopBitIndex);
  // A dialog never opened goes back to what was read.
  Opened();
  return 0;
}

PortRequest SettingsPresenter::Request() const {
  UartConfig shown;
  // A port's name goes to the system as typed; the numbers as the lists read them.
  shown.PortName = View.SystemText("Combo_port");
  shown.BaudRate = ReadDecimalText(TypedNumber(View, "Combo_BaudRate"));
  shown.DataBits = ReadDecimalText(TypedNumber(View, "Combo_DataBit"));
  // With no item chosen (-1) the port keeps its own.
  shown.ParityIndex = View.Chosen("Combo_Parity");
  shown.StopBitIndex = View.Chosen("Combo_StopBit");
  return RequestOf(shown);
}

void SettingsPresenter::OkClicked() {
  // The technician asked for the settings to be kept: a file that could not be written is said.
  if (Save(true) != 0) View.Message("Can't write " + ConfigPath);
  Opened();
}

void SettingsPresenter::Opened() {
  AtOpen = {View.SystemText("Combo_port"), TypedNumber(View, "Combo_BaudRate"),
            TypedNumber(View, "Combo_DataBit"), View.Chosen("Combo_Parity"),
            View.Chosen("Combo_StopBit")};
}

void SettingsPresenter::Cancelled() {
  View.SetSystemText("Combo_port", AtOpen.Port);
  View.SetLatin1Text("Combo_BaudRate", AtOpen.Baud);
  View.SetLatin1Text("Combo_DataBit", AtOpen.Data);
  View.Choose("Combo_Parity", AtOpen.Parity);
  View.Choose("Combo_StopBit", AtOpen.Stop);
}

void TuneClicked(Core& engine, DialogView& view, WindowRecord* record) {
  TuneValues values;
  std::string why;
  if (!ReadTuneTexts(TypedNumber(view, "Edt_Frequency"), TypedNumber(view, "Edt_Bandwidth"), values,
                     why)) {
    view.Message(why);
    return;
  }
  engine.TuneTest(values.FrequencyKHz, values.Bandwidth);
  if (record && engine.Connected())
    if (const LoaderCommand* tune = LoaderCommandOf(Cmd::TuneTest))
      record->Begin(*tune, "tune " + std::to_string(values.FrequencyKHz) + " " +
                               std::to_string(values.Bandwidth));
}

void FlashClicked(Core& engine, DialogView& view, FlashWork work, WindowRecord* record) {
  FlashRange range;
  std::string why;
  if (!ReadFlashRangeTexts(TypedNumber(view, "Edt_StartAddr"), TypedNumber(view, "Edt_Offset"),
                           range, why)) {
    view.Message(why);
    return;
  }
  char step[48];
  std::snprintf(step, sizeof step, "%s 0x%x 0x%x", work == FlashWork::Erase ? "erase" : "read",
                static_cast<unsigned>(range.Start), static_cast<unsigned>(range.Size));
  if (work == FlashWork::Erase) {
    const LoaderCommand* erase = LoaderCommandOf(Cmd::EraseFlash);
    if (engine.EraseFlash(range.Start, range.Size) && record && erase) record->Begin(*erase, step);
  } else if (engine.ReadFlash(range.Start, range.Size) && record) {
    record->BeginRead(step);
  }
}
