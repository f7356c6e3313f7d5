// The idle render cycle of the main window: redraws per second and CPU use over a run with
// no video frames arriving (run it on a display, Xvfb on these machines).
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" bench/kva_render_cycle_bench [seconds]
//
// CPU is reported for the whole process and for the UI thread alone; the rest is the GL
// driver's own threads (llvmpipe's rasteriser under Xvfb).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "agent/frmKvaAgent3.h"
#include "infra/LoggingThread.h"
#include "platform/MainThread.h"

using namespace kva;

namespace {

double ProcessCpuSeconds() {
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  return Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec + (Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
  timespec Time{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Time);
  return Time.tv_sec + Time.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  const int Seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const auto Dir = std::filesystem::temp_directory_path() / "kva-render-bench";
  std::filesystem::create_directories(Dir);
  {
    TApplication Application;
    TfrmKvaAgent3 Form(Application, {(Dir / "KVAAgent.cfg").string()});
    // Let the window settle before measuring.
    MainThread().QueueDelayed(&Form, 1000, [] {});
    const auto SettleEnd = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    Application.SetMainForm(&Form);
    Form.Show();
    while (std::chrono::steady_clock::now() < SettleEnd) Application.HandleMessage();

    const uint64_t Redraws = Form.RedrawCount();
    const double Process = ProcessCpuSeconds(), Thread = ThreadCpuSeconds();
    const auto Start = std::chrono::steady_clock::now();
    const auto End = Start + std::chrono::seconds(Seconds);
    while (std::chrono::steady_clock::now() < End) Application.HandleMessage();
    const double Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    const double ProcessCpu = ProcessCpuSeconds() - Process, ThreadCpu = ThreadCpuSeconds() - Thread;
    const double Count = static_cast<double>(Form.RedrawCount() - Redraws);
    std::printf("Idle render cycle over %.1f s, no frames arriving:\n", Wall);
    std::printf("  %.1f redraws per second (%.2f ms apart)\n", Count / Wall, Wall * 1000 / Count);
    std::printf("  CPU: process %.1f %% of one core, UI thread %.1f %%, GL driver threads %.1f %%\n",
                ProcessCpu / Wall * 100, ThreadCpu / Wall * 100, (ProcessCpu - ThreadCpu) / Wall * 100);
    std::printf("  CPU per redraw: %.2f ms (UI thread %.2f ms)\n", ProcessCpu * 1000 / Count, ThreadCpu * 1000 / Count);
  }
  FreeLoggingThread();
  std::filesystem::remove_all(Dir);
  return 0;
}
