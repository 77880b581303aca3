#include "cli/PortList.h"

#include <algorithm>
#include <filesystem>

#include "cli/Reporter.h"
#include "platform/Files.h"
#include "platform/SerialPort.h"

namespace {

std::string HolderText(const ListedPort& port) {
  // Not every program could be looked at (another user's, as a user who is not root).
  if (!port.HolderKnown) return "unknown";
  if (port.Holder.empty()) return "free";
  return "held by " + port.Holder + " (pid " + std::to_string(port.HolderPid) + ")";
}

}  // namespace

std::string PortListText(const std::vector<ListedPort>& ports, bool json) {
  std::string text;
  if (json) {
    for (const ListedPort& port : ports) {
      text += "{\"path\": " + JsonString(port.Path) + ", \"name\": " + JsonString(port.Label) +
              ", \"by_id\": " + JsonString(port.ById);
      if (!port.HolderKnown)
        text += ", \"held\": null";
      else if (port.Holder.empty())
        text += ", \"held\": false";
      else
        text += ", \"held\": true, \"holder\": " + JsonString(port.Holder) +
                ", \"pid\": " + std::to_string(port.HolderPid);
      text += "}\n";
    }
    return text;
  }
  std::size_t pathWidth = 0;
  std::size_t labelWidth = 1;
  for (const ListedPort& port : ports) {
    pathWidth = std::max(pathWidth, port.Path.size());
    labelWidth = std::max(labelWidth, port.Label.size());
  }
  for (const ListedPort& port : ports) {
    std::string line = port.Path;
    line.resize(pathWidth + 2, ' ');
    std::string label = port.Label.empty() ? "-" : port.Label;
    const std::string holder = HolderText(port);
    if (!holder.empty()) label.resize(labelWidth + 2, ' ');
    text += TerminalSystemText(line + label + holder) + "\n";
  }
  return text;
}

std::string RecordedPort(const std::string& name) {
  return SerialPort::LastingName(name);
}
