// Program entry of KVAAgent.
//
// KVA_SCREENSHOT=<file.png> in the environment saves a picture of the window about two
// seconds after it opens (used by the run script on machines without a display).
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "agent/CommandLine.h"
#include "agent/frmKvaAgent3.h"
#include "infra/LoggingThread.h"
#include "platform/MainThread.h"
#include "platform/WorkerPool.h"

namespace {

void ScheduleScreenshot(kva::TfrmKvaAgent3& AForm) {
  const char* FileName = std::getenv("KVA_SCREENSHOT");
  if (!FileName || !*FileName) return;
  kva::MainThread().QueueDelayed(&AForm, 2000, [&AForm, Path = std::string(FileName)] {
    if (!AForm.SaveScreenshot(Path)) kva::Log("KVAAgent", "Cannot save the screenshot " + Path);
  });
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kva;
  StartupLog();
  const bool lHideDebugConsole = ShouldHideDebugConsole(argc, argv);
  if (lHideDebugConsole) {
    HideConsoleOutput();
  } else {
    LoggingThread().SetMirrorToStdErr(true);
  }

  // Errors that escape queued calls and background tasks go to the log.
  MainThread().SetOnError([](const char* AMessage) { Log("MainThread", AMessage); });
  WorkerPool().SetOnError([](const char* AMessage) { Log("WorkerPool", AMessage); });

  int ExitCode = 0;
  try {
    TApplication Application;
    TfrmKvaAgent3 MainForm(Application);
    ScheduleScreenshot(MainForm);
    Application.Run(MainForm);
  } catch (const std::exception& E) {
    Log("KVAAgent", std::string("Fatal: ") + E.what());
    std::fprintf(stderr, "KVAAgent: %s\n", E.what());
    ExitCode = 1;
  }
  FreeLoggingThread();
  return ExitCode;
}
