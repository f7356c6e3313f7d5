// The process's text log. Any thread logs with Log(AComponent, ALogLine): the call formats one
// line, appends it to the pending lines and wakes the logging thread, which writes every
// pending line to the log file in one batch. No file I/O happens in the caller.
//
// Line format: "hh:mm:ss.zzz T<kernel thread id> <component>: <text>" CR LF, local time,
// in the order in which the calls took the lock.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/FileStream.h"
#include "platform/SyncObjects.h"

namespace kva {

class TLoggingThread {
public:
  TLoggingThread();
  // Ends the thread after its last flush, then writes whatever was logged after that flush.
  ~TLoggingThread();
  TLoggingThread(const TLoggingThread&) = delete;
  TLoggingThread& operator=(const TLoggingThread&) = delete;

  void Log(std::string_view AComponent, std::string_view ALogLine);
  void LogNewThread(std::string_view AThreadName);

  // Makes AFileName the log file from now on (an existing file is emptied); pending lines are
  // written to it at once. An empty name closes the file: lines then stay pending. A file that
  // cannot be created raises std::system_error and leaves the log without a file.
  void SaveToFile(const std::string& AFileName);
  // Writes all pending lines if a file is open; otherwise they stay pending.
  void FlushLogLines();

  // Also writes every batch to standard error (the "-d" console).
  void SetMirrorToStdErr(bool AMirror) { FMirrorToStdErr = AMirror; }

  // The instance lock: while held, no line is added and no batch is written.
  void Lock();
  void UnLock();

  // The capture of other processes' debug output does not exist on Linux.
  bool InitOutputDebugStringLogger() { return false; }
  void CloseOutputDebugStringLogger() {}

private:
  void Execute();
  void AppendTimeStamp();

  // Lock order: FFileLock, then FLinesLock. Log takes only FLinesLock, so a batch being
  // written never holds up a caller.
  std::recursive_mutex FFileLock;   // guards FLogStream and the order of batches
  std::recursive_mutex FLinesLock;  // guards FLogLines
  std::string FLogLines;            // pending lines, each ended by CR LF
  std::string FBatch;               // the batch being written; keeps its capacity between batches
  TFileStream FLogStream;

  // The "hh:mm:ss" of the last second seen, so that most lines skip the time-zone lookup.
  int64_t FCachedSecond = INT64_MIN;
  char FCachedTime[8] = {};

  TAutoResetEvent FNewLogEvent;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FMirrorToStdErr{false};
  std::thread FThread;
};

// The single logging thread, created on first use.
TLoggingThread& LoggingThread();
// Ends the logging thread at program end; every line logged before reaches the file.
void FreeLoggingThread();

inline void Log(std::string_view AComponent, std::string_view ALogLine) { LoggingThread().Log(AComponent, ALogLine); }

// Program start-up: logs "Startup <executable path>" with the start time, then opens
// "log_YYYYMMDD_hhnnsszzz.txt" in the working directory.
void StartupLog();

}  // namespace kva
