#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/EngineEvents.h"
#include "link/ReplyTimeout.h"
#include "link/UartRxThread.h"
#include "link/UartState.h"
#include "link/UartTxThread.h"
#include "platform/Files.h"
#include "platform/ProtocolThread.h"

// An image opened once and read by position, so that several uploads (one per port, box after
// box) can share it; its stamp, taken at the open, tells whether it was written to since.
struct UploadImage {
  std::shared_ptr<std::FILE> File;
  FileStamp Stamp;
};

// Opens the image at path (a file name of the system): a regular file the box can be told the
// size of. nullptr with why otherwise.
std::shared_ptr<const UploadImage> OpenUploadImage(const std::string& path, std::string& why);

// The box pulls a firmware image block by block; the tool answers each request.
class CodeUpload : public ProtocolThreadOnly {
 public:
  static constexpr std::uint32_t BlockSize = 0x1FFFC;

  CodeUpload(EventSink& screen, UartState& uart, UartTxThread& tx, ReplyTimeout& timeout,
             UartRxThread& rx);
  ~CodeUpload();

  // Announces the image at path (a file name of the system) and waits for the box's requests.
  void StartUpload(const std::string& path);
  // The same with an image opened earlier, named name: one written to since it was opened is
  // not announced, and one written to during the upload ends it before a block of it goes.
  void StartUpload(std::shared_ptr<const UploadImage> image, const std::string& name);
  // Ends an upload under way at once: the rest of the block being written is abandoned, the
  // file closed, the wait for the next request ended. Unless the whole image had gone out, the
  // log then tells the technician what the box is left doing (UploadStoppedAdvice). False when
  // none was under way.
  bool StopUpload();
  // Bytes of the image that have gone out on the line (a block sent twice counts once), and
  // the image's size. Both stay as they were once the upload has ended, until the next one.
  std::uint64_t BytesSent() const;
  std::uint64_t ImageBytes() const { return ImageSize; }

  // writtenBefore: the transmit ring's count of written messages when the request arrived.
  void ServeDownloadRequest(std::int16_t block, std::uint64_t writtenBefore);
  void ShowDownloadProgress();
  void FinishUpload();
  void FailUpload();

  bool UploadFileOpen() const { return Image != nullptr; }

 private:
  void CloseUploadFile();
  void ForgetLastUpload();
  bool Announce(const std::string& name);
  bool ImageUnchanged() const;
  void EndForChangedImage();
  std::uint32_t BlockLength(int block) const;
  // Adds what went out of the block served last; final: also while it is still being written.
  void CountLastBlock(bool final);
  int BlocksOut() const;

  EventSink& Out;
  UartState& Uart;
  UartTxThread& Tx;
  ReplyTimeout& Timeout;
  UartRxThread& Rx;
  std::shared_ptr<const UploadImage> Image;
  std::string ImageName;
  bool Watched = false;  // an image opened earlier: a write to it ends the upload
  int LastServedBlock = -1;
  std::uint64_t LastServedMessage = 0;  // the transmit ring's number of that block's answer
  bool LastCounted = true;              // what went out of that answer is in BlockOut
  // Per block the most of it that went out in one answer, and their sum.
  std::vector<std::uint32_t> BlockOut;
  std::uint64_t BytesOut = 0;
  // The size announced to the box: block lengths follow it, since that is what the box expects.
  std::uint32_t ImageSize = 0;
  // Holds the one block being answered and its CRC; reused for every request.
  std::vector<std::uint8_t> BlockBuffer;
};
