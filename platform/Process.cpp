#include "Process.h"

#include <climits>
#include <unistd.h>

namespace kva {

std::string ExecutablePath() {
  char Buffer[PATH_MAX];
  const ssize_t Length = ::readlink("/proc/self/exe", Buffer, sizeof Buffer);
  return Length > 0 ? std::string(Buffer, static_cast<size_t>(Length)) : std::string();
}

int CurrentThreadId() {
  static thread_local const int Id = static_cast<int>(::gettid());
  return Id;
}

}  // namespace kva
