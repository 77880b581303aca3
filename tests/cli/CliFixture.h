#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "boxsim/BoxSim.h"
#include "tests/cli/CliProcess.h"

namespace fs = std::filesystem;
using boxsim::BoxSim;
using Bytes = std::vector<std::uint8_t>;

// A temporary folder, with simulated boxes reachable by links inside it.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvarin-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Dir = pattern;
  }
  void TearDown() override {
    Boxes.clear();
    std::error_code error;
    fs::remove_all(Dir, error);
  }

  BoxSim& AddBox(int baud = 0) {
    boxsim::BoxOptions options;
    options.linkPath = Path("box" + std::to_string(Boxes.size()));
    options.baud = baud;
    Boxes.push_back(std::make_unique<BoxSim>(options));
    EXPECT_TRUE(Boxes.back()->Start());
    return *Boxes.back();
  }
  std::string Path(const std::string& name) const { return (Dir / name).string(); }

  std::string WriteImage(const std::string& name, std::size_t size, unsigned seed) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
      image[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(size));
    return Path(name);
  }
  static Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++n;
    return n;
  }
  static int Accepted(const BoxSim& box) {
    int n = 0;
    for (const std::string& e : box.Events()) n += e.find(": accepted") != std::string::npos;
    return n;
  }

  // The speed a serial port is set to now, as any program that opens it finds it.
  static speed_t LineSpeed(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    const bool read = fd >= 0 && tcgetattr(fd, &settings) == 0;
    if (fd >= 0) close(fd);
    return read ? cfgetospeed(&settings) : B0;
  }
  // The JSON line of an event of a port: {"port": PORT, "event": EVENT, ... WITH ...}.
  static std::string EventLine(const std::string& out, const std::string& port,
                               const std::string& event, const std::string& with = "") {
    const std::string start = "{\"port\": \"" + port + "\", \"event\": \"" + event + "\"";
    for (std::size_t at = out.find(start); at != std::string::npos; at = out.find(start, at + 1)) {
      const std::string line = out.substr(at, out.find('\n', at) - at);
      if (line.find(with) != std::string::npos) return line;
    }
    return {};
  }
  // The number after "key": in a JSON line; -1 when there is none.
  static long long Number(const std::string& line, const std::string& key) {
    const std::size_t at = line.find("\"" + key + "\": ");
    return at == std::string::npos ? -1 : std::atoll(line.c_str() + at + key.size() + 4);
  }

  fs::path Dir;
  std::vector<std::unique_ptr<BoxSim>> Boxes;
};
