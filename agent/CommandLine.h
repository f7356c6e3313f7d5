// The program's one switch: "-d" (any letter case) keeps the console output visible.
#pragma once

namespace kva {

// lHideDebugConsole: true unless some argument equals "-d" under ASCII case folding.
bool ShouldHideDebugConsole(int argc, const char* const* argv);

// Makes what the program writes to its console invisible (standard output and standard
// error go to /dev/null); the streams stay open.
void HideConsoleOutput();

}  // namespace kva
