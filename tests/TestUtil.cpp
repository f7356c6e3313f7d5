#include "TestUtil.h"

#include "infra/LoggingThread.h"
#include "platform/MainThread.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

namespace kva::test {

TTempDir::TTempDir() {
  std::string Template = (std::filesystem::temp_directory_path() / "kva-test-XXXXXX").string();
  if (!::mkdtemp(Template.data())) throw std::runtime_error("mkdtemp failed");
  FPath = Template;
}

TTempDir::~TTempDir() {
  std::error_code Ignored;
  std::filesystem::remove_all(FPath, Ignored);
}

TWorkingDirectory::TWorkingDirectory(const std::filesystem::path& APath)
    : FPrevious(std::filesystem::current_path()) {
  std::filesystem::current_path(APath);
}

TWorkingDirectory::~TWorkingDirectory() { std::filesystem::current_path(FPrevious); }

std::string ReadFileBytes(const std::string& AFileName) {
  std::ifstream File(AFileName, std::ios::binary);
  std::ostringstream Bytes;
  Bytes << File.rdbuf();
  return Bytes.str();
}

void WriteFileBytes(const std::string& AFileName, const std::string& ABytes) {
  std::ofstream File(AFileName, std::ios::binary | std::ios::trunc);
  File << ABytes;
}

TLogCapture::TLogCapture() { LoggingThread().SaveToFile(FDir.File("log.txt")); }

TLogCapture::~TLogCapture() { LoggingThread().SaveToFile(""); }

std::string TLogCapture::Text() {
  LoggingThread().FlushLogLines();
  return ReadFileBytes(FDir.File("log.txt"));
}

size_t Count(const std::string& AText, const std::string& APart) {
  size_t Found = 0;
  for (size_t At = AText.find(APart); At != std::string::npos; At = AText.find(APart, At + APart.size())) ++Found;
  return Found;
}

bool PumpUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    MainThread().WaitAndProcess(std::chrono::milliseconds(5));
  }
  return true;
}

bool WaitUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kva::test
