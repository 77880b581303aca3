#pragma once

#include <cstddef>

#include "platform/Port.h"

// How a transfer the system runs on its own ended, once it has been handed back: waited is
// what the wait for it gave (Ok, or TimedOut or Aborted after which it was cancelled), done
// whether the system reports it completed, moved the bytes it moved of asked. A transfer that
// completed in full in the instant between its time-out and the cancel is a success, not late.
inline IoStatus TransferEnd(IoStatus waited, bool done, std::size_t moved, std::size_t asked) {
  if (waited == IoStatus::TimedOut && done && moved == asked) return IoStatus::Ok;
  return waited;
}
