#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// SHA-256, for the record of which image a box got: the same on every system, with no library
// of the system's behind it.
class Sha256 {
 public:
  Sha256();
  void Add(const void* data, std::size_t n);
  // The digest as 64 lower-case hexadecimal digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const std::uint8_t* block);
  std::uint32_t State[8];
  std::uint8_t Pending[64];
  std::size_t PendingLen = 0;
  std::uint64_t Length = 0;
};

// The digest of a file's first size bytes, read by position (the file's own position is left as
// it is); empty when a read fails.
std::string Sha256OfFile(std::FILE* file, std::uint64_t size);
