#pragma once

#include "platform/Clock.h"

class FakeClock : public Clock {
 public:
  LocalTime Now() override { return Time; }
  void Set(int minute, int second) { Time = {Time.Hour, minute, second}; }
  LocalTime Time{10, 0, 0};
};
