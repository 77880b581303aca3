#include "platform/InputLines.h"

#include <deque>
#include <mutex>
#include <thread>

#include "platform/ThreadName.h"

struct InputLines::Shared {
  std::mutex Mutex;
  std::deque<Line> Lines;
  bool Open = true;
};

InputLines::InputLines() : State(std::make_shared<Shared>()) {}

InputLines::~InputLines() = default;

void InputLines::Start() {
  Started = true;
  std::thread reader([state = State] {
    const bool terminal = StandardInputIsTerminal();
    std::string partial;
    char buffer[512];
    for (;;) {
      const int n = ReadStandardInput(buffer, sizeof buffer);
      std::lock_guard lock(state->Mutex);
      if (n > 0) {
        for (int i = 0; i < n; ++i) {
          if (buffer[i] != '\n') {
            partial += buffer[i];
            continue;
          }
          // A Windows console and many scanners end a line with CR LF.
          if (!partial.empty() && partial.back() == '\r') partial.pop_back();
          state->Lines.push_back({std::move(partial), false});
          partial.clear();
        }
        continue;
      }
      if (!partial.empty()) state->Lines.push_back({std::move(partial), false});
      partial.clear();
      if (n == 0) state->Lines.push_back({{}, true});
      // A terminal takes more typing after Ctrl+D; a file or pipe that ended has no more.
      if (n < 0 || !terminal) {
        state->Open = false;
        return;
      }
    }
  });
  NameThread(reader, "kelvarin-input");
  reader.detach();
}

std::optional<InputLines::Line> InputLines::Next() {
  if (!Started) Start();
  std::lock_guard lock(State->Mutex);
  if (State->Lines.empty()) return std::nullopt;
  Line line = std::move(State->Lines.front());
  State->Lines.pop_front();
  return line;
}

bool InputLines::Open() {
  if (!Started) Start();
  std::lock_guard lock(State->Mutex);
  return State->Open || !State->Lines.empty();
}
