#include "link/ReplyTimeout.h"

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

void ReplyTimeout::CheckReplyTimeout() {
  if (!ReplyTimeoutArmed) return;
  const LocalTime now = Time.Now();
  const int nowSecs = now.Minute * 60 + now.Second;
  const int startSecs = ReplyTimeoutStart.Minute * 60 + ReplyTimeoutStart.Second;
  const int elapsed = ((nowSecs - startSecs) % 3600 + 3600) % 3600;
  if (elapsed <= ReplyTimeoutSecs) return;
  SetReplyTimeout(false, 0);
  Out.Notify({EngineEvent::ReplyTimedOut});
  Out.ShowMessage("Timeout!!");
}
