#pragma once

#include <functional>

// What a console program needs of the system besides the port: whether a stream is a terminal
// that takes cursor movements, and word of the operator's request to stop.
enum class ConsoleStream { Out, Err };

// True when the stream is a terminal that can redraw a line in place.
bool IsTerminal(ConsoleStream stream);

// How many columns the terminal of the stream shows; 0 when it does not say.
int TerminalColumns(ConsoleStream stream);

// From now on an interrupt, termination or hang-up request (the terminal closed) no longer ends
// the process: onStop runs instead, on a thread of its own, once per request. Call before any
// other thread starts, so that every thread leaves the requests to it.
void WatchStopRequests(std::function<void()> onStop);

// From now on writing to an output whose reader has gone fails as any failed write does,
// instead of ending the process.
void KeepRunningWhenOutputCloses();
