// Facts about the running process.
#pragma once

#include <string>

namespace kva {

// Full path of the running executable.
std::string ExecutablePath();
// The kernel's id of the calling thread.
int CurrentThreadId();

}  // namespace kva
