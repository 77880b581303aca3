#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "Core.h"
#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingScreen.h"

using Bytes = std::vector<std::uint8_t>;

// A connected core on a fake port; what the transmit ring hands out lands in port.Writes.
class CoreFixture : public ::testing::Test {
 protected:
  CoreFixture() : core(screen, clock, folder.path().toStdString()) {
    core.Uart.ComHandle = &port;
    core.Uart.UartConnected = true;
  }

  // Runs transmit passes until the ring is empty and returns what was written, in order.
  std::vector<Bytes> Sent() {
    UartTxThread::Outgoing out;
    while (core.Tx.QueuedCount() > 0) {
      if (!core.Tx.TxPass(out)) continue;
      core.Tx.TxWritten(out.Target->Write(out.Data, static_cast<std::size_t>(out.Length), 0));
    }
    std::vector<Bytes> writes;
    writes.swap(port.Writes);
    return writes;
  }

  void AddText(const std::string& line) {
    Bytes item(line.begin(), line.end());
    item.push_back(0x0D);
    item.push_back(0);
    core.DataHandler.AddReplyItem(item.data(), static_cast<int>(item.size()), ItemKind::Text);
  }

  void AddReply(const Bytes& item) {
    core.DataHandler.AddReplyItem(item.data(), static_cast<int>(item.size()), ItemKind::Reply);
  }

  void ProcessAll() {
    while (core.DataHandler.ProcessReplyItem()) {
    }
  }

  std::string WriteFile(const std::string& name, const Bytes& content) {
    const std::string path = folder.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path;
  }

  QTemporaryDir folder;
  RecordingScreen screen;
  FakeClock clock;
  FakePort port;
  Core core;
};
