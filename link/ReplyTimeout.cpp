#include "link/ReplyTimeout.h"

#include <algorithm>

void ReplyTimeout::SetReplyTimeout(bool arm, int seconds) {
  // A wait restarted is no news to the window (an upload restarts it with every block).
  const bool restarted = arm && ReplyTimeoutArmed;
  if (arm) {
    ReplyTimeoutSecs = WaitOverrideSecs > 0 ? WaitOverrideSecs : seconds;
    ReplyTimeoutStart = Time.Now();
    ReplyTimeoutArmed = true;
    if (WaitArmed) WaitArmed();
  } else {
    ReplyTimeoutArmed = false;
  }
  if (!restarted) Out.On(ev::ReplyWait{arm});
}

namespace {

// Whole clock seconds from start to now; only minute and second count, so across the hour too.
int SecondsSince(const LocalTime& start, const LocalTime& now) {
  const int nowSecs = now.Minute * 60 + now.Second;
  const int startSecs = start.Minute * 60 + start.Second;
  return ((nowSecs - startSecs) % 3600 + 3600) % 3600;
}

}  // namespace

int ReplyTimeout::MsUntilDue() {
  if (!ReplyTimeoutArmed) return -1;
  const int elapsed = SecondsSince(ReplyTimeoutStart, Time.Now());
  if (elapsed > ReplyTimeoutSecs) return 0;
  // Counted within the hour, the elapsed time never passes a wait of an hour or more.
  if (ReplyTimeoutSecs >= 3599) return -1;
  // The first check that finds more than the armed seconds passed.
  const int due = Time.MsUntilSecondTurns(ReplyTimeoutSecs - elapsed + 1);
  return due < 0 ? -1 : due;
}

void ReplyTimeout::CheckReplyTimeout() {
  if (!ReplyTimeoutArmed) return;
  if (SecondsSince(ReplyTimeoutStart, Time.Now()) <= ReplyTimeoutSecs) return;
  SetReplyTimeout(false, 0);
  Out.On(ev::ReplyTimedOut{});
}

int ReplyTimeout::SecondsLeft() const {
  if (!ReplyTimeoutArmed) return 0;
  return std::max(0, ReplyTimeoutSecs - SecondsSince(ReplyTimeoutStart, Time.Now()));
}
