#include "tests/cli/CliProcess.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& folder,
                       OutReader reader)
    : Reader(reader) {
  Start(args, {folder, {}, 0});
}

CliProcess::CliProcess(const std::vector<std::string>& args, const Setup& setup) {
  Start(args, setup);
}

void CliProcess::Start(const std::vector<std::string>& args, const Setup& setup) {
  int out[2];
  int err[2];
  if (pipe(out) != 0) return;
  if (setup.ErrColumns > 0) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(setup.ErrColumns);
    if (openpty(&err[0], &err[1], nullptr, nullptr, &size) != 0) return;
  } else if (pipe(err) != 0) {
    return;
  }
  Pid = fork();
  if (Pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (setup.InputOnTerminal && setup.ErrColumns > 0) dup2(err[1], 0);
    close(out[0]);
    close(err[0]);
    // The record of boxes goes to the tests' own folder, not the user's, unless a test says.
    setenv("XDG_DATA_HOME", KELVARIN_TEST_DATA, 1);
    for (const std::string& variable : setup.Environment)
      putenv(const_cast<char*>(variable.c_str()));
    if (!setup.Folder.empty() && chdir(setup.Folder.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    for (const std::string& a : setup.RunUnder) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(const_cast<char*>(KELVARIN_CLI));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  OutFd = out[0];
  ErrFd = err[0];
  Pumping = std::thread([this] { Pump(); });
}

void CliProcess::TypeOnErrTerminal(const std::string& bytes) {
  if (ErrFd >= 0 && write(ErrFd, bytes.data(), bytes.size()) < 0) perror("typing on the terminal");
}

CliProcess::~CliProcess() {
  if (Pid > 0) Wait(0);
  if (Pumping.joinable()) Pumping.join();
  if (OutFd >= 0) close(OutFd);
  if (ErrFd >= 0) close(ErrFd);
}

void CliProcess::Pump() {
  bool outOpen = Reader != OutReader::Never;
  bool errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outOpen ? OutFd : -1, POLLIN, 0}, {errOpen ? ErrFd : -1, POLLIN, 0}};
    if (poll(fds, 2, 1000) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      // The first line's reader takes a byte at a time, so that it takes nothing past the line.
      const bool firstLine = i == 0 && Reader == OutReader::FirstLine;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, firstLine ? 1 : sizeof buffer);
      std::lock_guard lock(Mutex);
      // A terminal's end reads as an error (EIO) once the program and its children are gone.
      if (n <= 0) {
        (i == 0 ? outOpen : errOpen) = false;
      } else {
        (i == 0 ? OutText : ErrText).append(buffer, static_cast<std::size_t>(n));
        if (firstLine && buffer[0] == '\n') {
          outOpen = false;
          close(OutFd);
          OutFd = -1;
        }
      }
      Changed.notify_all();
    }
  }
  std::lock_guard lock(Mutex);
  Closed = true;
  Changed.notify_all();
}

bool CliProcess::WaitFor(const std::string& stream, const std::string& text, int timeoutMs) {
  std::unique_lock lock(Mutex);
  const std::string& s = stream == "out" ? OutText : ErrText;
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return s.find(text) != std::string::npos || Closed;
  }) && s.find(text) != std::string::npos;
}

bool CliProcess::WaitForOut(const std::string& text, int timeoutMs) {
  return WaitFor("out", text, timeoutMs);
}

bool CliProcess::WaitForErr(const std::string& text, int timeoutMs) {
  return WaitFor("err", text, timeoutMs);
}

void CliProcess::Signal(int number) {
  if (Pid > 0) kill(Pid, number);
}

int CliProcess::Wait(int timeoutMs) {
  if (Pid <= 0) return -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(Pid, &status, WNOHANG);
    if (done == Pid) break;
    if (std::chrono::steady_clock::now() >= end) {
      kill(Pid, SIGKILL);
      waitpid(Pid, &status, 0);
      Pid = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Pid = -1;
  if (Pumping.joinable()) Pumping.join();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string CliProcess::Out() {
  std::lock_guard lock(Mutex);
  return OutText;
}

std::string CliProcess::Err() {
  std::lock_guard lock(Mutex);
  return ErrText;
}

CliRun RunCli(const std::vector<std::string>& args, int timeoutMs, const std::string& folder) {
  return RunCli(args, CliProcess::Setup{folder, {}, 0}, timeoutMs);
}

CliRun RunCli(const std::vector<std::string>& args, const CliProcess::Setup& setup, int timeoutMs) {
  CliProcess p(args, setup);
  CliRun run;
  run.Status = p.Wait(timeoutMs);
  run.Out = p.Out();
  run.Err = p.Err();
  return run;
}
