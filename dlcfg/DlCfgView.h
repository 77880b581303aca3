#pragma once

#include <cstdint>

// The download configuration dialog as the reply dispatcher sees it.
class DlCfgView {
 public:
  virtual ~DlCfgView() = default;
  // record: the 100 bytes of a received DL_Cfg_Record.
  virtual bool ShowDLCfgRecord(const std::uint8_t* record) = 0;
};
