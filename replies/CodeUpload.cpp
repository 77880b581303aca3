#include "replies/CodeUpload.h"

#include <sys/stat.h>

#include <cstdint>
#include <limits>

#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/Words.h"

namespace {

bool CurrentSize(std::FILE* file, std::int64_t& size) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  size = info.st_size;
  return true;
}

}  // namespace

CodeUpload::CodeUpload(Screen& screen, UartState& uart, UartTxThread& tx, ReplyTimeout& timeout,
                       UartRxThread& rx)
    : Out(screen), Uart(uart), Tx(tx), Timeout(timeout), Rx(rx) {}

CodeUpload::~CodeUpload() {
  CloseUploadFile();
}

void CodeUpload::CloseUploadFile() {
  if (UploadFile != nullptr) std::fclose(UploadFile);
  UploadFile = nullptr;
}

void CodeUpload::btn_UpdateCodeClick(const std::function<std::optional<std::string>()>& pickFile) {
  if (!Uart.UartConnected) {
    Out.ShowMessage("Uart does not connected");
    return;
  }
  if (Out.GetCaption(Caption::UploadButton).rfind("Stop", 0) == 0) {
    if (!StopUpload()) Out.SetCaption(Caption::UploadButton, "Upload Code");
    return;
  }

  const std::optional<std::string> path = pickFile();
  if (path) StartUpload(*path);
}

void CodeUpload::StartUpload(const std::string& path) {
  if (!Uart.UartConnected) {
    Out.ShowMessage("Uart does not connected");
    return;
  }
  CloseUploadFile();
  Accepted = false;
  UploadFile = std::fopen(path.c_str(), "rb");
  std::int64_t size = 0;
  // A directory or device has no size to announce, and the box takes a 32-bit size only.
  if (UploadFile == nullptr || !CurrentSize(UploadFile, size) ||
      size > std::numeric_limits<std::uint32_t>::max()) {
    CloseUploadFile();
    Out.ShowMessage("open file error");
    return;
  }
  ImageSize = static_cast<std::uint32_t>(size);
  LastServedBlock = -1;
  LastServedMessage = 0;
  LastRequested = -1;

  std::uint8_t command[12];
  PutCommandWord(command, Cmd::Upload);
  PutLe32(command + 4, ImageSize);
  PutLe32(command + 8, CalcCrc(command + 4, 4));
  if (!Tx.TxEnqueue(sizeof command, command)) {
    CloseUploadFile();
    return;
  }

  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
  Out.SetCaption(Caption::UploadButton, "Stop");
  Tx.SyncStopped = true;
  // The path is the system's text, not the box's.
  Out.AppendSystemLog("upload " + path + " to STB start...");
  Rx.DropLine();
}

void CodeUpload::ServeDownloadRequest(std::int16_t block) {
  if (UploadFile == nullptr) {
    Out.AppendLog("Download request ignored: no upload file open");
    return;
  }
  // A request for another block in between shows that the box has moved on from this one.
  const bool copy = block == LastServedBlock && block == LastRequested &&
                    Tx.StillOnItsWay(LastServedMessage);
  LastRequested = block;
  const std::int64_t size = ImageSize;
  const std::int64_t count = (size + BlockSize - 1) / BlockSize;
  if (block < 0 || block >= count) {
    Out.AppendLog("Request data is longer than file size");
    return;
  }
  if (copy) {
    // The box cannot have judged a block that has not yet crossed the line: this request is
    // a copy of the one just served, and answering it twice would hand the box a block it did
    // not ask for next.
    Out.AppendLog("Download request for block " + std::to_string(block) +
                  " ignored: its block is still being sent");
    return;
  }
  const bool last = block == count - 1;
  const std::int64_t offset = std::int64_t{block} * BlockSize;
  const auto length = static_cast<std::uint32_t>(last ? size - offset : BlockSize);

  BlockBuffer.resize(BlockSize + 4);
  // The box expects the block as announced; a file that has since shrunk cannot give it.
  const bool whole = fseeko(UploadFile, offset, SEEK_SET) == 0 &&
                     std::fread(BlockBuffer.data(), 1, length, UploadFile) == length;
  if (!whole) {
    Out.ShowMessage("Request data length is not correspond to file point");
  } else {
    PutLe32(BlockBuffer.data() + length, CalcCrc(BlockBuffer.data(), length));
    if (Tx.TxEnqueue(static_cast<int>(length + 4), BlockBuffer.data())) {
      LastServedBlock = block;
      LastServedMessage = Tx.LastQueued();
      ShowDownloadProgress();
    }
  }

  // Restart the wait for the next request; after the last block only a result word follows.
  Timeout.SetReplyTimeout(false, 0);
  if (!last) Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
}

void CodeUpload::ShowDownloadProgress() {
  if (UploadFile == nullptr || ImageSize == 0) return;
  const std::int64_t position = ftello(UploadFile);
  if (position < 0) return;
  const std::int64_t percent = position * 100 / ImageSize;
  char text[32];
  std::snprintf(text, sizeof text, "Download %d%%", static_cast<int>(percent));
  Out.AppendLog(text);
}

void CodeUpload::FinishUpload() {
  Out.AppendLog("Upload Complete");
  Timeout.SetReplyTimeout(false, 0);
  // The button says what it does next: there is nothing left to stop.
  Out.SetCaption(Caption::UploadButton, "Upload Code");
  Accepted = UploadFile != nullptr;
  CloseUploadFile();
  Out.Notify({EngineEvent::UploadAccepted});
}

void CodeUpload::FailUpload() {
  Out.AppendLog("Upload fail");
  Out.SetCaption(Caption::UploadButton, "Upload Code");
  CloseUploadFile();
  Out.Notify({EngineEvent::UploadRefused});
}

bool CodeUpload::StopUpload() {
  if (UploadFile == nullptr) return false;
  Tx.Abandon(LastServedMessage);
  CloseUploadFile();
  Timeout.SetReplyTimeout(false, 0);
  Out.SetCaption(Caption::UploadButton, "Upload Code");
  Out.AppendLog("Upload stopped");
  Out.Notify({EngineEvent::UploadStopped});
  return true;
}

std::uint64_t CodeUpload::BytesSent() const {
  if (Accepted) return ImageSize;
  if (UploadFile == nullptr || LastServedBlock < 0) return 0;
  const std::uint64_t offset = std::uint64_t(LastServedBlock) * BlockSize;
  const std::uint64_t length = std::min<std::uint64_t>(BlockSize, ImageSize - offset);
  return offset + Tx.WrittenOf(LastServedMessage, length);
}
