#pragma once

#include <string>
#include <thread>

// Names a thread in the system's thread list, so that a debugger or top shows which is which.
void NameThread(std::thread& thread, const std::string& name);
