#include "LoggingThread.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/AnsiText.h"
#include "platform/DateTime.h"
#include "platform/Process.h"

namespace kva {

TLoggingThread::TLoggingThread() : FThread([this] { Execute(); }) {}

TLoggingThread::~TLoggingThread() {
  FTerminated = true;
  FNewLogEvent.SetEvent();
  FThread.join();
  try {
    FlushLogLines();
  } catch (...) {
    // Nobody is left to tell; the lines are lost with the file system's error.
  }
}

void TLoggingThread::Execute() {
  while (!FTerminated) {
    FNewLogEvent.WaitFor();
    try {
      FlushLogLines();
    } catch (...) {
      // A failed write loses this batch; the log goes on with the next one.
    }
  }
}

void TLoggingThread::AppendTimeStamp() {
  using namespace std::chrono;
  const auto Milliseconds = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const int64_t Second = Milliseconds / 1000;
  if (Second != FCachedSecond) {
    const time_t Seconds = static_cast<time_t>(Second);
    tm Parts{};
    localtime_r(&Seconds, &Parts);
    FCachedTime[0] = static_cast<char>('0' + Parts.tm_hour / 10);
    FCachedTime[1] = static_cast<char>('0' + Parts.tm_hour % 10);
    FCachedTime[2] = ':';
    FCachedTime[3] = static_cast<char>('0' + Parts.tm_min / 10);
    FCachedTime[4] = static_cast<char>('0' + Parts.tm_min % 10);
    FCachedTime[5] = ':';
    FCachedTime[6] = static_cast<char>('0' + Parts.tm_sec / 10);
    FCachedTime[7] = static_cast<char>('0' + Parts.tm_sec % 10);
    FCachedSecond = Second;
  }
  const int Millisecond = static_cast<int>(Milliseconds % 1000);
  const char Fraction[4] = {'.', static_cast<char>('0' + Millisecond / 100),
                            static_cast<char>('0' + Millisecond / 10 % 10), static_cast<char>('0' + Millisecond % 10)};
  FLogLines.append(FCachedTime, sizeof FCachedTime);
  FLogLines.append(Fraction, sizeof Fraction);
}

void TLoggingThread::Log(std::string_view AComponent, std::string_view ALogLine) {
  static thread_local const std::string ThreadId = std::to_string(CurrentThreadId());
  {
    std::lock_guard Lock(FLinesLock);
    AppendTimeStamp();
    FLogLines += " T";
    FLogLines += ThreadId;
    FLogLines += ' ';
    FLogLines += AComponent;
    FLogLines += ": ";
    FLogLines += ALogLine;
    FLogLines += "\r\n";
  }
  FNewLogEvent.SetEvent();
}

void TLoggingThread::LogNewThread(std::string_view AThreadName) { Log("New Thread", AThreadName); }

void TLoggingThread::SaveToFile(const std::string& AFileName) {
  {
    std::lock_guard FileLock(FFileLock);
    FLogStream.Close();
    if (AFileName.empty()) return;
    FLogStream = TFileStream::Create(AFileName);
  }
  FNewLogEvent.SetEvent();
}

void TLoggingThread::FlushLogLines() {
  std::lock_guard FileLock(FFileLock);
  if (!FLogStream.IsOpen()) return;
  {
    std::lock_guard Lock(FLinesLock);
    FBatch.swap(FLogLines);
  }
  if (FBatch.empty()) return;
  const std::string Bytes = ToAnsi(FBatch);
  FBatch.clear();
  if (FMirrorToStdErr) std::fwrite(Bytes.data(), 1, Bytes.size(), stderr);
  FLogStream.Write(Bytes);
}

void TLoggingThread::Lock() {
  FFileLock.lock();
  FLinesLock.lock();
}

void TLoggingThread::UnLock() {
  FLinesLock.unlock();
  FFileLock.unlock();
}

namespace {

std::mutex gLoggingThreadLock;
std::atomic<TLoggingThread*> gLoggingThread{nullptr};

// Frees the logging thread at exit if the program did not do so itself.
struct TLoggingThreadHolder {
  ~TLoggingThreadHolder() { FreeLoggingThread(); }
} gLoggingThreadHolder;

}  // namespace

TLoggingThread& LoggingThread() {
  TLoggingThread* Instance = gLoggingThread.load(std::memory_order_acquire);
  if (Instance) return *Instance;
  std::lock_guard Lock(gLoggingThreadLock);
  Instance = gLoggingThread.load(std::memory_order_relaxed);
  if (!Instance) {
    Instance = new TLoggingThread;
    gLoggingThread.store(Instance, std::memory_order_release);
  }
  return *Instance;
}

void FreeLoggingThread() {
  std::unique_ptr<TLoggingThread> Instance;
  {
    std::lock_guard Lock(gLoggingThreadLock);
    Instance.reset(gLoggingThread.exchange(nullptr));
  }
}

void StartupLog() {
  TLoggingThread& Thread = LoggingThread();
  const TLocalTime Start = LocalTimeNow();
  Thread.Log("Startup " + ExecutablePath(), FormatDateTime("yyyy.mm.dd hh:nn:ss.zzz", Start));
  Thread.SaveToFile("log_" + FormatDateTime("yyyymmdd_hhnnsszzz", Start) + ".txt");
}

}  // namespace kva
