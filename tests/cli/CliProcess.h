#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// kelvarin-cli run as a child process with its standard output and error captured; the test
// can wait for a text to appear, send a signal, and wait for the exit status.
class CliProcess {
 public:
  // How standard output is read: all of it; its first line, then the pipe is closed (as by
  // head -1 or grep -m1); or not at all, so that the pipe fills up.
  enum class OutReader { All, FirstLine, Never };

  explicit CliProcess(const std::vector<std::string>& args, const std::string& folder = "",
                      OutReader reader = OutReader::All);
  // Where and how it runs: its folder, variables added to its environment (NAME=VALUE), and
  // standard error on a terminal of errColumns columns (0: a pipe, as standard output is).
  struct Setup {
    std::string Folder;
    std::vector<std::string> Environment;
    int ErrColumns = 0;
    // A program it runs under, with that program's arguments (strace -f ...); empty: none.
    std::vector<std::string> RunUnder{};
    // Standard input on that terminal too, as an operator's keyboard is (with ErrColumns).
    bool InputOnTerminal = false;
  };
  CliProcess(const std::vector<std::string>& args, const Setup& setup);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // True once text has appeared on standard output (or error) within the time.
  bool WaitForOut(const std::string& text, int timeoutMs);
  bool WaitForErr(const std::string& text, int timeoutMs);
  void Signal(int number);
  // Types bytes on the terminal that standard error is on (Setup::ErrColumns): Ctrl+S (\x13)
  // stops its output, Ctrl+Q (\x11) lets it go on.
  void TypeOnErrTerminal(const std::string& bytes);
  // The exit status, or -1 when the program had not ended within the time (it is then killed).
  int Wait(int timeoutMs);

  std::string Out();
  std::string Err();

 private:
  bool WaitFor(const std::string& stream, const std::string& text, int timeoutMs);
  void Start(const std::vector<std::string>& args, const Setup& setup);
  void Pump();

  OutReader Reader = OutReader::All;
  int Pid = -1;
  int OutFd = -1;
  int ErrFd = -1;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::string OutText;
  std::string ErrText;
  bool Closed = false;
  std::thread Pumping;
};

// Runs to the end and hands back status, output and error.
struct CliRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};
CliRun RunCli(const std::vector<std::string>& args, int timeoutMs = 30000,
              const std::string& folder = "");
CliRun RunCli(const std::vector<std::string>& args, const CliProcess::Setup& setup,
              int timeoutMs = 30000);
