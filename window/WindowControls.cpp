#include "window/WindowControls.h"

#include "wire/Words.h"

namespace {

constexpr WindowControl Controls[] = {
    {"tbtn_UartConnect", WindowAction::Connect},
    {"tbtn_UartDisconnect", WindowAction::Disconnect},
    {"tbtn_Setting", WindowAction::Setting},
    {"tbtn_Service", WindowAction::Service},
    {"tbtn_Help", WindowAction::Help},
    {"tbtn_Record", WindowAction::RecordView},
    {"text_Label", WindowAction::Label},
    {"btn_UpdateCode", WindowAction::Upload},
    {"btn_CmdLoadVer", WindowAction::LoaderVersion, Cmd::LoaderVersion, true, true},
    {"btn_CmdEraseFlash", WindowAction::FlashDialog, 0, true, true},
    {"btn_CmdVerifyBootCode", WindowAction::LoaderWord, Cmd::VerifyBoot, true, true},
    {"btn_CmdVerifyApp", WindowAction::LoaderWord, Cmd::VerifyApp, true, true},
    {"btn_CmdRunApp", WindowAction::LoaderWord, Cmd::RunApp, true, true},
    {"btn_CmdTuneTest", WindowAction::TuneDialog, 0, true, true},
    {"btn_CmdRebootSTB", WindowAction::Reboot, Cmd::RebootStb, true, true},
    {"Btn_DL_Cfg", WindowAction::ConfigDialog, 0, true, true},
    {"text_Cmd", WindowAction::Entry, 0, false, true},
    {"btn_SendCmd", WindowAction::Send, 0, false, true},
};

}  // namespace

std::span<const WindowControl> WindowControls() {
  return Controls;
}

bool WindowSends(std::uint32_t word) {
  for (const WindowControl& control : Controls)
    if (control.Word != 0 && control.Word == word) return true;
  // The dialogs' buttons: the configuration record's three, the tuning test, the flash erase.
  for (const std::uint32_t dialogs :
       {Cmd::GetDlCfg, Cmd::SetDlCfg, Cmd::SetDefaultDlCfg, Cmd::TuneTest, Cmd::EraseFlash})
    if (dialogs == word) return true;
  return false;
}

const WindowControl* WindowControlNamed(std::string_view name) {
  for (const WindowControl& control : Controls)
    if (name == control.Name) return &control;
  return nullptr;
}
