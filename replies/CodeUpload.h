#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/ReplyTimeout.h"
#include "link/Screen.h"
#include "link/UartRxThread.h"
#include "link/UartState.h"
#include "link/UartTxThread.h"

// The box pulls a firmware image block by block; the tool answers each request.
class CodeUpload {
 public:
  static constexpr std::uint32_t BlockSize = 0x1FFFC;

  CodeUpload(Screen& screen, UartState& uart, UartTxThread& tx, ReplyTimeout& timeout,
             UartRxThread& rx);
  ~CodeUpload();

  // btn_UpdateCodeClick. pickFile runs the open dialog; nullopt means cancelled.
  void btn_UpdateCodeClick(const std::function<std::optional<std::string>()>& pickFile);
  // Announces the image at path (a file name of the system) and waits for the box's requests.
  void StartUpload(const std::string& path);
  // Ends an upload under way at once: the rest of the block being written is abandoned, the
  // file closed, the wait for the next request ended. False when none was under way.
  bool StopUpload();
  // Bytes of the image that have gone out on the line, and the image's size.
  std::uint64_t BytesSent() const;
  std::uint64_t ImageBytes() const { return ImageSize; }

  void ServeDownloadRequest(std::int16_t block);
  void ShowDownloadProgress();
  void FinishUpload();
  void FailUpload();

  bool UploadFileOpen() const { return UploadFile != nullptr; }

 private:
  void CloseUploadFile();

  Screen& Out;
  UartState& Uart;
  UartTxThread& Tx;
  ReplyTimeout& Timeout;
  UartRxThread& Rx;
  std::FILE* UploadFile = nullptr;
  bool Accepted = false;  // the box took the whole image
  int LastServedBlock = -1;
  std::uint64_t LastServedMessage = 0;  // the transmit ring's number of that block's answer
  int LastRequested = -1;               // the block the box asked for last
  // The size announced to the box: block lengths follow it, since that is what the box expects.
  std::uint32_t ImageSize = 0;
  // Holds the one block being answered and its CRC; reused for every request.
  std::vector<std::uint8_t> BlockBuffer;
};
