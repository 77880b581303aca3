#include "platform/Clock.h"

#include <ctime>

LocalTime SystemClock::Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec};
}

std::tm UtcCalendar(std::time_t seconds) {
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return utc;
}

std::tm LocalCalendar(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}
