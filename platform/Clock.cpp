#include "platform/Clock.h"

#include <chrono>
#include <vector>

int Clock::Watch(std::function<void()> moved) {
  std::lock_guard lock(Mutex);
  Watchers[NextWatch] = std::move(moved);
  return NextWatch++;
}

void Clock::Unwatch(int watch) {
  std::lock_guard lock(Mutex);
  Watchers.erase(watch);
}

void Clock::Moved() {
  std::vector<std::function<void()>> told;
  {
    std::lock_guard lock(Mutex);
    for (const auto& [id, moved] : Watchers) told.push_back(moved);
  }
  for (const auto& moved : told) moved();
}

int SystemClock::MsUntilSecondTurns(int turns) {
  // The local time turns its seconds with the system time; zones differ by whole minutes.
  using namespace std::chrono;
  const auto intoSecond = system_clock::now().time_since_epoch() % seconds(1);
  return static_cast<int>(ceil<milliseconds>(seconds(turns) - intoSecond).count());
}
