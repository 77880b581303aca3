#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boxsim/BoxFrames.h"
#include "boxsim/BoxSim.h"
#include "tests/support/TestBytes.h"

// The tool's end of the line, as plain as it gets: the test writes bytes to the slave device and
// reads what the box sends back.
class BoxLine {
 public:
  explicit BoxLine(const std::string& path);
  ~BoxLine();
  BoxLine(const BoxLine&) = delete;
  BoxLine& operator=(const BoxLine&) = delete;

  bool IsOpen() const { return Fd >= 0; }
  void Write(const boxsim::Bytes& bytes);
  // Reads until n bytes came or the box kept quiet for quietMs.
  boxsim::Bytes Read(std::size_t n, int quietMs = 2000);
  // Everything until the box has been quiet for quietMs.
  boxsim::Bytes ReadQuiet(int quietMs = 150);
  // True once the far end is gone (poll reports a hang-up), within timeoutMs.
  bool SeesHangUp(int timeoutMs);

  // Sends the sync word and takes the stop-sync answer.
  bool Handshake();

 private:
  int Fd = -1;
};

boxsim::Bytes Command(std::uint32_t word, const boxsim::Bytes& payload = {});
// Decodes a payload frame's hex text; false when the frame is malformed or its CRC fails.
bool DecodePayload(const boxsim::Bytes& frame, std::size_t payloadBytes, boxsim::Bytes& payload);
