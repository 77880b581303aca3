#pragma once

#include <functional>
#include <string>
#include <vector>

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

// The program's arguments after its name, as text of the system: on Windows read from the
// wide-character command line and given as UTF-8, so that no name or text is narrowed to the
// ANSI code page on the way in.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Lets a console show the program's UTF-8 output as the characters it stands for (Windows
// consoles otherwise take it for their own code page).
void ShowUtf8OnConsole();
