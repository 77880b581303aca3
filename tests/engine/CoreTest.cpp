#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/CoreBench.h"
#include "tests/support/TestBytes.h"
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

TEST(Shutdown, EndsAWriteThatTheLineHolds) {
  CoreBench bench;
  bench.port.HoldWritesAfter(0);
  ASSERT_TRUE(bench.core.SendCmdWord(Cmd::VerifyBoot));
  ASSERT_TRUE(bench.Until([&] { return bench.port.WriterHeld(); }));
  // The line never moves again: only closing the port can end the write.
  bench.core.Shutdown();
  EXPECT_FALSE(bench.port.IsOpen());
}

}  // namespace
