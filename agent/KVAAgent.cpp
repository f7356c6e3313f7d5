// Program entry of KVAAgent.
#include "agent/CommandLine.h"
#include "infra/LoggingThread.h"
#include "infra/Win.Utils.h"
#include "platform/MainThread.h"

int main(int argc, char** argv) {
  using namespace kva;
  StartupLog();
  const bool HideDebugConsole = ShouldHideDebugConsole(argc, argv);
  if (HideDebugConsole) {
    HideConsoleOutput();
  } else {
    LoggingThread().SetMirrorToStdErr(true);
  }
  MainThread().BindToCurrentThread();

  int Major, Minor, Release, Build;
  std::string Version;
  if (GetModuleVersion(0, Major, Minor, Release, Build)) {
    Version = "v" + std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
              std::to_string(Build);
  }
  Log("TfrmKvaAgent3", "Started " + Version);

  MainThread().Shutdown();
  FreeLoggingThread();
  return 0;
}
