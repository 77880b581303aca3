#include "link/ReplyTimeout.h"

void ReplyTimeout::SetReplyTimeout(bool arm, int seconds) {
  if (arm) {
    ReplyTimeoutSecs = WaitOverrideSecs > 0 ? WaitOverrideSecs : seconds;
    ReplyTimeoutStart = Time.Now();
    ReplyTimeoutArmed = true;
    if (WaitArmed) WaitArmed();
  } else {
    ReplyTimeoutArmed = false;
  }
  Out.SetCmdControls(!arm);
}

int ReplyTimeout::ElapsedSecs() {
  const LocalTime now = Time.Now();
  const int nowSecs = now.Minute * 60 + now.Second;
  const int startSecs = ReplyTimeoutStart.Minute * 60 + ReplyTimeoutStart.Second;
  return ((nowSecs - startSecs) % 3600 + 3600) % 3600;
}

int ReplyTimeout::MsUntilDue() {
  if (!ReplyTimeoutArmed) return -1;
  const int elapsed = ElapsedSecs();
  if (elapsed > ReplyTimeoutSecs) return 0;
  // Counted within the hour, the elapsed time never passes a wait of an hour or more.
  if (ReplyTimeoutSecs >= 3599) return -1;
  // The first check that finds more than the armed seconds passed.
  const int due = Time.MsUntilSecondTurns(ReplyTimeoutSecs - elapsed + 1);
  return due < 0 ? -1 : due;
}

void ReplyTimeout::CheckReplyTimeout() {
  if (!ReplyTimeoutArmed) return;
  if (ElapsedSecs() <= ReplyTimeoutSecs) return;
  SetReplyTimeout(false, 0);
  Out.Notify({EngineEvent::ReplyTimedOut});
  Out.ShowMessage("Timeout!!");
}
