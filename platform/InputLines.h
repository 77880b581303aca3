#pragma once

#include <memory>
#include <optional>
#include <string>

// The lines the operator types on standard input, or a barcode scanner types for them: read on
// a thread of their own from the first call on, so that the station never waits on the
// keyboard, and taken when wanted.
class InputLines {
 public:
  struct Line {
    std::string Text;    // UTF-8, without its line end
    bool Ended = false;  // no text: the input ended (Ctrl+D; Ctrl+Z then Enter on Windows)
  };

  InputLines();
  // A read in progress is left to the end of the process: nothing can end it portably.
  ~InputLines();
  InputLines(const InputLines&) = delete;
  InputLines& operator=(const InputLines&) = delete;

  // The next line typed, if one waits.
  std::optional<Line> Next();
  // False once no line can come any more (a file or pipe at its end, a read that failed); a
  // terminal's Ctrl+D ends one line's typing, not the terminal.
  bool Open();

 private:
  struct Shared;
  std::shared_ptr<Shared> State;
  bool Started = false;
  void Start();
};

// The system's part: one read of standard input (bytes read, 0 at its end, -1 on failure), in
// UTF-8; and whether it is a terminal.
int ReadStandardInput(char* buffer, int size);
bool StandardInputIsTerminal();
