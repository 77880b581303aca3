#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "link/ReplyTimeout.h"
#include "link/UartTxThread.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingScreen.h"
#include "tests/support/TestBytes.h"

namespace {

class TxRing : public ::testing::Test {
 protected:
  TxRing() {
    Line.OpenExclusive("COM1");
    Uart.UartConnected = true;
    Uart.ComHandle = &Line;
  }

  // One period as the worker runs it, minus the sleeps: unless told otherwise the bytes then
  // have their line time and the port says they have left. True when something was written.
  bool Period(bool settle = true) {
    UartTxThread::Outgoing out;
    if (!Tx.TxPass(out)) return false;
    const IoResult result =
        out.Target->Write(out.Data, static_cast<std::size_t>(out.Length), out.TimeoutMs);
    Last = out;
    Tx.TxWritten(result);
    if (settle && result.Count > 0) Tx.LineSettled(out.Number, out.Open, IoStatus::Ok);
    return true;
  }
  UartTxThread::Outgoing Last;

  bool Enqueue(const Bytes& message) {
    return Tx.TxEnqueue(static_cast<int>(message.size()), message.data());
  }

  RecordingScreen Screen;
  FakeClock Time;
  ReplyTimeout Timeout{Screen, Time};
  UartState Uart;
  FakePort Line;
  UartTxThread Tx{Uart, Screen, Timeout};
};

TEST_F(TxRing, RefusesWhenNotConnectedAndClearsTheEntry) {
  Uart.UartConnected = false;
  EXPECT_FALSE(Enqueue({1, 2, 3}));
  EXPECT_EQ(Screen.Messages, std::vector<std::string>{"Uart does not connected"});
  EXPECT_EQ(Screen.CommandEntryCleared, 1);
  EXPECT_EQ(Tx.QueuedCount(), 0);
}

TEST_F(TxRing, ChecksTheReplyTimeoutEveryPassEvenWhenNotConnected) {
  Uart.UartConnected = false;
  Time.Set(10, 0);
  Timeout.SetReplyTimeout(true, 20);
  Time.Set(10, 21);
  EXPECT_FALSE(Period());
  EXPECT_EQ(Screen.Messages, std::vector<std::string>{"Timeout!!"});
  EXPECT_TRUE(Line.Writes().empty());
  EXPECT_EQ(Tx.QueuedCount(), 0);
}

TEST_F(TxRing, HoldsFifteenMessagesAndRefusesTheSixteenth) {
  for (int i = 0; i < 15; ++i) ASSERT_TRUE(Enqueue({static_cast<std::uint8_t>(i)})) << i;
  EXPECT_EQ(Tx.FreeSlots(), 0);
  EXPECT_FALSE(Enqueue({99}));
  EXPECT_EQ(Screen.Messages, std::vector<std::string>{"Tx queue is full"});
  EXPECT_EQ(Tx.QueuedCount(), 15);

  // One written frees one place; the ring wraps and keeps the order.
  ASSERT_TRUE(Period());
  EXPECT_TRUE(Enqueue({15}));
  while (Period()) {
  }
  ASSERT_EQ(Line.Writes().size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Line.Writes()[i], Bytes{static_cast<std::uint8_t>(i)});
}

TEST_F(TxRing, TakesExactlyOneSlotOfBytesInOneWrite) {
  Bytes full(UartTxThread::SlotSize);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_TRUE(Enqueue(full));
  Bytes tooLong(UartTxThread::SlotSize + 1);
  EXPECT_FALSE(Enqueue(tooLong));
  EXPECT_EQ(Screen.Messages, std::vector<std::string>{"Tx data length is longer than buffer"});

  ASSERT_TRUE(Period());
  ASSERT_EQ(Line.Writes().size(), 1u);
  EXPECT_EQ(Line.Writes()[0], full);
}

TEST_F(TxRing, RefusesANegativeLengthWithoutCopying) {
  const std::uint8_t byte = 1;
  EXPECT_FALSE(Tx.TxEnqueue(-1, &byte));
  EXPECT_EQ(Tx.QueuedCount(), 0);
}

TEST_F(TxRing, CopiesTheCallersBytesAtOnce) {
  Bytes message = WireWord(0xAA0C3222);
  ASSERT_TRUE(Enqueue(message));
  message.assign(4, 0);
  ASSERT_TRUE(Period());
  EXPECT_EQ(Line.Writes().at(0), (Bytes{0xAA, 0x0C, 0x32, 0x22}));
}

TEST_F(TxRing, kSyncWordIsQueuedByOnePassAndWrittenByTheNext) {
  EXPECT_FALSE(Period());
  EXPECT_TRUE(Line.Writes().empty());
  EXPECT_EQ(Tx.QueuedCount(), 1);
  EXPECT_TRUE(Period());
  EXPECT_EQ(Line.Writes(), std::vector<Bytes>{kSyncWord});

  EXPECT_FALSE(Period());
  EXPECT_TRUE(Period());
  EXPECT_EQ(Line.Writes().size(), 2u);
}

// On a slow line a sync word takes longer than a period: the next one waits until the port has
// sent it, so that a command never finds more than one sync word ahead of it.
TEST_F(TxRing, ASyncWordWaitsForTheOneBeforeToLeaveThePort) {
  Uart.Settings = {300, 8, Parity::None, StopBits::One};
  EXPECT_FALSE(Period());
  ASSERT_TRUE(Period(false));
  const UartTxThread::Outgoing sync = Last;
  EXPECT_TRUE(sync.Sync);
  EXPECT_EQ(sync.LineTime, std::chrono::microseconds(166667)) << "5 bytes of 10 bits at 300 baud";
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(Period());
  EXPECT_EQ(Tx.QueuedCount(), 0) << "no sync word while the last one is on its way";

  // A command goes at once, behind the one sync word.
  ASSERT_TRUE(Enqueue(WireWord(0xAA0C3222)));
  ASSERT_TRUE(Period(false));
  EXPECT_FALSE(Last.Sync);
  EXPECT_EQ(Line.Writes(), (std::vector<Bytes>{kSyncWord, WireWord(0xAA0C3222)}));

  // Once that sync word has left the port the next may follow; the command does not hold it.
  Tx.LineSettled(sync.Number, sync.Open, IoStatus::Ok);
  EXPECT_FALSE(Period());
  EXPECT_EQ(Tx.QueuedCount(), 1);
  EXPECT_EQ(Tx.Whereabouts(Last.Number), UartTxThread::Progress::Leaving);
}

// "Sent" is a message's bytes gone out on the line: written, and the port drained after their
// line time. Anything less is lost, not sent.
TEST_F(TxRing, AMessageIsOnTheLineOnlyOnceThePortHasSentIt) {
  using P = UartTxThread::Progress;
  Tx.SyncStopped = true;
  struct Case {
    const char* What;
    std::function<void(std::uint64_t)> Then;  // after the write
    IoResult Written;
    P Before;  // once written, before Then
    P After;
  };
  const Case cases[] = {
      {"drained",
       [&](std::uint64_t n) { Tx.LineSettled(n, Last.Open, IoStatus::Ok); },
       {IoStatus::Ok, 4},
       P::Leaving,
       P::OnLine},
      {"held on the line",
       [&](std::uint64_t n) { Tx.LineSettled(n, Last.Open, IoStatus::TimedOut); },
       {IoStatus::Ok, 4},
       P::Leaving,
       P::Lost},
      {"port closed first",
       [&](std::uint64_t) { Tx.LineClosed(); },
       {IoStatus::Ok, 4},
       P::Leaving,
       P::Lost},
      {"write cut short", [](std::uint64_t) {}, {IoStatus::TimedOut, 2}, P::Lost, P::Lost},
      {"write failed", [](std::uint64_t) {}, {IoStatus::Failed, 0}, P::Lost, P::Lost},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_TRUE(Enqueue({1, 2, 3, 4}));
    const std::uint64_t n = Tx.LastQueued();
    EXPECT_EQ(Tx.Whereabouts(n), P::Queued);
    ASSERT_TRUE(Tx.TxPass(Last));
    EXPECT_EQ(Tx.Whereabouts(n), P::Queued) << "being written";
    Tx.TxWritten(c.Written);
    EXPECT_EQ(Tx.Whereabouts(n), c.Before);
    c.Then(n);
    EXPECT_EQ(Tx.Whereabouts(n), c.After);
  }

  // One dropped before it was written is lost, even when the message behind it went out.
  ASSERT_TRUE(Enqueue({5}));
  const std::uint64_t dropped = Tx.LastQueued();
  ASSERT_TRUE(Enqueue({6}));
  Tx.Abandon(dropped);
  EXPECT_FALSE(Period()) << "skipped";
  EXPECT_TRUE(Period());
  EXPECT_EQ(Tx.Whereabouts(dropped), P::Lost);
  EXPECT_EQ(Tx.Whereabouts(dropped + 1), P::OnLine);
}

TEST_F(TxRing, NokSyncWordWhileStoppedOrWhileMessagesWait) {
  Tx.SyncStopped = true;
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(Period());
  EXPECT_EQ(Tx.QueuedCount(), 0);
  EXPECT_TRUE(Line.Writes().empty());

  Tx.SyncStopped = false;
  ASSERT_TRUE(Enqueue({1}));
  ASSERT_TRUE(Enqueue({2}));
  EXPECT_TRUE(Period());
  EXPECT_TRUE(Period());
  EXPECT_EQ(Line.Writes(), (std::vector<Bytes>{{1}, {2}}));
}

TEST_F(TxRing, ZeroLengthMessageAdvancesWithoutAWrite) {
  Tx.SyncStopped = true;
  ASSERT_TRUE(Tx.TxEnqueue(0, nullptr));
  EXPECT_EQ(Tx.QueuedCount(), 1);
  EXPECT_FALSE(Period());
  EXPECT_EQ(Tx.QueuedCount(), 0);
  EXPECT_TRUE(Line.Writes().empty());
}

TEST_F(TxRing, MessagesLeftAtDisconnectGoOutAfterTheNextConnect) {
  ASSERT_TRUE(Enqueue({7}));
  Uart.UartConnected = false;
  EXPECT_FALSE(Period());
  Uart.UartConnected = true;
  EXPECT_TRUE(Period());
  EXPECT_EQ(Line.Writes(), std::vector<Bytes>{{7}});
}

// The worker hands TxWritten what its write came to; these are the ways a write goes wrong.
TEST_F(TxRing, FailedShortOrTimedOutWritesAreReportedAndDropped) {
  Tx.SyncStopped = true;
  const IoResult failures[] = {
      {IoStatus::Failed, 0}, {IoStatus::Ok, 3}, {IoStatus::TimedOut, 2}, {IoStatus::HungUp, 0}};
  for (const IoResult& answer : failures) {
    Screen.Clear();
    ASSERT_TRUE(Enqueue({1, 2, 3, 4}));
    UartTxThread::Outgoing out;
    ASSERT_TRUE(Tx.TxPass(out));
    Tx.TxWritten(answer);
    EXPECT_EQ(Screen.Messages, std::vector<std::string>{"writeFile error"});
    EXPECT_EQ(Tx.QueuedCount(), 0);
    UartTxThread::Outgoing next;
    EXPECT_FALSE(Tx.TxPass(next));
  }
}

TEST_F(TxRing, WriteAbortedByClosingThePortIsDroppedQuietly) {
  ASSERT_TRUE(Enqueue({1, 2}));
  UartTxThread::Outgoing out;
  ASSERT_TRUE(Tx.TxPass(out));
  Tx.TxWritten({IoStatus::Aborted, 1});
  EXPECT_TRUE(Screen.Messages.empty());
  EXPECT_EQ(Tx.QueuedCount(), 0);
}

TEST_F(TxRing, WriteTimeoutCoversTheLineTimeAtTheAppliedSettings) {
  Uart.Settings = {1200, 8, Parity::None, StopBits::One};
  Bytes message(1000, 0x55);
  ASSERT_TRUE(Enqueue(message));
  UartTxThread::Outgoing out;
  ASSERT_TRUE(Tx.TxPass(out));
  // 1000 bytes of 10 bits at 1200 baud need 8334 ms on the line.
  EXPECT_GT(out.TimeoutMs, 8334);
  Tx.TxWritten({IoStatus::Ok, 1000});

  // Start, 7 data, parity and two stop bits make 11 bits a byte.
  const LineSettings slow{300, 7, Parity::Even, StopBits::Two};
  const int full = UartTxThread::WriteTimeoutMs(slow, UartTxThread::SlotSize);
  EXPECT_GT(full, UartTxThread::SlotSize * 11LL * 1000 / 300);
  EXPECT_LT(full, UartTxThread::SlotSize * 11LL * 1000 / 300 * 2 + 1000);
  EXPECT_GE(UartTxThread::WriteTimeoutMs({3000000, 8, Parity::None, StopBits::One}, 5), 100);
  EXPECT_GT(
      UartTxThread::WriteTimeoutMs({1, 8, Parity::None, StopBits::One}, UartTxThread::SlotSize), 0);
}

// Checked where asserts are compiled in: the sanitizer builds.
#ifndef NDEBUG
TEST(TxRingThreadRule, AnOperationOffItsProtocolThreadIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        RecordingScreen screen;
        FakeClock clock;
        ReplyTimeout timeout(screen, clock);
        UartState uart;
        RunLoop loop;
        UartTxThread tx(uart, screen, timeout);
        tx.BindToThread(loop);
        const std::uint8_t byte = 1;
        std::thread([&] { tx.TxEnqueue(1, &byte); }).join();
      },
      "off its protocol thread");
}
#endif

}  // namespace
