#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ReplyTimeout.h"
#include "Screen.h"
#include "UartRxThread.h"
#include "UartTxThread.h"

// Reading a range of the box's flash back into flashdata.bin, 4096 bytes per request.
// Blocks go to flashdata.bin.part, which replaces flashdata.bin only once the last block is
// in, so a read that fails never leaves a file that looks complete.
class FlashReadback : public FlashBlockSource {
 public:
  static constexpr std::uint32_t BlockMax = 4096;

  // folder: where flashdata.bin goes (the working folder in the program). timeout: watches
  // the replies of a read, so that one lost on the line ends in "Timeout!!" instead of a read
  // that waits for ever without a word; none in tests that do not need it.
  FlashReadback(Screen& screen, UartTxThread& tx, std::string folder,
                ReplyTimeout* timeout = nullptr);
  ~FlashReadback() override;
  FlashReadback(const FlashReadback&) = delete;
  FlashReadback& operator=(const FlashReadback&) = delete;

  // Btn_ReadFlashClick after the edits are read: queues one request per block. A read whose
  // requests do not all fit in the transmit ring is refused before anything is sent.
  void ReadFlash(std::int32_t start, std::uint32_t size);
  // The n data bytes of one read-back reply that passed its CRC check.
  void WriteFlashBlock(const std::uint8_t* data, std::uint32_t n);

  // The length of the request the next reply answers; 0 when none is outstanding.
  std::uint32_t ExpectedFlashBlockLen() const override;
  void FlashReadCrcFailed() override;
  void FlashBlockReceived() override;

  std::string FlashFilePath() const;
  std::string PartFilePath() const;

  std::uint32_t FlashBytesLeft = 0;
  std::uint32_t FlashBlockLen = 0;  // the block requested last
  std::int32_t FlashBlocksRequested = 0;
  std::int32_t FlashBlocksWritten = 0;

 private:
  // Drops the current read: the part file goes, flashdata.bin stays as it was. The lengths of
  // requests still on their way are kept so that their replies are cut right, then dropped.
  void AbandonRead();
  void ForgetRequests();
  bool CloseFlashFile();
  void WatchReplies(bool waiting);

  Screen& Out;
  UartTxThread& Tx;
  ReplyTimeout* Timeout;
  std::string Folder;
  // The receiver moves through the replies ahead of the writer: a good reply waits in the
  // reply queue before it is written.
  std::vector<std::uint32_t> RequestLengths;  // one per request of the read, in order
  std::size_t RepliesReceived = 0;
  std::FILE* FlashFile = nullptr;
  bool Watching = false;  // the reply timeout is armed for this read
};
