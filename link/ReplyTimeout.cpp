#include "link/ReplyTimeout.h"

#include <algorithm>

void ReplyTimeout::SetReplyTimeout(bool arm, int seconds) {
  if (arm) {
    ReplyTimeoutSecs = WaitOverrideSecs > 0 ? WaitOverrideSecs : seconds;
    ReplyTimeoutStart = Time.Now();
    ReplyTimeoutArmed = true;
  } else {
    ReplyTimeoutArmed = false;
  }
  Out.SetCmdControls(!arm);
}

namespace {

// Whole clock seconds from start to now; only minute and second count, so across the hour too.
int SecondsSince(const LocalTime& start, const LocalTime& now) {
  const int nowSecs = now.Minute * 60 + now.Second;
  const int startSecs = start.Minute * 60 + start.Second;
  return ((nowSecs - startSecs) % 3600 + 3600) % 3600;
}

}  // namespace

void ReplyTimeout::CheckReplyTimeout() {
  if (!ReplyTimeoutArmed) return;
  if (SecondsSince(ReplyTimeoutStart, Time.Now()) <= ReplyTimeoutSecs) return;
  SetReplyTimeout(false, 0);
  Out.Notify({EngineEvent::ReplyTimedOut});
  Out.ShowMessage("Timeout!!");
}

int ReplyTimeout::SecondsLeft() const {
  if (!ReplyTimeoutArmed) return 0;
  return std::max(0, ReplyTimeoutSecs - SecondsSince(ReplyTimeoutStart, Time.Now()));
}
