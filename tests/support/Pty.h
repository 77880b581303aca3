#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal pair, in raw mode unless asked not to: the tool opens SlavePath, the test
// plays the box on the master side.
class Pty {
 public:
  explicit Pty(bool raw = true);
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return Master >= 0; }
  void Write(const std::vector<std::uint8_t>& bytes);
  void Write(const std::string& text);
  // Whatever has arrived within timeoutMs (returns early once at least minBytes are there).
  std::vector<std::uint8_t> Read(int timeoutMs, std::size_t minBytes = 1);
  void CloseMaster();
  // The line as the slave side sees it: its settings, and the bytes waiting to be read.
  termios SlaveSettings() const;
  int Waiting() const;

  int Master = -1;
  int Slave = -1;  // kept open so that the line stays up while the tool reopens it
  std::string SlavePath;
};
