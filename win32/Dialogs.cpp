#include "win32/Dialogs.h"

#include <algorithm>

#include "engine/Core.h"
#include "platform/PortScan.h"
#include "win32/ControlIds.h"
#include "win32/WideText.h"
#include "window/WindowRules.h"

namespace {

void FillCombo(HWND combo, const std::vector<std::string>& items) {
  for (const std::string& item : items)
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideOfUtf8(item).c_str()));
}

constexpr UINT ShowChosenPath = WM_APP + 2;

}  // namespace

UartDialog::UartDialog(HWND owner, std::string configPath)
    : DialogWindow(IDD_UART, owner), Rules(Controls, std::move(configPath)) {
  const SettingChoices& choices = SerialSettingChoices();
  FillCombo(Item(IDC_Combo_port), choices.Ports);
  FillCombo(Item(IDC_Combo_BaudRate), choices.BaudRates);
  FillCombo(Item(IDC_Combo_DataBit), choices.DataBits);
  FillCombo(Item(IDC_Combo_Parity), choices.Parities);
  FillCombo(Item(IDC_Combo_StopBit), choices.StopBits);
  FillCombo(Item(IDC_Combo_FlowCtrl), choices.FlowControls);
  Rules.ShowDefaults();
  Rules.Load();
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
  Rules.Opened();
}

bool UartDialog::OnCommand(int id, int code) {
  if (id == IDC_Combo_port && code == CBN_SELCHANGE) {
    // The box takes the chosen entry's text after this notification; the path replaces it then.
    ::PostMessageW(Handle(), ShowChosenPath, 0, 0);
    return true;
  }
  if (id == IDC_btn_UartSetting_Cancel || id == IDCANCEL) {
    Rules.Cancelled();
    Close();
    return true;
  }
  if (id == IDC_btn_UartSetting_OK || id == IDOK) {
    Rules.OkClicked();
    Close();
    return true;
  }
  return DialogWindow::OnCommand(id, code);
}

bool UartDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  if (message != ShowChosenPath) return DialogWindow::OnMessage(message, wParam, lParam, result);
  // A found port is shown with its name; choosing it puts its path in the box.
  const int index = Controls.Chosen("Combo_port") - 8;
  if (index >= 0 && index < static_cast<int>(FoundPaths.size()))
    SetText(IDC_Combo_port, FoundPaths[static_cast<size_t>(index)]);
  return true;
}

DlCfgDialog::DlCfgDialog(Core& core, HWND owner)
    : DialogWindow(IDD_DLCFG, owner), Rules(core, Controls) {}

void DlCfgDialog::ShowDLCfgRecord(const std::uint8_t* record) {
  std::array<std::uint8_t, DlCfgRecordSize> whole{};
  std::copy(record, record + DlCfgRecordSize, whole.begin());
  Rules.Show(whole);
}

bool DlCfgDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDC_btn_GetDLCfg:
      Rules.GetClicked();
      return true;
    case IDC_btn_SetDLCfg:
      Rules.SetClicked();
      return true;
    case IDC_btn_SetDefaultDLCfg:
      Rules.DefaultClicked();
      return true;
    case IDC_rbtn_Satellite:
    case IDC_rbtn_Cable:
    case IDC_rbtn_Terrestrial:
      // Focus reaching a radio button by the keyboard checks it and says so; only a button
      // that is now checked is a choice.
      if (code == BN_CLICKED && ::IsDlgButtonChecked(Handle(), id) == BST_CHECKED)
        Rules.ItemChosen(id - IDC_rbtn_Satellite);
      return true;
    default:
      return DialogWindow::OnCommand(id, code);
  }
}

TuneDialog::TuneDialog(Core& core, HWND owner) : DialogWindow(IDD_TUNE, owner), Protocol(core) {}

bool TuneDialog::OnCommand(int id, int code) {
  if (id != IDC_Btn_OK && id != IDOK) return DialogWindow::OnCommand(id, code);
  TuneClicked(Protocol, Controls, Record);
  return true;
}

FlashDialog::FlashDialog(Core& core, HWND owner) : DialogWindow(IDD_FLASH, owner), Protocol(core) {}

bool FlashDialog::OnCommand(int id, int code) {
  if (id == IDC_Btn_EraseFlashOK) {
    FlashClicked(Protocol, Controls, FlashWork::Erase, Record);
    return true;
  }
  if (id == IDC_Btn_ReadFlash) {
    FlashClicked(Protocol, Controls, FlashWork::Read, Record);
    return true;
  }
  return DialogWindow::OnCommand(id, code);
}
