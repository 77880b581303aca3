#include "platform/ThreadName.h"

#include <pthread.h>

void NameThread(std::thread& thread, const std::string& name) {
  // Linux takes at most 15 characters.
  pthread_setname_np(thread.native_handle(), name.substr(0, 15).c_str());
}
