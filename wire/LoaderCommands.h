#pragma once

#include <cstdint>
#include <span>

// The loader commands that the box settles with a status word, one row each: the words on the
// line, the text each outcome shows, and where. The tool's reply handling, the command line's
// verdicts and the simulated box's answers all take them from here, so that a new command is a
// new row and a changed text changes everywhere at once.
struct LoaderCommand {
  std::uint32_t Word;     // the command word (Cmd::)
  std::uint32_t OkReply;  // 0: the box says no word when it succeeds (run-app starts the app)
  std::uint32_t FailReply;
  const char* OkText;  // the outcomes as the window shows them
  const char* FailText;
  bool InLog;      // the texts go to the message log...
  bool InCaption;  // ...and to the configuration dialog's status caption
};

std::span<const LoaderCommand> LoaderCommands();
// The row a reply word settles, or nullptr for a word that settles no command.
const LoaderCommand* CommandSettledBy(std::uint32_t reply);
// The row of a command word, or nullptr for a command without a status word of its own.
const LoaderCommand* LoaderCommandOf(std::uint32_t word);
