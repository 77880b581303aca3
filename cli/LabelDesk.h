#pragma once

#include <deque>
#include <functional>
#include <string>

#include "platform/InputLines.h"

// Asks the operator for each box's label before its work, one box at a time in the order they
// arrive: the prompt names the port, and the line typed or scanned goes to the box asked for.
// Runs on the protocol thread.
class LabelDesk {
 public:
  // The label given, cleaned; empty when the operator skipped it (an empty line, Ctrl+D).
  using Answer = std::function<void(const std::string& label)>;
  // ask: shows the operator the question, whatever else the output is told to leave out;
  // answered: the question shown last has its answer, or is taken back.
  LabelDesk(InputLines& input, std::function<void(const std::string&)> ask,
            std::function<void()> answered);

  // who: the port's job, by which it withdraws.
  void Ask(const void* who, const std::string& port, int box, Answer answer);
  // The job waits no longer (its box went, the station stops): a prompt shown for it is taken
  // back, so that the next line typed is not given to the wrong box.
  void Withdraw(const void* who);
  // Hands the lines typed to the boxes waiting, and prompts for the next.
  void Poll();

 private:
  struct Asking {
    const void* Who;
    std::string Port;
    int Box;
    Answer Give;
  };
  void Prompt();

  InputLines& Input;
  std::function<void(const std::string&)> Say;
  std::function<void()> Answered;
  std::deque<Asking> Waiting;
  bool Prompted = false;
};

// What a label typed or scanned is kept as: no control characters or spaces at its ends, at most
// 128 bytes (a longer line is no label; a scanner's misread).
std::string CleanLabel(const std::string& typed);
