#include <gtest/gtest.h>

#include <chrono>

#include "link/ReplyTimeout.h"
#include "link/UartRxThread.h"
#include "link/UartTxThread.h"
#include "platform/ProtocolThread.h"
#include "platform/Worker.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakePort.h"
#include "tests/support/LoopWait.h"
#include "tests/support/RecordingScreen.h"
#include "tests/support/TestBytes.h"

namespace {

using namespace std::chrono_literals;

std::size_t WriteCount(const FakePort& port) {
  return port.Writes().size();
}

// A transmit ring on a connected port, run by a real worker.
class TxWorker : public ::testing::Test {
 protected:
  TxWorker() {
    Line.OpenExclusive("COM1");
    Uart.UartConnected = true;
    Uart.ComHandle = &Line;
  }
  ~TxWorker() override { Thread.Stop(); }

  void Start() {
    Thread.Start([this](Worker& w) { Tx.Execute(w); }, false);
  }

  RunLoop GuiThread;
  RecordingScreen Screen;
  FakeClock Clock;
  ReplyTimeout Timeout{Screen, Clock};
  UartState Uart;
  FakePort Line;
  UartTxThread Tx{Uart, Screen, Timeout};
  Worker Thread{"tx", GuiThread};
};

TEST_F(TxWorker, RepeatsThekSyncWordWithItsPauseAndStopsWhenAsked) {
  Start();
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return WriteCount(Line) >= 4; }, 10000ms));
  Tx.SyncStopped = true;
  const std::size_t atStop = WriteCount(Line);
  GuiThread.RunFor(300ms);
  Thread.Stop();

  const auto writes = Line.Writes();
  for (const Bytes& write : writes) EXPECT_EQ(write, kSyncWord);
  // A sync word already queued when the flag was set still goes out; nothing after it.
  EXPECT_LE(writes.size(), atStop + 1);
  // Each write is followed by its 40 ms pause and a 10 ms sleep, and the next sync word is
  // only queued by the pass after that.
  const auto times = Line.WriteTimes();
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 50ms) << i;
  EXPECT_TRUE(Screen.Messages.empty());
}

TEST_F(TxWorker, WritesQueuedMessagesWithATimeoutForTheLine) {
  Uart.Settings.BaudRate = 9600;
  Tx.SyncStopped = true;
  const Bytes big(UartTxThread::SlotSize, 0x42);
  ASSERT_TRUE(Tx.TxEnqueue(static_cast<int>(big.size()), big.data()));
  Start();
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return Tx.QueuedCount() == 0; }, 10000ms));
  Thread.Stop();
  // Written in pieces, so that progress shows and a stop takes effect between two of them.
  const auto writes = Line.Writes();
  Bytes joined;
  for (const Bytes& write : writes) joined.insert(joined.end(), write.begin(), write.end());
  EXPECT_EQ(joined, big);
  EXPECT_GT(writes.size(), 1u);
  // The message as a whole gets the time it needs on the line: the first piece may use all of it.
  EXPECT_GT(Line.FirstWriteTimeoutMs(), UartTxThread::SlotSize * 10 / 9600 * 1000);
}

// A reply's answer must not wait for the protocol thread to finish whatever queued it: a worker
// asleep with nothing to write takes the message as it is queued. Named for a port that is
// closed and opened again before the worker got to it, it is named anew for the new open, so
// that it still counts as gone out once it has.
TEST_F(TxWorker, AMessageQueuedWhileTheWorkerSleepsGoesOutWithoutTheProtocolThread) {
  Tx.SyncStopped = true;
  Tx.Queued = [this] { Thread.Wake(); };
  Start();
  GuiThread.RunFor(100ms);  // the worker's pass finds nothing, and it goes to sleep
  const Bytes request = {0xAA, 0x28, 0x32, 0x11};
  ASSERT_TRUE(Tx.TxEnqueue(4, request.data()));
  // The protocol thread runs no routine meanwhile.
  WaitWithoutTheLoop([&] { return WriteCount(Line) > 0; }, 5000ms);
  ASSERT_EQ(Line.Writes(), std::vector<Bytes>{request});
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return Tx.QueuedCount() == 0; }, 5000ms));

  GuiThread.RunFor(100ms);
  Thread.Suspend();
  ASSERT_TRUE(Tx.TxEnqueue(4, request.data()));
  const std::uint64_t second = Tx.LastQueued();
  GuiThread.RunFor(50ms);
  Line.Close();
  Line.OpenExclusive("COM1");
  ++Uart.Opens;
  Thread.Resume();
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return Tx.Whereabouts(second) == UartTxThread::Progress::OnLine; }, 5000ms));
  EXPECT_EQ(Line.Writes(), (std::vector<Bytes>{request, request}));
  EXPECT_TRUE(Screen.Messages.empty());
}

class RxWorker : public ::testing::Test {
 protected:
  RxWorker() {
    Line.OpenExclusive("COM1");
    Uart.UartConnected = true;
    Uart.ComHandle = &Line;
    Rx.PortLost = [this](const std::string& why) {
      Lost.push_back(why);
      // As Disconnect and Connect do it: the worker is suspended while no port is open, and
      // resuming it is what tells it to look at the port again.
      if (DisconnectOnLoss) {
        Thread.Suspend();
        Uart.UartConnected = false;
        Line.Close();
      }
      if (ReconnectOnLoss) {
        Line.OpenExclusive("COM1");
        ++Uart.Opens;
        Uart.UartConnected = true;
        Thread.Resume();
      }
    };
  }
  ~RxWorker() override { Thread.Stop(); }

  void Start() {
    Thread.Start([this](Worker& w) { Rx.Execute(w); }, false);
  }

  RunLoop GuiThread;
  RecordingScreen Screen;
  UartState Uart;
  FakePort Line;
  RecordingSink Sink;
  FakeFlash Flash;
  UartRxThread Rx{Uart, Screen, Sink, Flash};
  std::vector<std::string> Lost;
  bool DisconnectOnLoss = true;
  bool ReconnectOnLoss = false;
  Worker Thread{"rx", GuiThread};
};

TEST_F(RxWorker, HandsTextAndFramesToTheGuiThread) {
  Start();
  Line.Say(ToBytes("Loader\r") + PayloadFrame(0xBB2621C2, {0x05, 0x06}) + WireWord(0xBB2421BE));
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return Sink.Items.size() >= 2 && !Sink.Words.empty(); }, 5000ms));
  EXPECT_EQ(Sink.Items[0].Data, ToBytes("Loader\r") + Bytes{0});
  EXPECT_EQ(Sink.Items[1].Kind, ItemKind::Reply);
  EXPECT_EQ(Sink.Items[1].Data, (WireWord(0xBB2621C2) + Bytes{0x05, 0x06}));
  EXPECT_EQ(Sink.Words, std::vector<std::uint32_t>{0xBB2421BE});
  EXPECT_TRUE(Lost.empty());
}

TEST_F(RxWorker, HungUpPortIsReportedOnceAndNotPolled) {
  Line.HangUp();
  Start();
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return !Lost.empty(); }, 5000ms));
  GuiThread.RunFor(300ms);
  EXPECT_EQ(Lost, std::vector<std::string>{"Serial port hung up"});
  // A spinning worker would have read many thousands of times by now.
  EXPECT_LT(Line.ReadCalls(), 100);
}

TEST_F(RxWorker, LostPortLeftOpenIsNotReadAgain) {
  DisconnectOnLoss = false;
  Line.HangUp();
  Start();
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return !Lost.empty(); }, 5000ms));
  const int reads = Line.ReadCalls();
  GuiThread.RunFor(300ms);
  EXPECT_EQ(Lost.size(), 1u);
  EXPECT_EQ(Line.ReadCalls(), reads);
}

// The same Port object comes back open: a Connect pressed before the receiver looked again
// must still be read, however quick.
TEST_F(RxWorker, APortOpenedAgainStraightAfterTheLossIsRead) {
  ReconnectOnLoss = true;
  Line.HangUp();
  Start();
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return !Lost.empty(); }, 5000ms));
  Line.Say(WireWord(0xBB2421BE));
  EXPECT_TRUE(WaitFor(
      GuiThread, [&] { return !Sink.Words.empty(); }, 5000ms));
  EXPECT_EQ(Lost.size(), 1u);
}

TEST_F(RxWorker, PortFailingEveryReadIsLost) {
  Line.FailReads();
  Start();
  ASSERT_TRUE(WaitFor(
      GuiThread, [&] { return !Lost.empty(); }, 5000ms));
  GuiThread.RunFor(100ms);
  EXPECT_EQ(Lost, std::vector<std::string>{"Serial port read error"});
  EXPECT_LT(Line.ReadCalls(), 100);
}

}  // namespace
