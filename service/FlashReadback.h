#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

#include "Screen.h"
#include "UartRxThread.h"
#include "UartTxThread.h"

// Reading a range of the box's flash back into flashdata.bin, 4096 bytes per request.
class FlashReadback : public FlashBlockSource {
 public:
  static constexpr std::uint32_t BlockMax = 4096;

  // folder: where flashdata.bin goes (the working folder in the program).
  FlashReadback(Screen& screen, UartTxThread& tx, std::string folder);
  ~FlashReadback() override;

  // Btn_ReadFlashClick after the edits are read: queues one request per block.
  void ReadFlash(std::int32_t start, std::uint32_t size);
  // The N data bytes of one read-back reply that passed its CRC check.
  void WriteFlashBlock(const std::uint8_t* data, std::uint32_t n);

  std::uint32_t ExpectedFlashBlockLen() const override;
  void FlashReadCrcFailed() override;

  std::uint32_t FlashBytesLeft = 0;
  std::uint32_t FlashBlockLen = 0;
  std::int32_t FlashBlocksRequested = 0;
  std::int32_t FlashBlocksWritten = 0;

 private:
  Screen& Out;
  UartTxThread& Tx;
  std::string Folder;
  std::deque<std::uint32_t> PendingLengths;  // one per request not yet answered
  std::FILE* FlashFile = nullptr;
};
