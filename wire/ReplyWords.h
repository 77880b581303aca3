#pragma once

#include <cstdint>

// The box's reply words as the tool's receiver cuts them out of the line: how long a frame of
// each is, what its CRC covers, and the log's words when the CRC does not hold.
enum class WordKind : std::uint8_t {
  Status,        // the word alone, acted on at once
  UploadResult,  // the word alone, queued behind the lines before it
  Payload,       // the word and a payload of fixed length
  FlashData,     // the word and a block of the read's own length
};

struct ReplyWordInfo {
  std::uint32_t Word;
  WordKind Kind;
  int FrameLen;  // payload words; flash data is 2N + 12
  int CrcOver;   // P: decoded bytes the CRC covers
  int HandOver;  // H: frame bytes handed to the queue
  const char* FailLine;
};

// The word's row; nullptr for a word the box has no reply of.
const ReplyWordInfo* FindReplyWord(std::uint32_t word);
// The log line for a reply of this word whose CRC did not match; nullptr for a word without one.
const char* ReplyCrcFailLine(std::uint32_t word);
