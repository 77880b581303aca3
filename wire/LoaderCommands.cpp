#include "wire/LoaderCommands.h"

#include "wire/Words.h"

namespace {

constexpr LoaderCommand Commands[] = {
    {Cmd::VerifyBoot, Reply::VerifyBootOk, Reply::VerifyBootFail, "Verify boot code ok",
     "Verify boot code fail", true, false},
    {Cmd::VerifyApp, Reply::VerifyAppOk, Reply::VerifyAppFail, "Verify App ok", "Verify App fail",
     true, false},
    {Cmd::RunApp, 0, Reply::RunAppFail, nullptr, "Run App fail", true, false},
    {Cmd::SetDlCfg, Reply::SetDlCfgOk, Reply::SetDlCfgFail, "Set DL CFG OK", "Set DL CFG Fail",
     false, true},
    {Cmd::SetDefaultDlCfg, Reply::SetDefaultOk, Reply::SetDefaultFail, "Set default CFG ok",
     "Set default CFG fail", true, true},
    {Cmd::TuneTest, Reply::TuneOk, Reply::TuneFail, "Tune test ok", "Tune test fail", true, false},
    {Cmd::EraseFlash, Reply::EraseOk, Reply::EraseFail, "ERASE OK", "ERASE fail", true, false},
};

}  // namespace

std::span<const LoaderCommand> LoaderCommands() {
  return Commands;
}

const LoaderCommand* CommandSettledBy(std::uint32_t reply) {
  for (const LoaderCommand& command : Commands)
    if ((command.OkReply != 0 && reply == command.OkReply) || reply == command.FailReply)
      return &command;
  return nullptr;
}

const LoaderCommand* LoaderCommandOf(std::uint32_t word) {
  for (const LoaderCommand& command : Commands)
    if (command.Word == word) return &command;
  return nullptr;
}
