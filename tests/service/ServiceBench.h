#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/CoreBench.h"
#include "tests/support/TestBytes.h"

using Bytes = std::vector<std::uint8_t>;

// A connected Core where only the messages under test leave the ring.
struct ServiceBench : CoreBench {
  explicit ServiceBench(const std::string& folder = {}) : CoreBench(folder) {
    core.Tx.SyncStopped = true;
  }
};

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}
