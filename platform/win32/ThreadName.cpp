#include "platform/ThreadName.h"

#define WIN32_LEAN_AND_MEAN
#include <pthread.h>
#include <windows.h>

void NameThread(std::thread& thread, const std::string& name) {
  // SetThreadDescription came with Windows 10 1607; older systems simply show no name.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (!set) return;
  // Thread names here are ASCII, so widening byte by byte is enough.
  std::wstring wide(name.begin(), name.end());
  // With the posix thread model std::thread sits on winpthreads, which keeps the handle.
  set(pthread_gethandle(thread.native_handle()), wide.c_str());
}
