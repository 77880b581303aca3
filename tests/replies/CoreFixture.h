#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/CoreBench.h"

using Bytes = std::vector<std::uint8_t>;

// A connected core on a fake port, with the reply queue fed by hand.
class CoreFixture : public ::testing::Test, protected CoreBench {
 protected:
  void AddText(const std::string& line) {
    Bytes item(line.begin(), line.end());
    item.push_back(0x0D);
    item.push_back(0);
    core.DataHandler.AddReplyItem(item.data(), static_cast<int>(item.size()), ItemKind::Text);
  }

  void AddReply(const Bytes& item) {
    core.DataHandler.AddReplyItem(item.data(), static_cast<int>(item.size()), ItemKind::Reply);
  }

  void ProcessAll() {
    while (core.DataHandler.ProcessReplyItem()) {
    }
  }

  std::string WriteFile(const std::string& name, const Bytes& content) {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path;
  }
};
