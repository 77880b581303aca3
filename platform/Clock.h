#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <mutex>

struct LocalTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

// The local time of day, in whole seconds. Whoever waits for a time on it sleeps until the
// reading is due to change, and a clock that is set (a test's, or an operator's) tells them.
class Clock {
 public:
  static constexpr int NeverByItself = -1;

  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  // Milliseconds until the second of Now() has turned over `turns` times (1: the next turn);
  // NeverByItself for a clock that only moves when it is set.
  virtual int MsUntilSecondTurns(int turns) = 0;

  // moved runs, on the thread that sets the clock, whenever it is set. Returns what Unwatch
  // takes.
  int Watch(std::function<void()> moved);
  void Unwatch(int watch);

 protected:
  // A clock that is set calls this afterwards.
  void Moved();

 private:
  std::mutex Mutex;
  std::map<int, std::function<void()>> Watchers;
  int NextWatch = 1;
};

class SystemClock : public Clock {
 public:
  LocalTime Now() override;
  int MsUntilSecondTurns(int turns) override;
};

// A system time as a calendar date and time in UTC.
std::tm UtcCalendar(std::time_t seconds);
// A system time as the local calendar says it.
std::tm LocalCalendar(std::time_t seconds);
