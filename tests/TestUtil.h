// Helpers shared by the tests.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace kva::test {

// A fresh directory, removed with everything in it when the object goes.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::string File(const std::string& AName) const { return (FPath / AName).string(); }

private:
  std::filesystem::path FPath;
};

// Makes a directory the working directory for the object's lifetime.
class TWorkingDirectory {
public:
  explicit TWorkingDirectory(const std::filesystem::path& APath);
  ~TWorkingDirectory();

private:
  std::filesystem::path FPrevious;
};

std::string ReadFileBytes(const std::string& AFileName);
void WriteFileBytes(const std::string& AFileName, const std::string& ABytes);

// Sends the process's log to a file of its own while it lives, to look for lines.
class TLogCapture {
public:
  TLogCapture();
  ~TLogCapture();
  // The log so far.
  std::string Text();
  bool Contains(const std::string& AText) { return Text().find(AText) != std::string::npos; }

private:
  TTempDir FDir;
};

// How often APart occurs in AText.
size_t Count(const std::string& AText, const std::string& APart);

// Runs the main thread's calls (this thread being the main thread) until APredicate holds or
// ATimeout passes.
bool PumpUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::milliseconds(5000));

// Polls APredicate until it holds or ATimeout passes.
bool WaitUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::milliseconds(5000));

}  // namespace kva::test
