#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/Words.h"

// What the box puts on the line, built from nothing but the CRC, byte and hex helpers it shares
// with the tool: reply words, payload frames, configuration records, and the ways a frame can be
// spoiled on purpose.
namespace boxsim {

using Bytes = std::vector<std::uint8_t>;
using Record = std::array<std::uint8_t, 100>;

// BB k 21 (0x96 + 2(k - 0x10)), most significant byte first.
std::uint32_t ReplyWord(std::uint8_t k);

// The four word bytes as they go on the line.
Bytes StatusFrame(std::uint32_t word);

// The word, then raw as capital hex text.
Bytes HexFrame(std::uint32_t word, const std::uint8_t* raw, std::size_t n);
// Word, then the payload and its CRC (least significant byte first) as capital hex text.
Bytes PayloadFrame(std::uint32_t word, const std::uint8_t* payload, std::size_t n);
inline Bytes PayloadFrame(std::uint32_t word, const Bytes& payload) {
  return PayloadFrame(word, payload.data(), payload.size());
}

// Bytes 96..99 carry the CRC of bytes 0..95, least significant byte first.
void SealRecord(Record& record);
bool RecordSealed(const Record& record);

// The frame with a check that no longer holds: the CRC's last hex digit, or a bare word's
// check byte.
Bytes Spoiled(Bytes frame);

// Sealed records of each delivery layout; any other delivery type gets the satellite layout
// with the odd type byte, which is what a confused box would hold.
Record SatelliteRecord();
Record CableRecord();
Record TerrestrialRecord();
Record OddRecord(std::uint8_t deliveryType);
// What AA 0B 32 1F restores: differs from the satellite record so a restore shows.
Record DefaultRecord();

// A flash image whose bytes differ from their neighbours and do not repeat every 256 bytes, so
// a read from the wrong address or a shifted block cannot pass for the right one.
Bytes PatternFlash(std::size_t size);

enum class FaultKind { BadCrc, DropByte, FlipBit, Duplicate, GarbageBefore, PauseInside, Silence };
enum class FaultTarget {
  Frame,         // which = frames from now, 0 is the next one
  BlockRequest,  // which = the block number whose next request is spoiled
  FlashReply     // which = flash read replies from now, 0 is the next one
};

struct Fault {
  FaultKind kind = FaultKind::BadCrc;
  FaultTarget target = FaultTarget::Frame;
  int which = 0;
  int offset = -1;  // byte in the frame for a drop, flip or pause; -1 is the middle
  int bit = 0;
  int pauseMs = 100;
  Bytes garbage;  // empty: 16 bytes that contain neither 0xBB nor a carriage return
};

// A piece of output and the pause the box takes after writing it.
struct Segment {
  Bytes bytes;
  int pauseAfterMs = 0;
};

// How the frame goes out under the fault. Silence gives nothing; the caller keeps quiet after.
std::vector<Segment> ApplyFault(const Bytes& frame, const Fault& fault);

// Hex dump for the box's own log lines: "BB 24 21 BE".
std::string HexBytes(const std::uint8_t* bytes, std::size_t n);

}  // namespace boxsim
