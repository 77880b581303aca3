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

// The loader: the tool's messages cut out of the line, and each command answered.
namespace boxsim {

using namespace parts;

void BoxSim::Parse() {
  std::size_t pos = 0;
  while (pos < In.size()) {
    if (State == Phase::Uploading) {
      if (ExpectLen == 0 || In.size() - pos < ExpectLen) break;
      const std::size_t len = ExpectLen;
      HandleBlock(&In[pos], len);
      pos += len;
      continue;
    }
    const std::uint8_t* p = &In[pos];
    const std::size_t avail = In.size() - pos;
    if (p[0] == 0xAA) {
      const long len = CommandLength(p, avail);
      if (len == 0) break;
      if (len > 0) {
        if (avail < static_cast<std::size_t>(len)) break;
        HandleCommand(p, static_cast<std::size_t>(len));
        pos += static_cast<std::size_t>(len);
        continue;
      }
    }
    // Console text runs up to the next possible command word or the end of a line.
    std::size_t end = pos;
    while (end < In.size() && (end == pos || In[end] != 0xAA)) {
      if (In[end++] == 0x0D) break;
    }
    TextPending.append(In.begin() + static_cast<std::ptrdiff_t>(pos),
                       In.begin() + static_cast<std::ptrdiff_t>(end));
    pos = end;
    if (TextPending.back() == '\r' || TextPending.size() >= 1024) FlushText();
  }
  In.erase(In.begin(), In.begin() + static_cast<std::ptrdiff_t>(pos));
}

void BoxSim::FlushText() {
  std::string text;
  text.swap(TextPending);
  if (text.empty()) return;
  if (State != Phase::Ready) {
    Event("text ignored: \"" + Printable(text) + "\"");
    return;
  }
  LogMessage({MessageKind::Text, 0, -1, Bytes(text.begin(), text.end())});
  Event("text \"" + Printable(text) + "\" -> Unknown command");
  SendText("Unknown command");
}

bool AnswersCommand(std::uint32_t word) {
  return FindCommand(Cmd::Number(word)).has_value();
}

void BoxSim::HandleTimeouts() {
  const Clock::time_point now = Clock::now();
  bool expired;
  int floodMs;
  bool away;
  bool powerCycled;
  {
    std::lock_guard lock(Mutex);
    expired = BlockWaitExpired;
    BlockWaitExpired = false;
    floodMs = FloodEveryMs;
    away = BoxAway;
    powerCycled = PowerCycled;
    PowerCycled = false;
  }
  if (powerCycled) BackToLoader("power cycle");
  if (State == Phase::AppRunning && AppUntil != Clock::time_point{} && now >= AppUntil)
    BackToLoader("the application ended");
  if (floodMs == 0) {
    NextFlood = {};
  } else if (NextFlood == Clock::time_point{}) {
    NextFlood = now + std::chrono::milliseconds(floodMs);
  } else if (now >= NextFlood) {
    NextFlood = now + std::chrono::milliseconds(floodMs);
    // Written as it is, not as a frame: the faults aimed at frames keep their count.
    const Bytes word = StatusFrame(Reply::LoaderReady);
    if (!away) WriteAll(word.data(), word.size());
  }
  if (State == Phase::Uploading) {
    if (now < BlockDeadline && !expired) return;
    const std::size_t had = In.size();
    In.clear();
    if (ExpectLen == 0) {
      if (had) Event(Format("block %d: %zu unexpected bytes dropped", CurrentBlock, had));
      RequestNextBlock();
    } else if (RetriesLeft > 0) {
      --RetriesLeft;
      Event(Format("block %d: timed out after %zu of %zu bytes, asking again", CurrentBlock, had,
                   ExpectLen));
      SendBlockRequest();
    } else {
      FinishUpload(UploadOutcome::Abandoned, Format("block %d never came", CurrentBlock));
    }
    return;
  }
  if (!TextPending.empty() && now - LastInput >= std::chrono::milliseconds(kTextGapMs)) FlushText();
  if (!In.empty() && now - LastInput >= std::chrono::milliseconds(kPartialCommandMs)) {
    Event("incomplete command taken as text: " + HexBytes(In.data(), In.size()));
    TextPending.append(In.begin(), In.end());
    In.clear();
    FlushText();
  }
}

void BoxSim::HandleCommand(const std::uint8_t* msg, std::size_t len) {
  const std::uint32_t word = GetBe32(msg);
  LogMessage({MessageKind::Command, word, -1, Bytes(msg, msg + len)});
  const std::uint8_t n = msg[1];
  if (n == kSyncNumber) {
    HandleSync();
    return;
  }
  if (State == Phase::AwaitSync ||
      (State == Phase::AppRunning && n != Cmd::Number(Cmd::RebootStb))) {
    Event("ignored " + HexBytes(msg, 4) +
          (State == Phase::AwaitSync ? " before sync" : " while the application runs"));
    return;
  }
  // Only messages that CommandLength knew come here.
  const BoxCommand command = FindCommand(n)->command;
  const Answer answer = AnswerFor(command);
  // The status words of a command that has them, as the tool's table of loader commands says.
  const LoaderCommand* words = nullptr;
  for (const LoaderCommand& row : LoaderCommands())
    if (Cmd::Number(row.Word) == n) words = &row;
  // ok: whether the box did what it was asked, as it then answers unless told never to.
  auto replyAs = [&](const std::string& what, bool ok) {
    if (answer == Answer::Never) {
      Event(what + " -> no answer");
      return;
    }
    Event(what + (ok ? " -> ok" : " -> fail"));
    SendFrame(StatusFrame(ok ? words->OkReply : words->FailReply));
  };
  auto reply = [&](const char* what) { replyAs(what, answer == Answer::Good); };

  switch (command) {
    case BoxCommand::VerifyBoot:
      reply("verify boot");
      return;
    case BoxCommand::VerifyApp:
      reply("verify app");
      return;
    case BoxCommand::LoaderVersion: {
      std::uint8_t version[2];
      {
        std::lock_guard lock(Mutex);
        version[0] = VersionMajor;
        version[1] = VersionMinor;
      }
      if (answer == Answer::Never) {
        Event("loader version -> no answer");
        return;
      }
      const Bytes frame = PayloadFrame(Reply::LoaderVersion, version, 2);
      Event(Format("loader version -> %d.%d%s", version[0], version[1],
                   answer == Answer::Bad ? " (bad crc)" : ""));
      SendFrame(answer == Answer::Good ? frame : Spoiled(frame));
      return;
    }
    case BoxCommand::RunApp:
      if (answer == Answer::Good) {
        int seconds;
        {
          std::lock_guard lock(Mutex);
          seconds = AppSeconds;
        }
        // As on a real box: the application has the line now, and the loader is gone until a
        // reboot, a power cycle or (with a time set) the application's end.
        Event("run app -> started: the loader answers nothing but reboot until " +
              (seconds > 0 ? Format("the application ends in %d s", seconds)
                           : std::string("a power cycle (SIGUSR1)")));
        SendText("Starting application...");
        State = Phase::AppRunning;
        AppUntil = seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point{};
      } else {
        reply("run app");
      }
      return;
    case BoxCommand::Reboot:
      Event("reboot -> waiting for sync");
      if (answer != Answer::Never) {
        SendText("");
        SendText("Rebooting...");
        SendText("Boot loader ready, waiting for sync");
      }
      State = Phase::AwaitSync;
      SyncAnswered = false;
      return;
    case BoxCommand::GetConfig: {
      if (answer == Answer::Never) {
        Event("get config -> no answer");
        return;
      }
      const Record record = ConfigRecord();
      // The record's own last four bytes are the frame's CRC: it goes out exactly as held.
      const Bytes frame = HexFrame(Reply::DlCfgRecord, record.data(), record.size());
      Event(Format("get config -> record, delivery type %d%s", record[88],
                   answer == Answer::Bad ? " (bad crc)" : ""));
      SendFrame(answer == Answer::Good ? frame : Spoiled(frame));
      return;
    }
    case BoxCommand::SetConfig: {
      Record record;
      std::copy(msg + 4, msg + 104, record.begin());
      const bool sealed = RecordSealed(record);
      const bool terminated = msg[104] == 0;
      if (answer == Answer::Good && sealed && terminated) {
        SetConfigRecord(record);
        reply("set config");
        return;
      }
      if (answer != Answer::Never) {
        Event(std::string("set config -> refused") + (!sealed ? " (crc fail)" : "") +
              (!terminated ? " (no trailing zero)" : ""));
        SendFrame(StatusFrame(Reply::SetDlCfgFail));
      } else {
        Event("set config -> no answer");
      }
      return;
    }
    case BoxCommand::DefaultConfig:
      if (answer == Answer::Good) SetConfigRecord(DefaultRecord());
      reply("default config");
      return;
    case BoxCommand::Tune: {
      const bool ok = CrcHolds(msg + 4, 5);
      const std::string what = Format("tune %u kHz bandwidth %u%s", GetLe32(msg + 4),
                                      unsigned{msg[8]}, ok ? "" : " (crc fail)");
      replyAs(what, ok && answer == Answer::Good);
      return;
    }
    case BoxCommand::Erase: {
      const std::uint32_t start = GetLe32(msg + 4);
      const std::uint32_t size = GetLe32(msg + 8);
      const bool crcOk = CrcHolds(msg + 4, 8);
      bool ok = false;
      if (crcOk && answer == Answer::Good) {
        std::lock_guard lock(Mutex);
        if (std::uint64_t{start} + size <= FlashImage.size()) {
          std::fill_n(FlashImage.begin() + start, size, 0xFF);
          ok = true;
        }
      }
      const std::string what = Format("erase 0x%X+0x%X%s", start, size, crcOk ? "" : " (crc fail)");
      replyAs(what, ok);
      return;
    }
    case BoxCommand::ReadFlash: {
      const std::uint32_t address = GetLe32(msg + 4);
      const std::uint32_t length = GetLe32(msg + 8);
      const bool crcOk = CrcHolds(msg + 4, 8);
      const std::string what =
          Format("read 0x%X+%u%s", address, length, crcOk ? "" : " (crc fail)");
      if (answer == Answer::Never) {
        Event(what + " -> no answer");
        return;
      }
      Bytes data;
      if (crcOk && answer == Answer::Good && length >= 1 && length <= 4096) {
        std::lock_guard lock(Mutex);
        if (std::uint64_t{address} + length <= FlashImage.size())
          data.assign(FlashImage.begin() + address, FlashImage.begin() + address + length);
      }
      if (data.empty()) {
        Event(what + " -> fail");
        SendFrame(StatusFrame(Reply::ReadFlashFail));
        return;
      }
      Event(what + " -> data");
      FrameInfo info;
      info.flashReply = true;
      SendFrame(PayloadFrame(Reply::FlashData, data), info);
      return;
    }
    case BoxCommand::Upload:
      HandleUploadCommand(msg);
      return;
    case BoxCommand::OtherWord:
      reply(words->CliName);
      return;
    case BoxCommand::Sync:
      return;
  }
}

void BoxSim::HandleSync() {
  {
    std::lock_guard lock(Mutex);
    ++SyncSeen;
  }
  if (AnswerFor(BoxCommand::Sync) == Answer::Never || State == Phase::AppRunning) return;
  const Clock::time_point now = Clock::now();
  if (SyncAnswered && now - SyncAnsweredAt < std::chrono::milliseconds(kSyncEchoMs)) return;
  SyncAnswered = true;
  SyncAnsweredAt = now;
  State = Phase::Ready;
  Event("sync -> stop-sync");
  SendFrame(StatusFrame(Reply::LoaderReady));
  std::string greeting;
  {
    std::lock_guard lock(Mutex);
    greeting = Greeting;
  }
  if (!greeting.empty()) SendText(greeting);
}

void BoxSim::LoaderStarts() {
  State = Phase::AwaitSync;
  SyncAnswered = false;
  AppUntil = {};
  In.clear();
  TextPending.clear();
  ExpectLen = 0;
  CurrentBlock = -1;
}

void BoxSim::BackToLoader(const std::string& why) {
  if (State == Phase::Uploading) FinishUpload(UploadOutcome::Stopped, why);
  LoaderStarts();
  Event(why + " -> loader waits for sync");
  SendText("Boot loader ready, waiting for sync");
}

}  // namespace boxsim
