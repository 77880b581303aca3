#include "platform/Console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "platform/InputLines.h"

namespace {

std::function<void()> StopHandler;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!StopHandler) return FALSE;
  StopHandler();
  // Closing the console window, logging off or shutting down ends the process as soon as
  // this returns: give the program time to close its ports and leave by itself.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    ::Sleep(5000);
  return TRUE;
}

}  // namespace

bool IsTerminal(ConsoleStream stream) {
  HANDLE handle =
      ::GetStdHandle(stream == ConsoleStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
  // Redrawing a line in place uses escape sequences, which older consoles print as text: such
  // a console gets plain lines.
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns(ConsoleStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE handle =
      ::GetStdHandle(stream == ConsoleStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void WatchStopRequests(std::function<void()> onStop) {
  // The system calls the handler on a thread of its own, once per Ctrl+C or Ctrl+Break.
  StopHandler = std::move(onStop);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void KeepRunningWhenOutputCloses() {
  // A write to a pipe whose reader has gone fails here; no signal ends the process.
}

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
    arg.resize(arg.size() - 1);  // the terminating zero
    args.push_back(std::move(arg));
  }
  ::LocalFree(wide);
  return args;
}

void ShowUtf8OnConsole() {
  ::SetConsoleOutputCP(CP_UTF8);
}

int ReadStandardInput(char* buffer, int size) {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (::GetConsoleMode(in, &mode)) {
    // A console gives the characters as typed, whatever its code page: UTF-8 from them, with
    // room for three bytes each.
    wchar_t wide[128];
    const DWORD room = static_cast<DWORD>(std::min(128, size / 3));
    DWORD got = 0;
    if (!::ReadConsoleW(in, wide, room, &got, nullptr)) return -1;
    // Ctrl+Z at a line's start, then Enter: the console's end of input.
    if (got > 0 && wide[0] == 0x1A) return 0;
    if (got == 0) return 0;
    return ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(got), buffer, size, nullptr,
                                 nullptr);
  }
  DWORD got = 0;
  if (!::ReadFile(in, buffer, static_cast<DWORD>(size), &got, nullptr))
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  return static_cast<int>(got);
}

bool StandardInputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
