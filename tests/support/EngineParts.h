#pragma once

#include <string>

#include "link/EngineEvents.h"
#include "link/ReplyTimeout.h"
#include "link/UartRxThread.h"
#include "link/UartState.h"
#include "link/UartTxThread.h"
#include "platform/Clock.h"
#include "replies/CodeUpload.h"
#include "replies/UartDataHandler.h"
#include "service/FlashReadback.h"

// The engine's parts wired as Core wires them, without its port and its workers: for callers
// that must choose themselves what each part is handed and when, such as a fuzz driver that
// decides where a pass ends, or a test of items the receiver never makes.
struct EngineParts {
  EngineParts(EventSink& screen, Clock& clock, const std::string& folder)
      : Timeout(screen, clock),
        Tx(Uart, screen, Timeout),
        Flash(screen, Tx, folder, &Timeout),
        DataHandler(screen, Timeout, Tx, Upload, Flash),
        Rx(Uart, screen, DataHandler, Flash),
        Upload(screen, Uart, Tx, Timeout, Rx) {}

  UartState Uart;
  ReplyTimeout Timeout;
  UartTxThread Tx;
  FlashReadback Flash;
  UartDataHandler DataHandler;
  UartRxThread Rx;
  CodeUpload Upload;
};
