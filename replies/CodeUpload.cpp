#include "replies/CodeUpload.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/Words.h"

std::shared_ptr<const UploadImage> OpenUploadImage(const std::string& path, std::string& why) {
  std::FILE* file = OpenRegularFile(path, why);
  if (file == nullptr) return nullptr;
  auto image = std::make_shared<UploadImage>();
  image->File.reset(file, [](std::FILE* f) { std::fclose(f); });
  if (!StampOf(file, image->Stamp)) {
    why = "can't tell its size";
    return nullptr;
  }
  // The box takes a 32-bit size only.
  if (image->Stamp.Size > std::numeric_limits<std::uint32_t>::max()) {
    why = "larger than 4 GiB";
    return nullptr;
  }
  return image;
}

CodeUpload::CodeUpload(EventSink& screen, UartState& uart, UartTxThread& tx, ReplyTimeout& timeout,
                       UartRxThread& rx)
    : Out(screen), Uart(uart), Tx(tx), Timeout(timeout), Rx(rx) {}

CodeUpload::~CodeUpload() {
  CloseUploadFile();
}

void CodeUpload::CloseUploadFile() {
  Image.reset();
}

void CodeUpload::ForgetLastUpload() {
  ImageSize = 0;
  LastServedBlock = -1;
  LastServedMessage = 0;
  LastCounted = true;
  BlockOut.clear();
  BytesOut = 0;
}

void CodeUpload::StartUpload(const std::string& path) {
  OnProtocolThread();
  if (!Uart.UartConnected) {
    Out.On(ev::Refused{ev::Refusal::UploadNotConnected});
    return;
  }
  CloseUploadFile();
  ForgetLastUpload();
  // A directory or device has no size to announce.
  std::string why;
  Image = OpenUploadImage(path, why);
  if (Image == nullptr) {
    Out.On(ev::Refused{ev::Refusal::ImageUnreadable, path});
    return;
  }
  Watched = false;
  Announce(path);
}

void CodeUpload::StartUpload(std::shared_ptr<const UploadImage> image, const std::string& name) {
  OnProtocolThread();
  if (!Uart.UartConnected) {
    Out.On(ev::Refused{ev::Refusal::UploadNotConnected});
    return;
  }
  CloseUploadFile();
  ForgetLastUpload();
  Image = std::move(image);
  ImageName = name;
  Watched = true;
  if (!ImageUnchanged()) {
    EndForChangedImage();
    return;
  }
  Announce(name);
}

bool CodeUpload::Announce(const std::string& name) {
  ImageName = name;
  ImageSize = static_cast<std::uint32_t>(Image->Stamp.Size);
  BlockOut.assign((std::uint64_t{ImageSize} + BlockSize - 1) / BlockSize, 0);

  std::uint8_t command[12];
  PutCommandWord(command, Cmd::Upload);
  PutLe32(command + 4, ImageSize);
  PutLe32(command + 8, CalcCrc(command + 4, 4));
  if (!Tx.TxEnqueue(sizeof command, command)) {
    CloseUploadFile();
    return false;
  }

  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
  Tx.SyncStopped = true;
  Out.On(ev::UploadStarted{name, ImageSize});
  Rx.DropLine();
  return true;
}

bool CodeUpload::ImageUnchanged() const {
  FileStamp now;
  return StampOf(Image->File.get(), now) && now == Image->Stamp;
}

void CodeUpload::EndForChangedImage() {
  // Blocks of two versions, each with a good CRC, would pass the box's checks as one image.
  const std::string why = "the image changed since it was opened";
  const std::string name = ImageName;
  CloseUploadFile();
  Timeout.SetReplyTimeout(false, 0);
  Out.On(ev::UploadEnded{ev::UploadOutcome::ImageChanged, name, why});
}

std::uint32_t CodeUpload::BlockLength(int block) const {
  const std::uint64_t offset = std::uint64_t(block) * BlockSize;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(BlockSize, ImageSize - offset));
}

void CodeUpload::ServeDownloadRequest(std::int16_t block, std::uint64_t writtenBefore) {
  OnProtocolThread();
  if (Image == nullptr) {
    Out.On(ev::RequestIgnored{ev::RequestIgnored::Reason::NoImage, block});
    return;
  }
  const std::int64_t size = ImageSize;
  const std::int64_t count = (size + BlockSize - 1) / BlockSize;
  if (block < 0 || block >= count) {
    Out.On(ev::RequestIgnored{ev::RequestIgnored::Reason::PastEnd, block});
    return;
  }
  if (block == LastServedBlock && LastServedMessage > writtenBefore) {
    // The box cannot have judged a block that was not yet written when its request arrived:
    // this request is a copy of the one just served, and answering it twice would hand the box
    // a block it did not ask for next. Whether the block has gone out by now, while the request
    // waited its turn, does not matter.
    Out.On(ev::RequestIgnored{ev::RequestIgnored::Reason::StillBeingSent, block});
    return;
  }
  CountLastBlock(false);
  const bool last = block == count - 1;
  const std::int64_t offset = std::int64_t{block} * BlockSize;
  const std::uint32_t length = BlockLength(block);

  BlockBuffer.resize(BlockSize + 4);
  // The box expects the block as announced; a file that has since shrunk cannot give it.
  const bool whole =
      ReadAt(Image->File.get(), static_cast<std::uint64_t>(offset), BlockBuffer.data(), length);
  // Looked at after the read: a write before it shows, one after it has not touched it.
  if (Watched && !ImageUnchanged()) {
    EndForChangedImage();
    return;
  }
  if (!whole) {
    Out.On(ev::Refused{ev::Refusal::BlockUnreadable});
  } else {
    PutLe32(BlockBuffer.data() + length, CalcCrc(BlockBuffer.data(), length));
    if (Tx.TxEnqueue(static_cast<int>(length + 4), BlockBuffer.data())) {
      LastServedBlock = block;
      LastServedMessage = Tx.LastQueued();
      LastCounted = false;
      ShowDownloadProgress();
    }
  }

  // Restart the wait for the next request, without ending it between (nothing changes for the
  // window); after the last block only a result word follows.
  Timeout.SetReplyTimeout(!last, ReplyTimeout::ReplyWaitSecs);
}

void CodeUpload::ShowDownloadProgress() {
  if (Image == nullptr || ImageSize == 0 || LastServedBlock < 0) return;
  const std::uint32_t length = BlockLength(LastServedBlock);
  Out.On(ev::BlockServed{LastServedBlock, length,
                         std::uint64_t(LastServedBlock) * BlockSize + length, ImageSize});
}

void CodeUpload::CountLastBlock(bool final) {
  if (LastCounted || LastServedBlock < 0) return;
  const bool queued = Tx.StillQueued(LastServedMessage);
  if (queued && !final) return;
  const std::uint32_t length = BlockLength(LastServedBlock);
  const auto out = static_cast<std::uint32_t>(Tx.WrittenOf(LastServedMessage, length));
  std::uint32_t& best = BlockOut[static_cast<std::size_t>(LastServedBlock)];
  if (out > best) {
    BytesOut += out - best;
    best = out;
  }
  LastCounted = !queued;
}

int CodeUpload::BlocksOut() const {
  int n = 0;
  for (std::size_t k = 0; k < BlockOut.size(); ++k)
    n += BlockOut[k] == BlockLength(static_cast<int>(k));
  return n;
}

void CodeUpload::FinishUpload() {
  if (Image != nullptr) {
    // The box can only have checked what reached it; the last block's write may not have
    // been handed back yet, but what of it is written is on its way.
    CountLastBlock(true);
    const int out = BlocksOut();
    const int count = static_cast<int>(BlockOut.size());
    if (out < count) {
      // Line noise that holds the OK word, or a box that says OK to an image it lacks.
      const std::string why = "the box reported OK after " + std::to_string(out) + " of " +
                              std::to_string(count) + " blocks";
      Timeout.SetReplyTimeout(false, 0);
      const std::string name = ImageName;
      CloseUploadFile();
      Out.On(ev::UploadEnded{ev::UploadOutcome::AcceptedEarly, name, why});
      return;
    }
  }
  Timeout.SetReplyTimeout(false, 0);
  const bool accepted = Image != nullptr;
  const std::string name = ImageName;
  CloseUploadFile();
  Out.On(ev::UploadEnded{accepted ? ev::UploadOutcome::Accepted : ev::UploadOutcome::AcceptedIdle,
                         name});
}

void CodeUpload::FailUpload() {
  OnProtocolThread();
  if (Image != nullptr) CountLastBlock(true);
  const std::string name = ImageName;
  CloseUploadFile();
  Out.On(ev::UploadEnded{ev::UploadOutcome::Refused, name});
}

bool CodeUpload::StopUpload() {
  OnProtocolThread();
  if (Image == nullptr) return false;
  Tx.Abandon(LastServedMessage);
  CountLastBlock(true);
  const bool imageOut = BlocksOut() == static_cast<int>(BlockOut.size());
  CloseUploadFile();
  Timeout.SetReplyTimeout(false, 0);
  Out.On(ev::UploadEnded{ev::UploadOutcome::Stopped, ImageName, {}, imageOut});
  return true;
}

std::uint64_t CodeUpload::BytesSent() const {
  if (LastCounted || LastServedBlock < 0) return BytesOut;
  const std::uint32_t length = BlockLength(LastServedBlock);
  const std::uint64_t out = Tx.WrittenOf(LastServedMessage, length);
  const std::uint32_t best = BlockOut[static_cast<std::size_t>(LastServedBlock)];
  return BytesOut + (out > best ? out - best : 0);
}
