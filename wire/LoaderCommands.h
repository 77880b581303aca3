#pragma once

#include <cstdint>
#include <span>

// The loader's commands, one row each: the words on the line, the text each outcome shows and
// where, whether an answer is awaited, and the command line's name and help for it. The tool's
// reply handling, the command line's verdicts and help, and the simulated box's answers all
// take them from here, so that a new command is a new row and a changed text changes
// everywhere at once.
struct LoaderCommand {
  std::uint32_t Word;  // the command word (Cmd::)
  // The status words that settle it; 0: none (run-app starts the app without a word; a command
  // answered with data, or not at all, has neither).
  std::uint32_t OkReply;
  std::uint32_t FailReply;
  const char* OkText;  // the outcomes as the message log shows them
  const char* FailText;
  bool InLog;                  // the texts go to the message log...
  bool OutcomeIsRecordStatus;  // ...and are the configuration record's status
  bool WaitsForAnswer;         // the reply time-out runs from the moment it is sent
  // The command is its word alone and its status words settle it: the command line takes it
  // as CliName with no arguments, the simulated box answers it, with nothing more of theirs.
  bool OneWord;
  const char* CliName;  // kelvarin-cli's command for it; nullptr: none of its own
  const char* Summary;  // the command line's help: one line...
  const char* Help;     // ...and the command's own
};

std::span<const LoaderCommand> LoaderCommands();
// The row a status word settles, or nullptr for a word that settles no command.
const LoaderCommand* CommandSettledBy(std::uint32_t reply);
// The row of a command word, or nullptr for a word that is no loader command.
const LoaderCommand* LoaderCommandOf(std::uint32_t word);
// The row of kelvarin-cli's command name ("verify-boot", "config set"), or nullptr.
const LoaderCommand* LoaderCommandNamed(const char* cliName);
