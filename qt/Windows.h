#pragma once

#include "qt/Dl_cfg.h"
#include "qt/Flash.h"
#include "qt/Frm_tunetest.h"
#include "qt/Main.h"
#include "qt/Uart_init.h"

// The five windows of the program, created in this order; every window but the main one is
// shown modally from it and only hidden when closed.
struct Windows {
  explicit Windows(Clock* clock = nullptr, const std::string& configPath = "config.cfg")
      : form_main(clock),
        form_uart(&form_main, configPath),
        form_DL_Config(form_main.core(), &form_main),
        form_Tune(form_main.core(), &form_main),
        Form_EraseFlash(form_main.core(), &form_main) {
    form_main.Attach(&form_uart, &form_DL_Config, &form_Tune, &Form_EraseFlash);
  }
  // The workers' routines reach into every window: they stop before any window goes.
  ~Windows() { form_main.StopWorkers(); }
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  Tform_main form_main;
  Tform_uart form_uart;
  Tform_DL_Config form_DL_Config;
  Tform_Tune form_Tune;
  TForm_EraseFlash Form_EraseFlash;
};
