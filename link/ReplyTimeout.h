#pragma once

#include <functional>

#include "link/EngineEvents.h"
#include "platform/Clock.h"

// The reply watchdog: armed when a command expects an answer, checked by every transmit pass;
// the transmit worker sleeps until the check can find the wait over.
class ReplyTimeout {
 public:
  // How long the box is given to answer a command.
  static constexpr int ReplyWaitSecs = 20;

  ReplyTimeout(EventSink& screen, Clock& clock) : Out(screen), Time(clock) {}

  // Arming disables the command controls, disarming enables them.
  void SetReplyTimeout(bool arm, int seconds);
  // Fires at the first check at which more than the armed whole clock seconds have passed,
  // counting across the turn of the hour.
  void CheckReplyTimeout();
  bool Armed() const { return ReplyTimeoutArmed; }
  // Milliseconds until a check can find the wait over: 0 when it is over now; -1 when no wait
  // is armed, or the clock will not get there without being set.
  int MsUntilDue();
  // Called whenever a wait is armed, so that whoever checks can plan for its end.
  std::function<void()> WaitArmed;
  // Whole seconds until the armed wait runs out (0 once it has, or when nothing is awaited),
  // counted as CheckReplyTimeout counts them.
  int SecondsLeft() const;
  // Every wait armed from now on lasts this long instead (0: as each caller asks); for front
  // ends whose operator chooses the time-out.
  void OverrideWaitSecs(int seconds) { WaitOverrideSecs = seconds; }

 private:
  EventSink& Out;
  Clock& Time;
  LocalTime ReplyTimeoutStart;
  bool ReplyTimeoutArmed = false;
  int ReplyTimeoutSecs = 10;
  int WaitOverrideSecs = 0;
};
