#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

#include "boxsim/BoxSim.h"
#include "boxsim/BoxSimParts.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

// An upload as the loader takes it: the image announced, its blocks asked for and checked.
namespace boxsim {

using namespace parts;

void BoxSim::HandleUploadCommand(const std::uint8_t* msg) {
  const std::uint32_t size = GetLe32(msg + 4);
  const bool crcOk = CrcHolds(msg + 4, 4);
  std::vector<int> plan;
  BlockOrder order;
  {
    std::lock_guard lock(Mutex);
    ImageSize = size;
    Image.clear();
    Outcome = UploadOutcome::InProgress;
    plan = CustomRequests;
    order = Order;
    BlockWaitNow = BlockWaitMs;
  }
  State = Phase::Uploading;
  if (!crcOk) {
    FinishUpload(UploadOutcome::Refused, "size crc fail");
    return;
  }
  if (size > kMaxImageSize) {
    FinishUpload(UploadOutcome::Refused, "too large");
    return;
  }
  {
    std::lock_guard lock(Mutex);
    Image.assign(size, 0);
  }
  const int count =
      static_cast<int>((std::uint64_t{size} + Options.blockSize - 1) / Options.blockSize);
  BlocksGot.assign(static_cast<std::size_t>(count), false);
  StopsHalfway = false;
  if (plan.empty()) {
    switch (order) {
      case BlockOrder::InSequence:
        for (int k = 0; k < count; ++k) plan.push_back(k);
        break;
      case BlockOrder::WithRepeats:
        for (int k = 0; k < count; ++k) plan.insert(plan.end(), {k, k});
        break;
      case BlockOrder::Backwards:
        for (int k = count - 1; k >= 0; --k) plan.push_back(k);
        break;
      case BlockOrder::StopHalfway:
        for (int k = 0; k < (count + 1) / 2; ++k) plan.push_back(k);
        StopsHalfway = true;
        break;
    }
    // Even an empty image gets its block 0 asked for: the loader does not special-case it.
    if (plan.empty()) plan.push_back(0);
  }
  BlockPlan = std::move(plan);
  PlanIndex = 0;
  BlocksTaken = 0;
  Event(Format("upload %u bytes: %d blocks", size, count));
  if (OkEarly()) return;
  RequestNextBlock();
}

void BoxSim::RequestNextBlock() {
  if (PlanIndex < BlockPlan.size()) {
    CurrentBlock = BlockPlan[PlanIndex++];
    std::lock_guard lock(Mutex);
    RetriesLeft = BlockRetries;
  } else {
    if (StopsHalfway) {
      FinishUpload(UploadOutcome::Stopped, "stopped asking halfway");
      return;
    }
    if (ImageSize == 0) {
      FinishUpload(UploadOutcome::Refused, "empty image");
      return;
    }
    if (std::find(BlocksGot.begin(), BlocksGot.end(), false) != BlocksGot.end()) {
      FinishUpload(UploadOutcome::Refused, "blocks missing");
      return;
    }
    const Answer answer = AnswerFor(BoxCommand::Upload);
    if (answer == Answer::Never)
      FinishUpload(UploadOutcome::Stopped, "no answer");
    else if (answer == Answer::Bad)
      FinishUpload(UploadOutcome::Refused, "told to refuse");
    else
      FinishUpload(UploadOutcome::Accepted, "");
    return;
  }
  SendBlockRequest();
}

bool BoxSim::OkEarly() {
  int after;
  {
    std::lock_guard lock(Mutex);
    after = OkAfterBlocks;
  }
  if (after < 0 || BlocksTaken < after) return false;
  FinishUpload(UploadOutcome::Accepted, Format("reported OK after %d blocks", BlocksTaken));
  return true;
}

void BoxSim::SendBlockRequest() {
  Bytes noise;
  int pauseMs;
  {
    std::lock_guard lock(Mutex);
    noise = RequestNoise;
    pauseMs = RequestNoisePauseMs;
  }
  if (!noise.empty()) {
    Event("noise before the request: " + HexBytes(noise.data(), noise.size()));
    if (!WriteAll(noise.data(), noise.size()) || !PauseMs(pauseMs)) return;
  }
  const std::uint32_t length = BlockLength(CurrentBlock);
  ExpectLen = length ? length + 4 : 0;
  std::uint8_t number[2];
  PutLe16(number, static_cast<std::uint16_t>(CurrentBlock));
  Event(Format("block %d requested (%u bytes)", CurrentBlock, length));
  FrameInfo info;
  info.block = CurrentBlock;
  SendFrame(PayloadFrame(Reply::DownloadRequest, number, 2), info);
  BlockDeadline = Clock::now() + std::chrono::milliseconds(BlockWaitNow);
}

void BoxSim::HandleBlock(const std::uint8_t* data, std::size_t len) {
  const std::uint32_t length = static_cast<std::uint32_t>(len - 4);
  const int block = CurrentBlock;
  LogMessage({MessageKind::Block, 0, block, {}});
  if (!CrcHolds(data, length)) {
    Event(Format("block %d: crc fail", block));
    FinishUpload(UploadOutcome::Refused, Format("bad block %d", block));
    return;
  }
  const std::size_t offset = std::size_t(block) * Options.blockSize;
  bool differs;
  {
    std::lock_guard lock(Mutex);
    differs = !ExpectedImage.empty() &&
              (ExpectedImage.size() < offset + length ||
               !std::equal(data, data + length, ExpectedImage.begin() + offset));
    if (!differs) std::copy(data, data + length, Image.begin() + offset);
  }
  if (differs) {
    Event(Format("block %d: differs from the expected image", block));
    FinishUpload(UploadOutcome::Refused, Format("block %d differs", block));
    return;
  }
  BlocksGot[static_cast<std::size_t>(block)] = true;
  ++BlocksTaken;
  Event(Format("block %d: ok", block));
  if (OkEarly()) return;
  RequestNextBlock();
}

void BoxSim::FinishUpload(UploadOutcome outcome, const std::string& why) {
  State = Phase::Ready;
  ExpectLen = 0;
  CurrentBlock = -1;
  std::uint32_t size;
  bool kept = false;
  {
    std::lock_guard lock(Mutex);
    Outcome = outcome;
    size = ImageSize;
    // Every block came and the box took it: the image is in the flash now. One reported OK
    // early never came whole, and is not.
    // A flash grows to hold it, up to a size a real box could have.
    const std::size_t end = std::size_t{UploadAddress} + Image.size();
    kept =
        outcome == UploadOutcome::Accepted && why.empty() && !Image.empty() && end <= kFlashLimit;
    if (kept) {
      if (FlashImage.size() < end) FlashImage.resize(end, 0xFF);
      std::copy(Image.begin(), Image.end(), FlashImage.begin() + UploadAddress);
    }
  }
  if (outcome == UploadOutcome::Accepted && why.empty() && !kept)
    Event(Format("upload: an image that ends past 0x%zX is not kept in the flash", kFlashLimit));
  Event(Format("upload %u bytes: %s", size, OutcomeName(outcome)) +
        (why.empty() ? "" : " (" + why + ")"));
  if (outcome == UploadOutcome::Accepted) {
    SendFrame(StatusFrame(Reply::UploadAccepted));
  } else if ((outcome == UploadOutcome::Refused || outcome == UploadOutcome::Abandoned) &&
             AnswerFor(BoxCommand::Upload) != Answer::Never) {
    SendFrame(StatusFrame(Reply::UploadRefused));
  }
}

}  // namespace boxsim
