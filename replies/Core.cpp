#include "Core.h"

#include <algorithm>
#include <vector>

#include "Bytes.h"

Core::Core(Screen& screen, Clock& clock, const std::string& workFolder)
    : Out(screen),
      Timeout(screen, clock),
      Tx(Uart, screen, Timeout),
      Flash(screen, Tx, workFolder, &Timeout),
      DataHandler(screen, Timeout, Tx, Upload, Flash),
      Rx(Uart, screen, DataHandler, Flash),
      Upload(screen, Uart, Tx, Timeout, Rx) {}

bool Core::SendCmd(const std::uint8_t* bytes, int length) {
  // Work on a copy: the reversal and the log line never reach past the caller's bytes.
  std::vector<std::uint8_t> message(bytes, bytes + std::max(length, 0));
  ReverseBytes(message.data(), std::min(length, 4));
  const int count =
      static_cast<int>(std::find(message.begin(), message.end(), 0) - message.begin());
  if (count == 0) return false;  // nothing to send, so nothing to wait for
  if (!Tx.TxEnqueue(count, message.data())) return false;
  Tx.SyncStopped = true;
  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
  Out.AppendLog(CmdLogLine(message.data(), std::min(count, 4)));
  return true;
}

bool Core::SendCmdWord(std::uint32_t word) {
  std::uint8_t buffer[4];
  PutLe32(buffer, word);
  return SendCmd(buffer, 4);
}

bool Core::RebootStb() {
  std::uint8_t buffer[4];
  PutCommandWord(buffer, 0xAA093219u);
  if (!Tx.TxEnqueue(4, buffer)) return false;
  Out.SetCmdControls(false);
  Out.AppendLog(CmdLogLine(buffer, 4));
  Tx.SyncStopped = false;
  return true;
}
