#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "dlcfg/DlCfgRecord.h"
#include "tests/support/CoreBench.h"
#include "tests/support/LoopWait.h"
#include "tests/support/TestBytes.h"
#include "wire/Bytes.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

namespace {

using namespace std::chrono_literals;

PortRequest Request(const std::string& name) {
  PortRequest request;
  request.Name = name;
  return request;
}

TEST(Connect, AFailedConnectSaysWhyAndLeavesThePortClosed) {
  struct Case {
    const char* What;
    std::string Refusal;  // of the open
    std::int32_t Baud;
    int DataBits;
    std::string Box;
    std::string LogLine;
  };
  const Case cases[] = {
      {"port in use", "in use by another program", 115200, 8, "Can't open COM3",
       "Can't open COM3: in use by another program"},
      {"baud rate 0", "", 0, 8, "Can't set COM3", "Can't set COM3: baud rate 0 is not a speed"},
      {"nine data bits", "", 115200, 9, "Can't set COM3",
       "Can't set COM3: 9 data bits: only 5 to 8 are possible"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    CoreBench bench(CoreBench::Begin::Offline);
    bench.port.RefuseOpen(c.Refusal);
    PortRequest request = Request("COM3");
    request.BaudRate = c.Baud;
    request.DataBits = c.DataBits;
    EXPECT_FALSE(bench.core.OpenPort(request));
    EXPECT_EQ(bench.screen.Messages, std::vector<std::string>{c.Box});
    EXPECT_EQ(bench.screen.Log, std::vector<std::string>{c.LogLine});
    EXPECT_FALSE(bench.core.Connected());
    EXPECT_FALSE(bench.port.IsOpen());
    bench.RunFor(100ms);
    EXPECT_TRUE(bench.port.Writes().empty());
  }
}

TEST(Connect, ConnectSetsUpThePortAndDisconnectClosesIt) {
  CoreBench bench(CoreBench::Begin::Offline);
  // What the box said before the Connect is no answer to anything.
  bench.port.Say(TextLine("stale"));
  PortRequest request = Request("COM7");
  request.BaudRate = 9600;
  request.DataBits = 7;
  request.ParityMode = Parity::Even;
  request.Stop = StopBits::Two;
  ASSERT_TRUE(bench.core.OpenPort(request));
  EXPECT_TRUE(bench.core.Connected());
  EXPECT_EQ(bench.port.OpenedName(), "COM7");
  EXPECT_EQ(bench.core.OpenPortName(), "COM7");
  const LineSettings& settings = bench.core.PortSettings();
  EXPECT_EQ(settings.BaudRate, 9600u);
  EXPECT_EQ(settings.DataBits, 7);
  EXPECT_EQ(settings.ParityMode, Parity::Even);
  EXPECT_EQ(settings.Stop, StopBits::Two);
  EXPECT_EQ(bench.screen.Log, std::vector<std::string>{"Com port set up ok"});
  // The sync word until the loader answers.
  EXPECT_EQ(bench.SentAtLeast(2 * kSyncWord.size()), kSyncWord + kSyncWord);
  bench.LoaderReady();
  bench.Settle();
  EXPECT_FALSE(bench.screen.Logged("stale"));

  bench.core.ClosePort();
  EXPECT_FALSE(bench.core.Connected());
  EXPECT_FALSE(bench.port.IsOpen());
  EXPECT_EQ(bench.screen.LastLog(), "RS232 Disconnect");
  EXPECT_FALSE(bench.screen.CmdControls);

  // The same port opens again, and the loader is waited for again.
  ASSERT_TRUE(bench.Connect());
  EXPECT_EQ(bench.SentAtLeast(kSyncWord.size()), kSyncWord);
}

TEST(Connect, ALineBegunBeforeDisconnectIsNotGluedToTheNextBoxsFirstLine) {
  CoreBench bench;
  bench.port.Say(ToBytes("half a li"));
  ASSERT_TRUE(bench.Until([&] { return bench.port.Heard(); }));
  bench.core.ClosePort();
  ASSERT_TRUE(bench.Connect());
  bench.screen.Clear();
  bench.port.Say(TextLine("Loader ready"));
  ASSERT_TRUE(bench.Until([&] { return !bench.screen.Log.empty(); }));
  EXPECT_EQ(bench.screen.Log, std::vector<std::string>{"Loader ready"});
}

TEST(Connect, APortThatHangsUpIsClosedAndCanBeOpenedAgain) {
  CoreBench bench;
  bench.port.HangUp();
  ASSERT_TRUE(bench.Until([&] { return !bench.core.Connected(); }));
  EXPECT_EQ(bench.screen.Log,
            (std::vector<std::string>{"Serial port hung up", "RS232 Disconnect"}));
  EXPECT_FALSE(bench.port.IsOpen());
  EXPECT_TRUE(bench.screen.Messages.empty());

  ASSERT_TRUE(bench.Connect());
  bench.LoaderReady();
  bench.port.Say(TextLine("back"));
  bench.Settle();
  EXPECT_TRUE(bench.screen.Logged("back"));
}

bool Contains(const Bytes& stream, const Bytes& part) {
  return std::search(stream.begin(), stream.end(), part.begin(), part.end()) != stream.end();
}

// A sync word whose write ends just as the port is closed is reported after the close; it must
// not hold up the sync word of the next open, or a station waits for its next box for ever.
TEST(Connect, ASyncWordCutOffByTheCloseDoesNotHoldUpTheNextOpen) {
  CoreBench bench(CoreBench::Begin::Offline);
  bench.port.HoldWritesAfter(0);
  ASSERT_TRUE(bench.Connect());
  ASSERT_TRUE(bench.Until([&] { return bench.port.WriterHeld(); }));
  // The sync word goes out while nothing runs on the protocol thread: the worker's report of
  // it waits there, and the Disconnect comes first.
  bench.port.ReleaseWrites();
  ASSERT_TRUE(WaitWithoutTheLoop([&] { return !bench.port.Writes().empty(); }, 5s));
  bench.core.ClosePort();
  bench.RunFor(50ms);
  bench.port.TakeWritten();

  ASSERT_TRUE(bench.Connect());
  Bytes sent;
  EXPECT_TRUE(bench.Until([&] {
    const Bytes more = bench.port.TakeWritten();
    sent.insert(sent.end(), more.begin(), more.end());
    return Contains(sent, WireWord(Cmd::Sync));
  })) << "no sync word after the second Connect";
}

// What was queued for a box whose port was lost never reaches whatever box the next open finds.
TEST(Connect, MessagesQueuedForALostPortAreDroppedAndSaidSo) {
  CoreBench bench;
  bench.FillRing();
  ASSERT_TRUE(bench.Until([&] { return bench.port.WriterHeld(); }));
  bench.port.HangUp();
  ASSERT_TRUE(bench.Until([&] { return !bench.core.Connected(); }));
  EXPECT_TRUE(bench.screen.Logged("Dropped 14 messages queued for the lost port: never sent"));
  // The write that the line held has been aborted by the close.
  ASSERT_TRUE(bench.Until([&] { return !bench.port.WriterHeld(); }));
  bench.port.ReleaseWrites();
  bench.port.TakeWritten();

  ASSERT_TRUE(bench.Connect());
  // The new open's sync word goes out; a dropped message would have gone before it.
  Bytes sent;
  EXPECT_TRUE(bench.Until([&] {
    const Bytes more = bench.port.TakeWritten();
    sent.insert(sent.end(), more.begin(), more.end());
    return Contains(sent, WireWord(Cmd::Sync));
  }));
  bench.RunFor(100ms);
  const Bytes later = bench.port.TakeWritten();
  sent.insert(sent.end(), later.begin(), later.end());
  EXPECT_FALSE(Contains(sent, WireWord(Cmd::EraseFlash)));
}

TEST(Shutdown, EndsAWriteThatTheLineHolds) {
  CoreBench bench;
  bench.port.HoldWritesAfter(0);
  ASSERT_TRUE(bench.core.SendCmdWord(Cmd::VerifyBoot));
  ASSERT_TRUE(bench.Until([&] { return bench.port.WriterHeld(); }));
  // The line never moves again: only closing the port can end the write.
  bench.core.Shutdown();
  EXPECT_FALSE(bench.port.IsOpen());
}

// A clock that runs by itself, Speed times faster than real time, from 10:59:50: a reply wait
// of 20 s crosses the turn of the hour within a second or so.
class RunningClock : public Clock {
 public:
  static constexpr long long Speed = 10;
  LocalTime Now() override {
    const long long secs = ClockUs() / 1000000 + (10 * 60 + 59) * 60 + 50;
    return {static_cast<int>(secs / 3600 % 24), static_cast<int>(secs / 60 % 60),
            static_cast<int>(secs % 60)};
  }
  int MsUntilSecondTurns(int turns) override {
    const long long left = turns * 1000000LL - ClockUs() % 1000000;
    return static_cast<int>((left + Speed * 1000 - 1) / (Speed * 1000));
  }

 private:
  long long ClockUs() const {
    const auto real = std::chrono::steady_clock::now() - Start;
    return std::chrono::duration_cast<std::chrono::microseconds>(real).count() * Speed;
  }
  std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};

int SecondsBetween(const LocalTime& from, const LocalTime& to) {
  return ((to.Minute * 60 + to.Second) - (from.Minute * 60 + from.Second) + 3600) % 3600;
}

TEST(Idle, TheReplyWaitEndsOnTimeWhileTheTransmitWorkerSleepsThroughIt) {
  RecordingScreen screen;
  RunningClock clock;
  FakePort port;
  CountingLoop loop;
  TempDir dir;
  Core core(screen, clock, dir.Path(), loop, port);
  core.StartWorkers();
  ASSERT_TRUE(core.OpenPort(Request("COM3")));
  port.Say(WireWord(Reply::LoaderReady));
  ASSERT_TRUE(WaitFor(
      loop, [&] { return screen.Logged("Stop send sync byte"); }, 5000ms));
  ASSERT_TRUE(WaitFor(
      loop, [&] { return core.Written(core.LastQueued()); }, 5000ms));

  ASSERT_TRUE(core.SendCmdWord(Cmd::VerifyBoot));
  const LocalTime armed = clock.Now();
  const int posts = loop.Posts();
  ASSERT_TRUE(WaitFor(
      loop, [&] { return !screen.Messages.empty(); }, 20000ms));
  const LocalTime fired = clock.Now();
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Timeout!!"});
  EXPECT_FALSE(core.AwaitingReply());
  // Not before more than the 20 whole seconds armed have passed on the clock.
  EXPECT_GE(SecondsBetween(armed, fired), 21);
  // The command's write and the pass after its pause, then one pass when the wait is over: a
  // worker looking every transmit period would have handed over a couple of hundred.
  EXPECT_LE(loop.Posts() - posts, 8);
}

TEST(Idle, ASleepingEngineHandsNothingOverAndLeavesThePortAlone) {
  struct Case {
    const char* What;
    CoreBench::Begin Begin;
    std::function<void(CoreBench&)> Then;
  };
  const Case cases[] = {
      {"not connected", CoreBench::Begin::Offline, [](CoreBench&) {}},
      {"connected, the loader ready, the box silent", CoreBench::Begin::Ready, [](CoreBench&) {}},
      {"an answer awaited on a clock that stands still", CoreBench::Begin::Ready,
       [](CoreBench& bench) {
         ASSERT_TRUE(bench.core.SendCmdWord(Cmd::VerifyBoot));
         bench.Sent();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    CoreBench bench(c.Begin);
    c.Then(bench);
    // What is under way settles first: a write's pause, the pass after it.
    int settled = -1;
    for (int tries = 0; tries < 20 && settled != bench.loop.Posts(); ++tries) {
      settled = bench.loop.Posts();
      bench.RunFor(100ms);
    }
    const int reads = bench.port.ReadCalls();
    bench.RunFor(300ms);
    EXPECT_EQ(bench.loop.Posts(), settled);
    EXPECT_EQ(bench.port.ReadCalls(), reads);
    EXPECT_TRUE(bench.port.TakeWritten().empty());
  }
}

// Checked where asserts are compiled in: the sanitizer builds.
#ifndef NDEBUG
TEST(ThreadRule, AnOperationOffTheProtocolThreadIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        CoreBench bench(CoreBench::Begin::Offline);
        std::thread([&] { bench.core.Connected(); }).join();
      },
      "off its protocol thread");
}
#endif

}  // namespace

namespace {

// The engine's operation for a loader command, as the window's button or dialog calls it.
void Issue(Core& core, std::uint32_t word) {
  switch (word) {
    case Cmd::RebootStb:
      core.RebootStb();
      return;
    case Cmd::LoaderVersion:
      core.LoaderVersion();
      return;
    case Cmd::GetDlCfg:
      core.GetDlCfg();
      return;
    case Cmd::SetDlCfg: {
      const std::uint8_t record[DlCfgRecordSize] = {1};
      core.SetDlCfg(record);
      return;
    }
    case Cmd::TuneTest:
      core.TuneTest(11778000, 8);
      return;
    case Cmd::EraseFlash:
      core.EraseFlash(0x20000, 0x1000);
      return;
    default:
      core.SendLoaderCommand(word);
      return;
  }
}

}  // namespace

// Each row of the loader's table is what the engine does: whether the answer is awaited, which
// word settles it, and the words the log gives each outcome.
// The loader's commands as the protocol describes them, written out here byte for byte: each
// goes out as its word, waits or not, and its ok and fail words settle it with their texts. A
// row of the engine's table that swaps a word or a text, or waits when it should not, fails.
TEST(LoaderCommandTable, EveryCommandIsWhatTheProtocolSays) {
  const struct {
    Bytes Sent;  // the command's first bytes on the line
    bool Waits;
    Bytes Ok, Fail;  // empty: the command has no such word
    const char* OkLog;
    const char* FailLog;  // nullptr: the log says nothing (the dialog's caption does)
  } protocol[] = {
      {{0xAA, 0x02, 0x32, 0x04},
       true,
       {0xBB, 0x10, 0x21, 0x96},
       {0xBB, 0x11, 0x21, 0x98},
       nullptr,
       nullptr},
      {{0xAA, 0x04, 0x32, 0x0A},
       false,
       {0xBB, 0x12, 0x21, 0x9A},
       {0xBB, 0x13, 0x21, 0x9C},
       "ERASE OK",
       "ERASE fail"},
      {{0xAA, 0x06, 0x32, 0x10},
       true,
       {0xBB, 0x16, 0x21, 0xA2},
       {0xBB, 0x17, 0x21, 0xA4},
       "Verify boot code ok",
       "Verify boot code fail"},
      {{0xAA, 0x07, 0x32, 0x13},
       true,
       {0xBB, 0x18, 0x21, 0xA6},
       {0xBB, 0x19, 0x21, 0xA8},
       "Verify App ok",
       "Verify App fail"},
      {{0xAA, 0x08, 0x32, 0x16},
       false,
       {0xBB, 0x1A, 0x21, 0xAA},
       {0xBB, 0x1B, 0x21, 0xAC},
       "Tune test ok",
       "Tune test fail"},
      {{0xAA, 0x0B, 0x32, 0x1F},
       true,
       {0xBB, 0x1E, 0x21, 0xB2},
       {0xBB, 0x1F, 0x21, 0xB4},
       "Set default CFG ok",
       "Set default CFG fail"},
      {{0xAA, 0x0D, 0x32, 0x25}, true, {}, {0xBB, 0x20, 0x21, 0xB6}, nullptr, "Run App fail"},
      {{0xAA, 0x0C, 0x32, 0x22}, true, {}, {}, nullptr, nullptr},
      {{0xAA, 0x01, 0x32, 0x01}, true, {}, {}, nullptr, nullptr},
      {{0xAA, 0x09, 0x32, 0x19}, false, {}, {}, nullptr, nullptr},
  };
  ASSERT_EQ(LoaderCommands().size(), std::size(protocol)) << "a command the protocol lacks";
  for (const auto& c : protocol) {
    const LoaderCommand* row = LoaderCommandOf(GetBe32(c.Sent.data()));
    ASSERT_NE(row, nullptr) << "no row for a command of the protocol";
    for (const bool ok : {true, false}) {
      const Bytes& word = ok ? c.Ok : c.Fail;
      SCOPED_TRACE(testing::Message() << row->CliName << (ok ? " ok" : " fail"));
      CoreBench bench;
      Issue(bench.core, row->Word);
      const Bytes sent = bench.Sent();
      ASSERT_GE(sent.size(), 4u) << "nothing went out";
      EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 4), c.Sent);
      EXPECT_EQ(bench.core.AwaitingReply(), c.Waits);
      if (word.empty()) continue;
      bench.screen.Clear();
      bench.port.Say(word);
      bench.Settle();
      const auto settled = bench.screen.Of<ev::CommandSettled>();
      ASSERT_EQ(settled.size(), 1u);
      EXPECT_EQ(settled[0].Ok(), ok);
      const char* log = ok ? c.OkLog : c.FailLog;
      if (log != nullptr) {
        EXPECT_EQ(bench.screen.Log, std::vector<std::string>{log});
      } else {
        EXPECT_TRUE(bench.screen.Log.empty());
      }
      EXPECT_FALSE(bench.core.AwaitingReply());
    }
  }
}
