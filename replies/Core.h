#pragma once

#include <cstdint>
#include <string>

#include "Clock.h"
#include "CodeUpload.h"
#include "FlashReadback.h"
#include "ReplyTimeout.h"
#include "Screen.h"
#include "UartDataHandler.h"
#include "UartRxThread.h"
#include "UartState.h"
#include "UartTxThread.h"

// The protocol objects of one program run, wired together. Plain C++: the main window owns
// one and runs its workers; tests build one with a recording screen and a fake port.
class Core {
 public:
  Core(Screen& screen, Clock& clock, const std::string& workFolder);

  // The send operation of command buttons and the console: reverses the first four bytes (or
  // as many as there are), queues the bytes up to the first zero, stops the sync word, arms the
  // 20 s timeout and logs "Cmd > %x". False, with nothing else changed, when the ring refuses.
  bool SendCmd(const std::uint8_t* bytes, int length);
  bool SendCmdWord(std::uint32_t word);
  // "Reboot STB": queued without a timeout; the sync word resumes. False when refused.
  bool RebootStb();

  Screen& Out;
  UartState Uart;
  ReplyTimeout Timeout;
  UartTxThread Tx;
  FlashReadback Flash;
  UartDataHandler DataHandler;
  UartRxThread Rx;
  CodeUpload Upload;
};
