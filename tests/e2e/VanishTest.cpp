#include <sys/resource.h>

#include <QElapsedTimer>

#include "tests/e2e/FaultFixture.h"
#include "tests/qt/Controls.h"

namespace {

// The tool opens the box through a link in the working folder, as a technician's
// /dev/serial/by-id name would be: the link outlives the device behind it.
class Vanish : public Misbehaving {
 protected:
  boxsim::BoxOptions BoxOptions() override {
    boxsim::BoxOptions options;
    options.linkPath = Path("ttyBOX");
    return options;
  }

  void SetUp() override {
    Misbehaving::SetUp();
    Control<QComboBox>(Program->form_uart, "Combo_port")
        ->setEditText(QString::fromStdString(Box->LinkPath()));
  }
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(Vanish, APortPulledMidUploadDisconnectsRestsAndConnectsAgain) {
  Connect();
  Box->SetBlockWait(60000, 0);
  const auto image = Image(6 * kBlock, 3);
  Box->SetExpectedImage(image);
  StartUpload(WriteFile("image.bin", image));
  ASSERT_TRUE(WaitForLog("Download 33%", 20000));
  Box->PullPlug();

  ASSERT_TRUE(WaitForLog("RS232 Disconnect"));
  const std::string log = Log();
  const std::size_t why =
      std::min(log.find("Serial port hung up"), log.find("Serial port read error"));
  ASSERT_NE(why, std::string::npos) << log;
  EXPECT_LT(why, log.find("RS232 Disconnect"));
  EXPECT_FALSE(Protocol().Connected());
  EXPECT_TRUE(Control<QToolButton>(Main(), "tbtn_UartConnect")->isEnabled());
  EXPECT_FALSE(Control<QToolButton>(Main(), "tbtn_UartDisconnect")->isEnabled());
  EXPECT_EQ(Count("RS232 Disconnect"), 1);

  // Waiting for a port to come back costs nothing: no worker spins on the dead one.
  const double cpuBefore = CpuSeconds();
  QElapsedTimer wall;
  wall.start();
  QTest::qWait(1000);
  const double share = (CpuSeconds() - cpuBefore) / (static_cast<double>(wall.elapsed()) / 1000);
  EXPECT_LT(share, 0.2);

  // While the link points nowhere, Connect says so and nothing changes.
  Boxes.clear();
  Control<QToolButton>(Main(), "tbtn_UartConnect")->click();
  EXPECT_FALSE(Protocol().Connected());
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes.front(), "Can't open " + Box->LinkPath());
  Boxes.clear();

  ASSERT_TRUE(Box->PlugIn());
  Control<QToolButton>(Main(), "tbtn_UartConnect")->click();
  ASSERT_TRUE(Protocol().Connected()) << (Boxes.empty() ? "" : Boxes.back());
  ASSERT_TRUE(Until([&] { return Count("Stop send sync byte") == 2; }, 5000));
  UploadAndCompare(Image(kBlock + 3, 4), "again.bin");
  EXPECT_TRUE(Boxes.empty()) << Boxes.front();
}

TEST_F(Vanish, APortPulledWhileIdleIsNoticedToo) {
  Connect();
  Box->PullPlug();
  ASSERT_TRUE(WaitForLog("RS232 Disconnect"));
  EXPECT_FALSE(Protocol().Connected());
  ASSERT_TRUE(Box->PlugIn());
  Control<QToolButton>(Main(), "tbtn_UartConnect")->click();
  ASSERT_TRUE(Protocol().Connected());
  EXPECT_TRUE(Until([&] { return Count("Stop send sync byte") == 2; }, 5000)) << Log();
}

TEST_F(Misbehaving, ASecondProgramOnTheSamePortGetsCantOpen) {
  Connect();
  const std::string device = Box->DevicePath();
  {
    Windows second(&Clock, Path("second.cfg"));
    Control<QComboBox>(second.form_uart, "Combo_port")->setEditText(QString::fromStdString(device));
    Control<QToolButton>(second.form_main, "tbtn_UartConnect")->click();
    EXPECT_FALSE(second.form_main.core().Connected());
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes.back(), "Can't open " + device);
    EXPECT_TRUE(Control<QToolButton>(second.form_main, "tbtn_UartConnect")->isEnabled());
  }
  Boxes.clear();
  // The first program never noticed.
  UploadAndCompare(Image(1000, 5), "one.bin");
  EXPECT_TRUE(Boxes.empty()) << Boxes.front();
}

}  // namespace
