#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/Port.h"
#include "platform/TransferEnd.h"

TEST(SpeedNotTaken, ALineRunsOnlyNearTheSpeedAsked) {
  struct Case {
    std::uint32_t Asked;
    std::uint32_t Running;
    const char* Why;  // empty: the port may be used
  };
  const Case cases[] = {
      {115200, 115200, ""},
      {250000, 250000, ""},
      // What a divider really gives, as some drivers report it.
      {921600, 923077, ""},
      {9600, 9792, ""},
      {9600, 9408, ""},
      // An 8250 on its usual clock keeps the speed it had.
      {921600, 115200, "the driver runs it at 115200 baud, not 921600"},
      {460800, 9600, "the driver runs it at 9600 baud, not 460800"},
      // Nearer, but still too far for the two ends to read each other.
      {250000, 230400, "the driver runs it at 230400 baud, not 250000"},
      {9600, 9793, "the driver runs it at 9793 baud, not 9600"},
      {115200, 0, "the driver runs it at 0 baud, not 115200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Asked) + " asked, " + std::to_string(c.Running) + " running");
    EXPECT_EQ(SpeedNotTaken(c.Asked, c.Running), c.Why);
  }
}

// A write the system completed just as its time-out ran out is written, not an error; one it
// cut short, or one still under way when a close came, is not.
TEST(TransferEnd, ACompletedTransferIsDoneWhateverTheWaitGave) {
  struct Case {
    IoStatus Waited;
    bool Done;
    std::size_t Moved;
    IoStatus Ended;
  };
  const Case cases[] = {
      {IoStatus::Ok, true, 64, IoStatus::Ok},
      {IoStatus::TimedOut, true, 64, IoStatus::Ok},
      {IoStatus::TimedOut, true, 63, IoStatus::TimedOut},
      {IoStatus::TimedOut, false, 0, IoStatus::TimedOut},
      {IoStatus::Aborted, true, 64, IoStatus::Aborted},
      {IoStatus::Aborted, false, 10, IoStatus::Aborted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Waited) * 1000 + c.Done * 100 + static_cast<int>(c.Moved));
    EXPECT_EQ(TransferEnd(c.Waited, c.Done, c.Moved, 64), c.Ended);
  }
}
