#pragma once

#include <cstdint>
#include <vector>

#include "link/UartRxThread.h"
#include "tests/support/BoxSays.h"

struct SinkItem {
  ItemKind Kind;
  Bytes Data;
};

class RecordingSink : public ReplySink {
 public:
  bool AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) override {
    Items.push_back({kind, Bytes(data, data + length)});
    return true;
  }
  void HandleReplyWord(std::uint32_t word, std::uint64_t) override { Words.push_back(word); }

  std::vector<SinkItem> Items;
  std::vector<std::uint32_t> Words;
};

class FakeFlash : public FlashBlockSource {
 public:
  std::uint32_t ExpectedFlashBlockLen(std::uint64_t) const override { return BlockLen; }
  void FlashReadCrcFailed(std::uint64_t) override { ++CrcFailures; }
  void FlashBlockReceived(std::uint64_t) override { ++BlocksReceived; }

  std::uint32_t BlockLen = 0;
  int CrcFailures = 0;
  int BlocksReceived = 0;
};
