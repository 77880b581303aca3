#pragma once

#include "Port.h"

// Whether the port is open, and the port itself: read by every part that sends or receives.
struct UartState {
  bool UartConnected = false;
  Port* ComHandle = nullptr;
  LineSettings Settings;  // as applied at the last successful open
};
