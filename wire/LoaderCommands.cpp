#include "wire/LoaderCommands.h"

#include <cstring>

#include "wire/Words.h"

namespace {

constexpr LoaderCommand Commands[] = {
    {.Word = Cmd::VerifyBoot,
     .OkReply = Reply::VerifyBootOk,
     .FailReply = Reply::VerifyBootFail,
     .OkText = "Verify boot code ok",
     .FailText = "Verify boot code fail",
     .InLog = true,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = true,
     .OneWord = true,
     .CliName = "verify-boot",
     .Summary = "the box checks its boot code",
     .Help = "Sends the loader command \"Verify Boot Code\": the box checks its boot code."},
    {.Word = Cmd::VerifyApp,
     .OkReply = Reply::VerifyAppOk,
     .FailReply = Reply::VerifyAppFail,
     .OkText = "Verify App ok",
     .FailText = "Verify App fail",
     .InLog = true,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = true,
     .OneWord = true,
     .CliName = "verify-app",
     .Summary = "the box checks its application",
     .Help = "Sends the loader command \"Verify App\": the box checks its application."},
    {.Word = Cmd::RunApp,
     .OkReply = 0,
     .FailReply = Reply::RunAppFail,
     .OkText = nullptr,
     .FailText = "Run App fail",
     .InLog = true,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = true,
     .OneWord = false,
     .CliName = "run-app",
     .Summary = "the box starts its application",
     .Help = "Sends the loader command \"Run App\" and waits 1 s for a refusal."},
    {.Word = Cmd::SetDlCfg,
     .OkReply = Reply::SetDlCfgOk,
     .FailReply = Reply::SetDlCfgFail,
     .OkText = "Set DL CFG OK",
     .FailText = "Set DL CFG Fail",
     .InLog = false,
     .OutcomeIsRecordStatus = true,
     .WaitsForAnswer = true,
     .OneWord = false,
     .CliName = "config set",
     .Summary = nullptr,
     .Help = nullptr},
    {.Word = Cmd::SetDefaultDlCfg,
     .OkReply = Reply::SetDefaultOk,
     .FailReply = Reply::SetDefaultFail,
     .OkText = "Set default CFG ok",
     .FailText = "Set default CFG fail",
     .InLog = true,
     .OutcomeIsRecordStatus = true,
     .WaitsForAnswer = true,
     .OneWord = false,
     .CliName = "config default",
     .Summary = nullptr,
     .Help = nullptr},
    {.Word = Cmd::TuneTest,
     .OkReply = Reply::TuneOk,
     .FailReply = Reply::TuneFail,
     .OkText = "Tune test ok",
     .FailText = "Tune test fail",
     .InLog = true,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = false,
     .OneWord = false,
     .CliName = "tune",
     .Summary = "runs the tuning test (decimal numbers)",
     .Help = "Runs the box's tuning test at FREQ_KHZ with BANDWIDTH, both decimal."},
    {.Word = Cmd::EraseFlash,
     .OkReply = Reply::EraseOk,
     .FailReply = Reply::EraseFail,
     .OkText = "ERASE OK",
     .FailText = "ERASE fail",
     .InLog = true,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = false,
     .OneWord = false,
     .CliName = "erase",
     .Summary = "erases SIZE bytes of flash from START (hexadecimal)",
     .Help = "Erases SIZE bytes of flash from START, both hexadecimal, as the flash dialog does."},
    {.Word = Cmd::LoaderVersion,
     .OkReply = 0,
     .FailReply = 0,
     .OkText = nullptr,
     .FailText = nullptr,
     .InLog = false,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = true,
     .OneWord = false,
     .CliName = "version",
     .Summary = "prints the loader version as the window shows it (\"1.10\")",
     .Help = "Prints the loader version as the window shows it, such as \"1.10\", on a line of "
             "its own; with several ports, PORT: VERSION."},
    {.Word = Cmd::GetDlCfg,
     .OkReply = 0,
     .FailReply = 0,
     .OkText = nullptr,
     .FailText = nullptr,
     .InLog = false,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = true,
     .OneWord = false,
     .CliName = "config get",
     .Summary = nullptr,
     .Help = nullptr},
    {.Word = Cmd::RebootStb,
     .OkReply = 0,
     .FailReply = 0,
     .OkText = nullptr,
     .FailText = nullptr,
     .InLog = false,
     .OutcomeIsRecordStatus = false,
     .WaitsForAnswer = false,
     .OneWord = false,
     .CliName = "reboot",
     .Summary = "the box reboots",
     .Help = "Sends the loader command \"Reboot STB\"; done once the command is out on the "
             "line."},
};

}  // namespace

std::span<const LoaderCommand> LoaderCommands() {
  return Commands;
}

const LoaderCommand* CommandSettledBy(std::uint32_t reply) {
  if (reply == 0) return nullptr;
  for (const LoaderCommand& command : Commands)
    if (reply == command.OkReply || reply == command.FailReply) return &command;
  return nullptr;
}

const LoaderCommand* LoaderCommandOf(std::uint32_t word) {
  for (const LoaderCommand& command : Commands)
    if (command.Word == word) return &command;
  return nullptr;
}

const LoaderCommand* LoaderCommandNamed(const char* cliName) {
  for (const LoaderCommand& command : Commands)
    if (command.CliName != nullptr && std::strcmp(command.CliName, cliName) == 0) return &command;
  return nullptr;
}
