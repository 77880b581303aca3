#include <QElapsedTimer>

#include "tests/e2e/E2eFixture.h"

namespace {

// At 9600 baud one block of an upload is on the wire for well over 2 minutes.
using SlowLine = PacedEndToEnd<9600>;

TEST_F(SlowLine, ClosingTheWindowInsideALongBlockWriteReturnsAtOnce) {
  Main().show();
  Connect();
  StartUpload(WriteFile("image.bin", Image(2 * kBlock, 3)));
  // The first block is queued; wait until the box is taking it in, so that the transmit worker
  // is inside its write.
  ASSERT_TRUE(WaitForLog("Download "));
  const std::size_t before = Box->Received().size();
  ASSERT_TRUE(Until([&] { return Box->Received().size() > before + 1000; }));
  ASSERT_EQ(Box->LastUploadOutcome(), boxsim::UploadOutcome::InProgress);

  QElapsedTimer took;
  took.start();
  EXPECT_TRUE(Main().close());
  EXPECT_FALSE(Main().isVisible());
  Program.reset();
  EXPECT_LT(took.elapsed(), 1000);
}

}  // namespace
