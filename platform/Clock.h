#pragma once

struct LocalTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
};

class SystemClock : public Clock {
 public:
  LocalTime Now() override;
};
