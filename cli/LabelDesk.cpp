#include "cli/LabelDesk.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::size_t LongestLabel = 128;

}  // namespace

std::string CleanLabel(const std::string& typed) {
  std::string label;
  for (const char c : typed)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) label += c;
  const std::size_t first = label.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  label = label.substr(first, label.find_last_not_of(' ') - first + 1);
  if (label.size() > LongestLabel) {
    // Cut where a character begins, so that the label stays whole UTF-8.
    std::size_t end = LongestLabel;
    while (end > 0 && (static_cast<unsigned char>(label[end]) & 0xC0) == 0x80) --end;
    label.resize(end);
  }
  return label;
}

LabelDesk::LabelDesk(InputLines& input, std::function<void(const std::string&)> ask,
                     std::function<void()> answered)
    : Input(input), Say(std::move(ask)), Answered(std::move(answered)) {}

void LabelDesk::Ask(const void* who, const std::string& port, int box, Answer answer) {
  Waiting.push_back({who, port, box, std::move(answer)});
  Poll();
}

void LabelDesk::Withdraw(const void* who) {
  const auto it =
      std::find_if(Waiting.begin(), Waiting.end(), [who](const Asking& a) { return a.Who == who; });
  if (it == Waiting.end()) return;
  if (it == Waiting.begin() && Prompted) {
    Answered();
    Say(it->Port + " box " + std::to_string(it->Box) + ": gone, no label wanted");
    Answered();
    Prompted = false;
  }
  Waiting.erase(it);
  Poll();
}

void LabelDesk::Prompt() {
  const Asking& head = Waiting.front();
  Say(head.Port + " box " + std::to_string(head.Box) +
      ": label? (scan or type it, then Enter; an empty line: none)");
  Prompted = true;
}

void LabelDesk::Poll() {
  while (!Waiting.empty()) {
    if (!Prompted) Prompt();
    std::string label;
    if (std::optional<InputLines::Line> line = Input.Next()) {
      if (!line->Ended) label = CleanLabel(line->Text);
    } else if (Input.Open()) {
      return;
    }
    // A line came, or none ever will: the box at the head has its answer.
    Asking head = std::move(Waiting.front());
    Waiting.pop_front();
    Prompted = false;
    Answered();
    head.Give(label);
  }
}
