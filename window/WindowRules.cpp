#include "window/WindowRules.h"

#include <cstdio>
#include <filesystem>

#include "link/NumberText.h"
#include "platform/Files.h"

bool DropStartsUpload(const std::vector<std::string>& paths, const Core& engine,
                      bool commandsEnabled) {
  if (paths.size() != 1) return false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(SystemPath(paths.front()), error)) return false;
  return engine.Connected() && commandsEnabled &&
         engine.Progress().What != Core::WorkProgress::Job::Upload;
}

std::vector<std::string> AboutLines(const std::string& version, const std::string& folder) {
  return {"Version " + version, "Service tool for set-top box boot loaders over RS-232.",
          "config.cfg and flashdata.bin are in " + folder};
}

std::string MenuFolder(const std::string& base) {
  return SystemName(SystemPath(base) / "Kelvarin");
}

std::string EnterMenuFolder(const std::string& base) {
  const std::filesystem::path folder = SystemPath(base) / "Kelvarin";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) std::filesystem::current_path(folder, error);
  if (!error) return {};
  std::error_code ignored;
  return "Can't work in " + SystemName(folder) + ": " + error.message() +
         "; config.cfg and flashdata.bin stay in " +
         SystemName(std::filesystem::current_path(ignored));
}

ControlSet ControlsFor(const Core& engine, bool commandsEnabled) {
  const bool connected = engine.Connected();
  ControlSet set;
  set.Commands = commandsEnabled;
  set.Upload =
      commandsEnabled || (connected && engine.Progress().What == Core::WorkProgress::Job::Upload);
  set.Disconnect = connected;
  set.Setting = !commandsEnabled;
  return set;
}

std::string TimestampText(int hour, int minute, int second, int millisecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", hour % 100, minute % 100, second % 100,
                millisecond % 1000);
  return text;
}

const SettingChoices& SerialSettingChoices() {
  static const SettingChoices choices{
      {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"},
      {"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"},
      {"7", "8"},
      {"none", "even", "odd"},
      {"1", "2"},
      {"none", "hardware", "Xon/Xoff"}};
  return choices;
}

int DeliveryGroupOf(int deliveryType) {
  return deliveryType == 1 || deliveryType == 2 ? deliveryType : 3;
}

std::string DeliveryChoiceProblem(int item, const std::string& typedType) {
  return ReadDecimalText(typedType) == item + 1 ? std::string() : "Delivery Type does not match";
}
