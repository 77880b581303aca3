#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal pair in raw mode: the tool opens SlavePath, the test plays the box on the
// master side.
class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return Master >= 0; }
  void Write(const std::vector<std::uint8_t>& bytes);
  void Write(const std::string& text);
  // Whatever has arrived within timeoutMs (returns early once at least minBytes are there).
  std::vector<std::uint8_t> Read(int timeoutMs, std::size_t minBytes = 1);
  void CloseMaster();

  int Master = -1;
  int Slave = -1;  // kept open so that the line stays up while the tool reopens it
  std::string SlavePath;
};
