#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "tests/support/Pty.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes AllByteValues() {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  return all;
}

// Reads until want bytes came or a read reports anything but Ok.
Bytes ReadAll(SerialPort& port, std::size_t want) {
  Bytes got;
  std::uint8_t buffer[512];
  while (got.size() < want) {
    IoResult r = port.Read(buffer, sizeof buffer, 2000);
    if (r.Status != IoStatus::Ok) break;
    got.insert(got.end(), buffer, buffer + r.Count);
  }
  return got;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Line.SlavePath.empty());
    ASSERT_TRUE(Port.OpenExclusive(Line.SlavePath));
  }
  // Left as the driver sets it up, so that the port has to make it raw itself.
  Pty Line{false};
  SerialPort Port;
};

}  // namespace

TEST(SerialPortPath, MapsNamesToDevices) {
  const std::string longPath =
      "/dev/serial/by-id/usb-Adapter_Maker_Cable_With_A_Long_Name-if00-port0";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"COM1", "/dev/ttyS0"},
      {"COM8", "/dev/ttyS7"},
      {"COM9", "/dev/COM9"},
      {"COM10", "/dev/COM10"},
      {"ttyUSB0", "/dev/ttyUSB0"},
      {longPath, longPath},
      {"/tmp/COM1", "/tmp/COM1"},
      // Any name with a slash is a path, as a shell takes it: the link in the current folder.
      {"./box", "./box"},
      {"run/box", "run/box"},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(SerialPort::DevicePath(name), path) << name;
}

TEST(SerialPortOpen, MissingDeviceOrNonTerminalStaysClosed) {
  SerialPort port;
  EXPECT_FALSE(port.OpenExclusive("/dev/kelvarin-no-such-port"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.OpenExclusive("/dev/null"));
  EXPECT_FALSE(port.IsOpen());
  std::uint8_t b = 0;
  EXPECT_EQ(port.Read(&b, 1, 10).Status, IoStatus::NotOpen);
  EXPECT_EQ(port.Write(&b, 1, 10).Status, IoStatus::NotOpen);
  LineSettings s;
  EXPECT_FALSE(port.GetSettings(s));
  port.Purge();
  port.Close();
}

TEST_F(SerialPortTest, CloseIsIdempotentAndThePortReopens) {
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_FALSE(Port.OpenExclusive(Line.SlavePath));  // already open: left as it is
  EXPECT_TRUE(Port.IsOpen());
  Port.Close();
  EXPECT_FALSE(Port.IsOpen());
  Port.Close();
  ASSERT_TRUE(Port.OpenExclusive(Line.SlavePath));
  Line.Write(Bytes{0x42});
  EXPECT_EQ(ReadAll(Port, 1), Bytes{0x42});
}

TEST_F(SerialPortTest, SecondOpenerIsRefusedUntilClose) {
  SerialPort other;
  EXPECT_FALSE(other.OpenExclusive(Line.SlavePath));
  EXPECT_FALSE(other.IsOpen());
  Port.Close();
  EXPECT_TRUE(other.OpenExclusive(Line.SlavePath));
}

TEST_F(SerialPortTest, OpensRawWithoutFlowControlEvenWhenAnotherProgramLeftItOn) {
  termios tio = Line.SlaveSettings();
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);

  // A three-wire cable never raises CTS: a port left with RTS/CTS would hold every write, and
  // XON/XOFF would swallow bytes of a block.
  Port.Close();
  tio.c_cflag |= CRTSCTS;
  tio.c_iflag |= IXON | IXOFF | IXANY;
  ASSERT_EQ(::tcsetattr(Line.Slave, TCSANOW, &tio), 0);
  ASSERT_NE(Line.SlaveSettings().c_cflag & CRTSCTS, 0u) << "the pty keeps the flag";
  ASSERT_TRUE(Port.OpenExclusive(Line.SlavePath));
  EXPECT_EQ(Line.SlaveSettings().c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(Line.SlaveSettings().c_iflag & (IXON | IXOFF | IXANY), 0u);

  // Set again while the port is open, it goes with the next change of line settings.
  tio = Line.SlaveSettings();
  tio.c_cflag |= CRTSCTS;
  ASSERT_EQ(::tcsetattr(Line.Slave, TCSANOW, &tio), 0);
  ASSERT_TRUE(Port.SetSettings({9600, 7, Parity::Even, StopBits::Two}));
  EXPECT_EQ(Line.SlaveSettings().c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(Line.SlaveSettings().c_lflag & ICANON, 0u);
}

// An open that fails leaves the port as it found it: not exclusive, so that the program that
// holds it can still open it again, and not raw.
TEST(SerialPortOpen, AFailedOpenLeavesThePortAsItWas) {
  Pty line(false);
  ASSERT_FALSE(line.SlavePath.empty());
  const auto exclusive = [&] {
    int on = 0;
    return ::ioctl(line.Slave, TIOCGEXCL, &on) == 0 && on != 0;
  };
  const auto cooked = [&] { return (line.SlaveSettings().c_lflag & ICANON) != 0; };
  ASSERT_TRUE(cooked());

  // Another copy of the program holds the port's lock.
  {
    const int holder = ::open(line.SlavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    SerialPort port;
    EXPECT_FALSE(port.OpenExclusive(line.SlavePath));
    EXPECT_EQ(port.LastError(), "in use by another program");
    EXPECT_FALSE(exclusive());
    EXPECT_TRUE(cooked());
    ::close(holder);
  }

  // The process runs out of descriptors half-way: the port itself opens, what it needs next
  // does not.
  {
    const int lowest = ::dup(0);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest) + 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    SerialPort port;
    const bool opened = port.OpenExclusive(line.SlavePath);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(exclusive());
    EXPECT_TRUE(cooked());
  }

  SerialPort port;
  ASSERT_TRUE(port.OpenExclusive(line.SlavePath));
  EXPECT_TRUE(exclusive());
  EXPECT_FALSE(cooked());
  port.Close();
  EXPECT_FALSE(exclusive());
  EXPECT_TRUE(cooked());
}

TEST_F(SerialPortTest, RefusesWhatADriverWouldAndKeepsTheOldSettings) {
  ASSERT_TRUE(Port.SetSettings({19200, 8, Parity::None, StopBits::One}));
  EXPECT_FALSE(Port.SetSettings({0, 8, Parity::None, StopBits::One}));
  EXPECT_FALSE(Port.SetSettings({19200, 4, Parity::None, StopBits::One}));
  EXPECT_FALSE(Port.SetSettings({19200, 9, Parity::None, StopBits::One}));
  LineSettings now;
  ASSERT_TRUE(Port.GetSettings(now));
  EXPECT_EQ(now.BaudRate, 19200u);
  EXPECT_EQ(now.DataBits, 8);
}

// A pseudo-terminal forces 8 data bits and no parity whatever it is told, so only the
// speed and the stop bits can be read back here.
TEST_F(SerialPortTest, AnyBaudRateAndStopBitsReadBack) {
  const LineSettings cases[] = {
      {250000, 7, Parity::Odd, StopBits::Two},
      {115200, 8, Parity::None, StopBits::One},
      {1234, 5, Parity::Even, StopBits::Two},
      {3000000, 6, Parity::Odd, StopBits::One},
  };
  for (const LineSettings& want : cases) {
    SCOPED_TRACE(want.BaudRate);
    ASSERT_TRUE(Port.SetSettings(want));
    LineSettings got;
    ASSERT_TRUE(Port.GetSettings(got));
    EXPECT_EQ(got.BaudRate, want.BaudRate);
    EXPECT_EQ(got.Stop, want.Stop);
  }
}

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays) {
  const Bytes all = AllByteValues();
  Line.Write(all);
  EXPECT_EQ(ReadAll(Port, all.size()), all);

  IoResult w = Port.Write(all.data(), all.size(), 1000);
  EXPECT_EQ(w.Status, IoStatus::Ok);
  EXPECT_EQ(w.Count, all.size());
  EXPECT_EQ(Line.Read(10000, all.size()), all);
}

TEST_F(SerialPortTest, ReadReturnsWhatIsThereAndTimesOutOnSilence) {
  std::uint8_t buffer[64];
  IoResult quiet = Port.Read(buffer, sizeof buffer, 30);
  EXPECT_EQ(quiet.Status, IoStatus::TimedOut);
  EXPECT_EQ(quiet.Count, 0u);

  Line.Write(Bytes{1, 2, 3});
  EXPECT_EQ(ReadAll(Port, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(Port.Read(buffer, sizeof buffer, 30).Status, IoStatus::TimedOut);
}

TEST_F(SerialPortTest, PurgeDropsUnreadInput) {
  Line.Write(Bytes{9, 9, 9, 9});
  for (int i = 0; i < 200 && Line.Waiting() < 4; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(Line.Waiting(), 4);
  Port.Purge();
  std::uint8_t b;
  EXPECT_EQ(Port.Read(&b, 1, 30).Status, IoStatus::TimedOut);
}

TEST_F(SerialPortTest, LargeWriteArrivesWholeWhenTheFarEndDrains) {
  Bytes data(200 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  auto drained = std::async(std::launch::async, [&] { return Line.Read(10000, data.size()); });
  IoResult w = Port.Write(data.data(), data.size(), 10000);
  EXPECT_EQ(w.Status, IoStatus::Ok);
  EXPECT_EQ(w.Count, data.size());
  EXPECT_TRUE(drained.get() == data);
}

TEST_F(SerialPortTest, WriteThatCannotFinishIsNotReportedDone) {
  // Nobody reads the master: the line's buffers fill and the rest cannot go out.
  Bytes data(1024 * 1024, 0x55);
  IoResult w = Port.Write(data.data(), data.size(), 100);
  EXPECT_EQ(w.Status, IoStatus::TimedOut);
  EXPECT_LT(w.Count, data.size());
}

TEST_F(SerialPortTest, CloseFromAnotherThreadAbortsWaitingCalls) {
  auto reading = std::async(std::launch::async, [&] {
    std::uint8_t b;
    return Port.Read(&b, 1, 20000);
  });
  Bytes data(1024 * 1024, 0xAA);
  auto writing =
      std::async(std::launch::async, [&] { return Port.Write(data.data(), data.size(), 20000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Port.Close();
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_EQ(reading.get().Status, IoStatus::Aborted);
  IoResult w = writing.get();
  EXPECT_EQ(w.Status, IoStatus::Aborted);
  EXPECT_LT(w.Count, data.size());
}

TEST_F(SerialPortTest, FarEndGoingAwayIsReportedAsHangUp) {
  Line.CloseMaster();
  std::uint8_t buffer[16] = {};
  // Every call says so, instead of a time-out the caller would retry for ever.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Port.Read(buffer, sizeof buffer, 5000).Status, IoStatus::HungUp);
  EXPECT_EQ(Port.Write(buffer, sizeof buffer, 5000).Status, IoStatus::HungUp);
  // A queue that can no longer be asked about is no queue that has emptied.
  EXPECT_EQ(Port.Drain(1000).Status, IoStatus::HungUp);
  Port.Close();
  EXPECT_FALSE(Port.IsOpen());
}

TEST_F(SerialPortTest, HangUpEndsAReadAlreadyWaiting) {
  auto reading = std::async(std::launch::async, [&] {
    std::uint8_t b;
    return Port.Read(&b, 1, 20000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Line.CloseMaster();
  EXPECT_EQ(reading.get().Status, IoStatus::HungUp);
}

// Another program finds the port as it left it: whatever the port found at open is back after
// close, however it was set meanwhile.
TEST(SerialPortClose, PutsBackTheSettingsFoundAtOpen) {
  Pty line(false);
  ASSERT_TRUE(line.Ok());
  termios found = line.SlaveSettings();
  found.c_cflag = (found.c_cflag & ~(CSIZE | CBAUD)) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
  cfsetispeed(&found, B2400);
  cfsetospeed(&found, B2400);
  found.c_iflag |= IXON | ICRNL;
  found.c_lflag |= ICANON | ECHO | ISIG;
  found.c_cc[VMIN] = 3;
  found.c_cc[VTIME] = 7;
  ASSERT_EQ(tcsetattr(line.Slave, TCSANOW, &found), 0);
  found = line.SlaveSettings();

  SerialPort port;
  ASSERT_TRUE(port.OpenExclusive(line.SlavePath));
  ASSERT_TRUE(port.SetSettings({115200, 8, Parity::None, StopBits::One}));
  EXPECT_NE(line.SlaveSettings().c_cflag, found.c_cflag);
  port.Close();

  const termios after = line.SlaveSettings();
  EXPECT_EQ(after.c_iflag, found.c_iflag);
  EXPECT_EQ(after.c_oflag, found.c_oflag);
  EXPECT_EQ(after.c_cflag, found.c_cflag);
  EXPECT_EQ(after.c_lflag, found.c_lflag);
  EXPECT_EQ(cfgetispeed(&after), B2400);
  EXPECT_EQ(cfgetospeed(&after), B2400);
  for (int i = 0; i < NCCS; ++i) EXPECT_EQ(after.c_cc[i], found.c_cc[i]) << i;
}
