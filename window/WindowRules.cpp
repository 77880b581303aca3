#include "window/WindowRules.h"

#include <filesystem>

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
