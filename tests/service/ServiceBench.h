#pragma once

#include <QTemporaryDir>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Core.h"
#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingScreen.h"

using Bytes = std::vector<std::uint8_t>;

// A connected Core whose working folder is a fresh temporary folder.
struct ServiceBench {
  explicit ServiceBench(const std::string& folder = {})
      : core(screen, clock, folder.empty() ? dir.path().toStdString() : folder) {
    core.Uart.ComHandle = &port;
    core.Uart.UartConnected = true;
    core.Tx.SyncStopped = true;  // only the messages under test leave the ring
  }

  // Runs transmit periods until the ring is empty; returns what would have been written.
  std::vector<Bytes> Sent() {
    std::vector<Bytes> sent;
    UartTxThread::Outgoing out;
    for (int guard = 0; guard < 64 && core.Tx.TxPass(out); ++guard) {
      sent.emplace_back(out.Data, out.Data + out.Length);
      core.Tx.TxWritten({IoStatus::Ok, static_cast<std::size_t>(out.Length)});
      out = {};
    }
    return sent;
  }

  std::string PathOf(const char* name) const { return dir.filePath(name).toStdString(); }

  QTemporaryDir dir;
  RecordingScreen screen;
  FakeClock clock;
  FakePort port;
  Core core;
};

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// CRC-32/MPEG-2 bit by bit, independent of the table the program uses.
inline std::uint32_t BitwiseCrc(const Bytes& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) {
    crc ^= std::uint32_t{b} << 24;
    for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// values, then their CRC least significant byte first.
inline Bytes WithCrc(Bytes values) {
  const std::uint32_t crc = BitwiseCrc(values);
  for (int i = 0; i < 4; ++i) values.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  return values;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
