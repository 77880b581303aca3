#include "win32/Dialogs.h"

#include <cstring>
#include <string_view>

#include "engine/Core.h"
#include "link/NumberText.h"
#include "platform/PortScan.h"
#include "win32/ControlIds.h"
#include "win32/WideText.h"
#include "window/WindowRules.h"

std::string TypedNumber(const std::wstring& text) {
  return ExactLatin1(text).value_or("?");
}

namespace {

int IdOf(std::string_view name) {
  for (const NamedControl& control : NamedControls)
    if (name == control.Name) return control.Id;
  return 0;
}

void FillCombo(HWND combo, const std::vector<std::string>& items) {
  for (const std::string& item : items)
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideOfUtf8(item).c_str()));
}

int ComboIndex(HWND combo) {
  return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

constexpr UINT ShowChosenPath = WM_APP + 2;

void SelectComboIndex(HWND combo, int index) {
  const int count = static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
  // An index outside the list leaves the list with no selection.
  ::SendMessageW(combo, CB_SETCURSEL, index >= 0 && index < count ? index : -1, 0);
}

}  // namespace

UartDialog::UartDialog(HWND owner, std::string configPath)
    : DialogWindow(IDD_UART, owner), ConfigPath(std::move(configPath)) {
  const SettingChoices& choices = SerialSettingChoices();
  FillCombo(Item(IDC_Combo_port), choices.Ports);
  FillCombo(Item(IDC_Combo_BaudRate), choices.BaudRates);
  FillCombo(Item(IDC_Combo_DataBit), choices.DataBits);
  FillCombo(Item(IDC_Combo_Parity), choices.Parities);
  FillCombo(Item(IDC_Combo_StopBit), choices.StopBits);
  FillCombo(Item(IDC_Combo_FlowCtrl), choices.FlowControls);
  // The lists show their initial texts; only parity and stop bits select an item.
  SetText(IDC_Combo_port, L"COM1");
  SetText(IDC_Combo_BaudRate, L"115200");
  SetText(IDC_Combo_DataBit, L"8");
  SelectComboIndex(Item(IDC_Combo_Parity), 0);
  SelectComboIndex(Item(IDC_Combo_StopBit), 0);
  SetText(IDC_Combo_FlowCtrl, L"none");
  LoadUartConfig();
  Remember();
}

void UartDialog::Remember() {
  AtShow[0] = TextOf(IDC_Combo_port);
  AtShow[1] = TextOf(IDC_Combo_BaudRate);
  AtShow[2] = TextOf(IDC_Combo_DataBit);
  AtShowParity = ComboIndex(Item(IDC_Combo_Parity));
  AtShowStop = ComboIndex(Item(IDC_Combo_StopBit));
}

void UartDialog::RefreshPortList() {
  const HWND combo = Item(IDC_Combo_port);
  const std::wstring typed = TextOf(IDC_Combo_port);
  while (::SendMessageW(combo, CB_GETCOUNT, 0, 0) > 8) ::SendMessageW(combo, CB_DELETESTRING, 8, 0);
  FoundPaths.clear();
  for (const FoundPort& port : ScanSerialPorts()) {
    const std::wstring path = WideOfUtf8(port.Path);
    const std::wstring shown = port.Label.empty() ? path : WideOfUtf8(port.Label) + L"  " + path;
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    FoundPaths.push_back(path);
  }
  SetText(IDC_Combo_port, typed);
}

void UartDialog::OnShow() {
  RefreshPortList();
  // A long path shows its start.
  ::SendMessageW(Item(IDC_Combo_port), CB_SETEDITSEL, 0, MAKELPARAM(0, 0));
  Remember();
}

bool UartDialog::OnCommand(int id, int code) {
  if (id == IDC_Combo_port && code == CBN_SELCHANGE) {
    // The box takes the chosen entry's text after this notification; the path replaces it then.
    ::PostMessageW(Handle(), ShowChosenPath, 0, 0);
    return true;
  }
  if (id == IDC_btn_UartSetting_Cancel || id == IDCANCEL) {
    // Cancel, Escape or the close box: what it showed when it opened, unsaved.
    SetText(IDC_Combo_port, AtShow[0]);
    SetText(IDC_Combo_BaudRate, AtShow[1]);
    SetText(IDC_Combo_DataBit, AtShow[2]);
    SelectComboIndex(Item(IDC_Combo_Parity), AtShowParity);
    SelectComboIndex(Item(IDC_Combo_StopBit), AtShowStop);
    Close();
    return true;
  }
  if (id == IDC_btn_UartSetting_OK || id == IDOK) {
    // The technician asked for the settings to be kept: a file that could not be written is said.
    if (SaveUartConfig(true) != 0) ShowMessageBox(Handle(), "Can't write " + ConfigPath);
    Close();
    return true;
  }
  return DialogWindow::OnCommand(id, code);
}

bool UartDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  if (message != ShowChosenPath) return DialogWindow::OnMessage(message, wParam, lParam, result);
  // A found port is shown with its name; choosing it puts its path in the box.
  const int index = ComboIndex(Item(IDC_Combo_port)) - 8;
  if (index >= 0 && index < static_cast<int>(FoundPaths.size()))
    SetText(IDC_Combo_port, FoundPaths[static_cast<size_t>(index)]);
  return true;
}

int UartDialog::SaveUartConfig(bool fromControls) {
  const auto latin1 = [this](int id) { return ExactLatin1(TextOf(id)).value_or("?"); };
  const std::string line =
      fromControls
          ? FormatConfigLine(Utf8OfWide(TextOf(IDC_Combo_port)), latin1(IDC_Combo_BaudRate),
                             latin1(IDC_Combo_DataBit), ComboIndex(Item(IDC_Combo_Parity)),
                             ComboIndex(Item(IDC_Combo_StopBit)))
          : std::string(DefaultConfigLine);
  return WriteConfigFile(ConfigPath, line) ? 0 : 1;
}

int UartDialog::LoadUartConfig() {
  std::string content;
  if (!ReadConfigFile(ConfigPath, content)) {
    SaveUartConfig(false);
    return 1;
  }
  Loaded = ParseConfigLine(content, Loaded);
  SetText(IDC_Combo_port, WideOfEngineText(Loaded.PortName));
  SetText(IDC_Combo_BaudRate, std::to_wstring(Loaded.BaudRate));
  SetText(IDC_Combo_DataBit, std::to_wstring(Loaded.DataBits));
  SelectComboIndex(Item(IDC_Combo_Parity), Loaded.ParityIndex);
  SelectComboIndex(Item(IDC_Combo_StopBit), Loaded.StopBitIndex);
  return 0;
}

PortRequest UartDialog::Request() {
  UartConfig shown;
  // A port's name goes to the system as typed (UTF-8); the numbers as the lists read them.
  shown.PortName = Utf8OfWide(TextOf(IDC_Combo_port));
  shown.BaudRate = ReadDecimalText(TypedNumber(TextOf(IDC_Combo_BaudRate)));
  shown.DataBits = ReadDecimalText(TypedNumber(TextOf(IDC_Combo_DataBit)));
  // With no selection (-1) the port keeps its own.
  shown.ParityIndex = ComboIndex(Item(IDC_Combo_Parity));
  shown.StopBitIndex = ComboIndex(Item(IDC_Combo_StopBit));
  return RequestOf(shown);
}

DlCfgDialog::DlCfgDialog(Core& core, HWND owner) : DialogWindow(IDD_DLCFG, owner), Protocol(core) {
  for (const DlCfgField& field : DlCfgFields()) FieldIds[field.Edit] = IdOf(field.Edit);
}

void DlCfgDialog::SetStatusCaption(const std::string& text) {
  SetText(IDC_Lab_DL_Cfg_Status, WideOfLatin1(text));
}

void DlCfgDialog::SetCommandButtonsEnabled(bool enabled) {
  for (const int id : {IDC_btn_GetDLCfg, IDC_btn_SetDLCfg, IDC_btn_SetDefaultDLCfg})
    Enable(id, enabled);
}

bool DlCfgDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDC_btn_GetDLCfg:
      SetStatusCaption("Status");
      Protocol.GetDlCfg();
      return true;
    case IDC_btn_SetDLCfg: {
      SetStatusCaption("Status");
      std::uint8_t record[DlCfgRecordSize];
      // A text that does not fit its field would reach the box as some other value: nothing
      // goes.
      const std::string problem = PackDLCfgRecord(record);
      if (!problem.empty()) {
        ShowMessageBox(Handle(), problem);
        return true;
      }
      Protocol.SetDlCfg(record);
      return true;
    }
    case IDC_btn_SetDefaultDLCfg:
      SetStatusCaption("Status");
      Protocol.SetDefaultDlCfg();
      return true;
    case IDC_rbtn_Satellite:
    case IDC_rbtn_Cable:
    case IDC_rbtn_Terrestrial:
      // Focus reaching a radio button by the keyboard checks it and says so; only a button
      // that is now checked is a choice.
      if (code == BN_CLICKED && ::IsDlgButtonChecked(Handle(), id) == BST_CHECKED)
        SelectItem(id - IDC_rbtn_Satellite);
      return true;
    default:
      return DialogWindow::OnCommand(id, code);
  }
}

// A change of selection, by a click or by the program, runs the check; choosing the item that
// is already chosen runs nothing.
void DlCfgDialog::SelectItem(int item) {
  ::CheckRadioButton(Handle(), IDC_rbtn_Satellite, IDC_rbtn_Terrestrial, IDC_rbtn_Satellite + item);
  if (item == SelectedItem) return;
  SelectedItem = item;
  const std::string problem =
      DeliveryChoiceProblem(item, TypedNumber(TextOf(IDC_text_DeliveryType)));
  if (!problem.empty()) {
    ShowMessageBox(Handle(), problem);
    return;
  }
  ShowDeliveryGroup(item + 1);
}

void DlCfgDialog::ShowDeliveryGroup(int deliveryType) {
  const int group = DeliveryGroupOf(deliveryType);
  const auto show = [this](int box, bool visible) {
    const int how = visible ? SW_SHOW : SW_HIDE;
    ::ShowWindow(Item(box), how);
    for (const GroupMember& member : GroupMembers)
      if (member.Group == box) ::ShowWindow(Item(member.Control), how);
  };
  // Hidden first: the three boxes share their place.
  for (const int box : {IDC_grpbox_sat, IDC_grpbox_Cable, IDC_grpbox_Ter})
    if (box != (group == 1 ? IDC_grpbox_sat : group == 2 ? IDC_grpbox_Cable : IDC_grpbox_Ter))
      show(box, false);
  show(group == 1 ? IDC_grpbox_sat : group == 2 ? IDC_grpbox_Cable : IDC_grpbox_Ter, true);
}

bool DlCfgDialog::ShowDLCfgRecord(const std::uint8_t* record) {
  std::memcpy(StoredDLCfg.data(), record, DlCfgRecordSize);
  const std::uint8_t deliveryType = record[DlCfgDeliveryTypeOffset];
  // The type is in its edit before the selection changes, because the selection's check reads
  // it; a type outside 1 to 3 shows the terrestrial box and gets the check's message.
  SetText(IDC_text_DeliveryType, std::to_wstring(deliveryType));
  ShowDeliveryGroup(deliveryType);
  SelectItem(DeliveryGroupOf(deliveryType) - 1);
  for (const auto& [edit, text] : ShownTexts(record)) SetText(FieldIds[edit], WideOfLatin1(text));
  return true;
}

std::string DlCfgDialog::PackDLCfgRecord(std::uint8_t* out) {
  const DeliveryLayout layout = LayoutOfDeliveryType(StoredDLCfg[DlCfgDeliveryTypeOffset]);
  DlCfgTexts texts;
  for (const DlCfgField& field : DlCfgFields()) {
    const std::optional<std::string> text = ExactLatin1(TextOf(FieldIds[field.Edit]));
    if (text) {
      texts[field.Edit] = *text;
    } else if (field.Layout == DeliveryLayout::Common || field.Layout == layout) {
      // A character of more than one byte fits no field of the box.
      return FieldAccepts(field);
    }
  }
  return PackRecord(texts, StoredDLCfg.data(), out);
}

TuneDialog::TuneDialog(Core& core, HWND owner) : DialogWindow(IDD_TUNE, owner), Protocol(core) {}

bool TuneDialog::OnCommand(int id, int code) {
  if (id != IDC_Btn_OK && id != IDOK) return DialogWindow::OnCommand(id, code);
  TuneValues values;
  std::string why;
  if (!ReadTuneTexts(TypedNumber(TextOf(IDC_Edt_Frequency)), TypedNumber(TextOf(IDC_Edt_Bandwidth)),
                     values, why)) {
    ShowMessageBox(Handle(), why);
    return true;
  }
  Protocol.TuneTest(values.FrequencyKHz, values.Bandwidth);
  return true;
}

FlashDialog::FlashDialog(Core& core, HWND owner) : DialogWindow(IDD_FLASH, owner), Protocol(core) {}

bool FlashDialog::TypedRange(FlashRange& range) {
  std::string why;
  if (ReadFlashRangeTexts(TypedNumber(TextOf(IDC_Edt_StartAddr)),
                          TypedNumber(TextOf(IDC_Edt_Offset)), range, why))
    return true;
  ShowMessageBox(Handle(), why);
  return false;
}

bool FlashDialog::OnCommand(int id, int code) {
  FlashRange range;
  if (id == IDC_Btn_EraseFlashOK) {
    if (TypedRange(range)) Protocol.EraseFlash(range.Start, range.Size);
    return true;
  }
  if (id == IDC_Btn_ReadFlash) {
    if (TypedRange(range)) Protocol.ReadFlash(range.Start, range.Size);
    return true;
  }
  return DialogWindow::OnCommand(id, code);
}
