#include "cli/JobView.h"

const char* StateWord(JobState state) {
  switch (state) {
    case JobState::Opening:
      return "opening";
    case JobState::Syncing:
      return "syncing";
    case JobState::Working:
      return "working";
    case JobState::AwaitGone:
      return "waiting for the box to go";
    case JobState::AwaitBox:
      return "waiting for a box";
    case JobState::Reopening:
      return "waiting for the port";
    case JobState::Done:
      return "done";
  }
  return "";
}
