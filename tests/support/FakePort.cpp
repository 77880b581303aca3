#include "tests/support/FakePort.h"

bool FakePort::GetSettings(LineSettings& settings) {
  settings = Settings;
  return Open;
}

bool FakePort::SetSettings(const LineSettings& settings) {
  if (settings.BaudRate == 0 || settings.DataBits < 5 || settings.DataBits > 8) return false;
  Settings = settings;
  return Open;
}

IoResult FakePort::Read(std::uint8_t* buffer, std::size_t max, int) {
  if (!Open) return {IoStatus::NotOpen, 0};
  std::size_t n = 0;
  while (n < max && !Incoming.empty()) {
    buffer[n++] = Incoming.front();
    Incoming.pop_front();
  }
  return {n ? IoStatus::Ok : IoStatus::TimedOut, n};
}

IoResult FakePort::Write(const std::uint8_t* data, std::size_t n, int) {
  if (!Open) return {IoStatus::NotOpen, 0};
  if (FailWrites) return {IoStatus::Failed, 0};
  Writes.emplace_back(data, data + n);
  return {IoStatus::Ok, n};
}
