#include "platform/PortScan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// "usb-FTDI_FT232R_USB_UART_A601XYZ-if00-port0" reads "FTDI FT232R USB UART A601XYZ".
std::string AdapterName(std::string link) {
  for (const char* bus : {"usb-", "pci-", "platform-"})
    if (link.rfind(bus, 0) == 0) {
      link.erase(0, std::char_traits<char>::length(bus));
      break;
    }
  const auto iface = link.rfind("-if");
  if (iface != std::string::npos) link.erase(iface);
  std::replace(link.begin(), link.end(), '_', ' ');
  return link;
}

// ttyUSB10 after ttyUSB9: by the number after the prefix, compared as digits so that any
// name a driver makes up sorts, however long its number; a name without one comes first.
bool ByNumber(const std::string& a, const std::string& b) {
  auto number = [](const std::string& name) {
    std::size_t i = name.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1]))) --i;
    const std::size_t digits = i;
    while (i + 1 < name.size() && name[i] == '0') ++i;
    return std::make_tuple(digits < name.size(), name.size() - i, name.substr(i), name);
  };
  return number(a) < number(b);
}

std::vector<std::string> DevicesStartingWith(const fs::path& dev, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dev, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > prefix.size() && name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), ByNumber);
  return names;
}

// The kernel makes ttyS0 to ttyS31 whether or not a UART answers at their addresses; only a
// port whose UART type the serial core recognised (not PORT_UNKNOWN, 0) can carry a line.
bool HasUart(const fs::path& sysTty) {
  std::error_code ec;
  if (!fs::exists(sysTty / "device", ec)) return false;
  std::ifstream typeFile(sysTty / "type");
  if (!typeFile) return true;  // a driver without the attribute only exists for real hardware
  int type = 0;
  typeFile >> type;
  return type != 0;
}

}  // namespace

std::vector<FoundPort> ScanSerialPorts(const std::string& root) {
  const fs::path base(root);
  const fs::path dev = base / "dev";
  std::vector<FoundPort> found;
  std::error_code ec;

  std::vector<std::string> links;
  for (fs::directory_iterator it(dev / "serial" / "by-id", ec), end; !ec && it != end;
       it.increment(ec))
    links.push_back(it->path().filename().string());
  std::sort(links.begin(), links.end());
  for (const std::string& link : links)
    found.push_back({"/dev/serial/by-id/" + link, AdapterName(link)});

  for (const char* prefix : {"ttyUSB", "ttyACM"})
    for (const std::string& name : DevicesStartingWith(dev, prefix))
      found.push_back({"/dev/" + name, ""});
  for (const std::string& name : DevicesStartingWith(dev, "ttyS"))
    if (HasUart(base / "sys" / "class" / "tty" / name)) found.push_back({"/dev/" + name, ""});
  return found;
}

namespace {

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

struct NodeId {
  dev_t Device;
  ino_t Inode;
  bool operator==(const NodeId&) const = default;
};

bool IdOf(const fs::path& path, NodeId& id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

// Who has each of the nodes open, as proc/PID/fd/ shows it. The folders of another user's
// programs cannot be read: false when any program could not be looked at, so that a port no one
// was seen holding may still be held.
bool FindHolders(const fs::path& proc, std::vector<ListedPort>& ports,
                 const std::vector<NodeId>& ids, const std::vector<bool>& known) {
  const std::string self = std::to_string(::getpid());
  bool everyOneSeen = true;
  std::error_code ec;
  for (fs::directory_iterator it(proc, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string pid = it->path().filename().string();
    if (!AllDigits(pid) || pid == self) continue;
    std::error_code fdError;
    fs::directory_iterator fd(it->path() / "fd", fdError);
    // A program that ended meanwhile holds nothing; any other refusal hides what it holds.
    if (fdError && fdError != std::errc::no_such_file_or_directory &&
        fdError != std::errc::no_such_process)
      everyOneSeen = false;
    for (fs::directory_iterator fdEnd; !fdError && fd != fdEnd; fd.increment(fdError)) {
      NodeId open{};
      if (!IdOf(fd->path(), open)) continue;
      for (std::size_t i = 0; i < ports.size(); ++i) {
        if (!known[i] || !(ids[i] == open) || !ports[i].Holder.empty()) continue;
        ports[i].Holder = FirstLine(it->path() / "comm");
        if (ports[i].Holder.empty()) ports[i].Holder = "?";
        ports[i].HolderPid = std::strtol(pid.c_str(), nullptr, 10);
      }
    }
  }
  return everyOneSeen;
}

}  // namespace

std::vector<ListedPort> ListSerialPorts(const std::string& root) {
  const fs::path base(root);
  std::vector<ListedPort> ports;
  std::vector<fs::path> nodes;  // where each port's name leads, to tell two names of one port
  const auto resolved = [&](const std::string& path) {
    std::error_code error;
    const fs::path real = fs::canonical(base / fs::path(path).relative_path(), error);
    return error ? base / fs::path(path).relative_path() : real;
  };
  std::vector<FoundPort> byId;
  for (const FoundPort& found : ScanSerialPorts(root)) {
    if (found.Path.rfind("/dev/serial/by-id/", 0) == 0) {
      byId.push_back(found);
      continue;
    }
    ListedPort port;
    port.Path = found.Path;
    port.Label = found.Label;
    ports.push_back(port);
    nodes.push_back(resolved(found.Path));
  }
  // A by-id name gives its adapter's name to the node it leads to; one that leads elsewhere
  // (a kind of node not scanned for) is a port of its own.
  for (const FoundPort& link : byId) {
    const fs::path node = resolved(link.Path);
    const auto at = std::find(nodes.begin(), nodes.end(), node);
    if (at != nodes.end()) {
      ListedPort& port = ports[static_cast<std::size_t>(at - nodes.begin())];
      if (port.ById.empty()) {
        port.ById = link.Path;
        port.Label = link.Label;
      }
      continue;
    }
    ListedPort port;
    port.Path = link.Path;
    port.Label = link.Label;
    port.ById = link.Path;
    ports.push_back(port);
    nodes.push_back(node);
  }
  const fs::path proc = base / "proc";
  std::error_code ec;
  const bool procSeen = fs::is_directory(proc, ec);
  std::vector<NodeId> ids(ports.size());
  std::vector<bool> known(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    known[i] = procSeen && IdOf(nodes[i], ids[i]);
    ports[i].HolderKnown = known[i];
  }
  if (!FindHolders(proc, ports, ids, known))
    for (ListedPort& port : ports)
      if (port.Holder.empty()) port.HolderKnown = false;
  return ports;
}

std::string UsbAdapterOf(const std::string& name, const std::string& root) {
  if (name.empty()) return {};
  const fs::path sys = fs::path(root) / "sys";
  std::error_code ec;
  fs::path dir = fs::canonical(sys / "class" / "tty" / name / "device", ec);
  if (ec) return {};
  // usb-serial gives each port of a multi-port adapter a device of its own; cdc-acm does not.
  const std::string port = FirstLine(dir / "port_number");
  std::string iface;
  const fs::path top = fs::canonical(sys, ec);
  for (; !ec && dir.has_relative_path() && dir != top; dir = dir.parent_path()) {
    if (iface.empty() && fs::exists(dir / "bInterfaceNumber", ec))
      iface = FirstLine(dir / "bInterfaceNumber");
    if (!fs::exists(dir / "idVendor", ec)) continue;
    // Without a serial number only the socket tells two adapters of one make apart.
    const std::string serial = FirstLine(dir / "serial");
    return FirstLine(dir / "idVendor") + ":" + FirstLine(dir / "idProduct") +
           (serial.empty() ? " in socket " + dir.filename().string() : " serial " + serial) +
           " interface " + iface + " port " + port;
  }
  return {};
}

std::string FindUsbAdapter(const std::string& adapter, const std::string& root) {
  if (adapter.empty()) return {};
  std::string found;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(root) / "sys" / "class" / "tty", ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (UsbAdapterOf(name, root) != adapter) continue;
    if (!found.empty()) return {};  // two of a kind: which one is ours cannot be told
    found = "/dev/" + name;
  }
  return found;
}

std::string FollowableUsbAdapter(const std::string& name, const std::string& root) {
  const std::string adapter = UsbAdapterOf(name, root);
  return FindUsbAdapter(adapter, root) == "/dev/" + name ? adapter : std::string();
}
