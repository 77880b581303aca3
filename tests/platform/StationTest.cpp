#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/Station.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace {

// A station's row is finished by its own process only while that process runs: one that has
// ended counts as gone even before its parent has taken its status.
TEST(Station, AProcessThatEndedIsGoneBeforeItsParentTakesItsStatus) {
  const pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  const std::string start = ProcessStartOf(child);
  EXPECT_FALSE(start.empty());
  EXPECT_EQ(ProcessStartOf(child), start) << "the same process gives the same start";
  kill(child, SIGKILL);
  // Not reaped yet: the kernel keeps it as a zombie.
  auto state = [child] {
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
  };
  for (int i = 0; i < 200 && state() != 'Z'; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(state(), 'Z');
  EXPECT_EQ(ProcessStartOf(child), "");
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ProcessStartOf(child), "");
  EXPECT_FALSE(ProcessStartOf(getpid()).empty());
}

}  // namespace
#endif
