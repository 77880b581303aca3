#include "platform/Console.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/InputLines.h"

bool IsTerminal(ConsoleStream stream) {
  return isatty(stream == ConsoleStream::Out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

int TerminalColumns(ConsoleStream stream) {
  winsize size{};
  if (::ioctl(stream == ConsoleStream::Out ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) != 0)
    return 0;
  return size.ws_col;
}

void WatchStopRequests(std::function<void()> onStop) {
  // Blocked here, the signals are blocked in every thread started later too, so they reach
  // only the sigwait below and never interrupt a worker's read or write.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, onStop = std::move(onStop)] {
    for (;;) {
      int received = 0;
      if (sigwait(&signals, &received) == 0) onStop();
    }
  }).detach();
}

void KeepRunningWhenOutputCloses() {
  ::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

void ShowUtf8OnConsole() {
  // A terminal here takes the program's bytes as they are.
}

int ReadStandardInput(char* buffer, int size) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, static_cast<std::size_t>(size));
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

bool StandardInputIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}
