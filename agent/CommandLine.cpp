#include "CommandLine.h"

#include <fcntl.h>
#include <unistd.h>

namespace kva {

bool ShouldHideDebugConsole(int argc, const char* const* argv) {
  bool HideDebugConsole = true;
  for (int I = 1; I < argc; ++I) {
    const char* Argument = argv[I];
    if (Argument[0] == '-' && (Argument[1] == 'd' || Argument[1] == 'D') && Argument[2] == '\0') {
      HideDebugConsole = false;
    }
  }
  return HideDebugConsole;
}

void HideConsoleOutput() {
  const int Null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (Null < 0) return;
  ::dup2(Null, STDOUT_FILENO);
  ::dup2(Null, STDERR_FILENO);
  ::close(Null);
}

}  // namespace kva
