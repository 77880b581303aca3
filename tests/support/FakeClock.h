#pragma once

#include "platform/Clock.h"

// A clock that stands still until it is set; whoever waits on it is told.
class FakeClock : public Clock {
 public:
  LocalTime Now() override { return Time; }
  int MsUntilSecondTurns(int) override { return NeverByItself; }
  void Set(int minute, int second) {
    Time = {Time.Hour, minute, second};
    Moved();
  }

 private:
  LocalTime Time{10, 0, 0};
};
