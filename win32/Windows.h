#pragma once

#include <string>

#include "win32/Dialogs.h"
#include "win32/MainWindow.h"

// The five windows of the program, created in this order; every window but the main one is
// shown modally from it and only hidden when closed.
struct Windows {
  explicit Windows(Clock* clock = nullptr, const std::string& configPath = "config.cfg")
      : form_main(clock),
        form_uart(form_main.Handle(), configPath),
        form_DL_Config(form_main.core(), form_main.Handle()),
        form_Tune(form_main.core(), form_main.Handle()),
        Form_EraseFlash(form_main.core(), form_main.Handle()) {
    form_main.Attach(&form_uart, &form_DL_Config, &form_Tune, &Form_EraseFlash);
  }
  // The workers' routines reach into every window: they stop before any window goes.
  ~Windows() { form_main.StopWorkers(); }
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  MainWindow form_main;
  UartDialog form_uart;
  DlCfgDialog form_DL_Config;
  TuneDialog form_Tune;
  FlashDialog Form_EraseFlash;
};
