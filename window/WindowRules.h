#pragma once

#include <string>
#include <vector>

#include "engine/Core.h"

// What the window does with what the technician hands it, and what it says of itself: the same
// for every face.

// The log keeps this many lines; older ones go.
inline constexpr int MaxLogLines = 100000;

// Whether dropping these files on the window starts an upload: exactly one, a regular file
// (paths of the system), and the engine where a press of "Upload Code" would start one:
// ready for a command, no upload under way.
bool DropStartsUpload(const std::vector<std::string>& paths, const Core& engine,
                      bool commandsEnabled);

// Help > About, below the window's title: the version, what the tool is, and where config.cfg
// and flashdata.bin are (the folder as the system writes it).
std::vector<std::string> AboutLines(const std::string& version, const std::string& folder);

// The folder a window started from the desktop's menu works in: Kelvarin below base (the home
// folder on Linux, Documents on Windows; names in the system's UTF-8).
std::string MenuFolder(const std::string& base);
// Makes the menu folder on first start and works in it from now on; "" on success, otherwise
// the message for the technician (the program then stays in the folder it was started in).
std::string EnterMenuFolder(const std::string& base);

// Which controls work once the command controls are switched on or off: every command button
// and the command entry follow `enabled`; the upload button stays the way out of a running
// upload ("Stop"); Disconnect ends any work, so it works whenever the port is open; the
// serial settings wait until no command can run.
struct ControlSet {
  bool Commands = false;
  bool Upload = false;
  bool Disconnect = false;
  bool Setting = false;
};
ControlSet ControlsFor(const Core& engine, bool commandsEnabled);

// "hh:mm:ss.zzz " in front of a log line when the log's timestamps are on.
std::string TimestampText(int hour, int minute, int second, int millisecond);

// The serial settings dialog's lists, as it offers them; the port's list grows by the ports
// the system has.
struct SettingChoices {
  std::vector<std::string> Ports, BaudRates, DataBits, Parities, StopBits, FlowControls;
};
const SettingChoices& SerialSettingChoices();
// Why the flow control list is read by nothing.
inline constexpr const char* FlowControlNote =
    "The line always runs without flow control: the box's loader uses no handshake lines, "
    "and Xon/Xoff would take bytes of the binary data for flow commands.";

// The record's delivery group to show for a delivery type: 1 satellite, 2 cable, 3 terrestrial
// (any other type shows the terrestrial one).
int DeliveryGroupOf(int deliveryType);
// Choosing a delivery item (0 satellite, 1 cable, 2 terrestrial) must agree with the type in
// its edit; the message when it does not, else "".
std::string DeliveryChoiceProblem(int item, const std::string& typedType);
