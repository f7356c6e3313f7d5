#include "FileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace kva {

namespace {

[[noreturn]] void RaiseFileError(const std::string& AFileName, const char* AWhat) {
  throw std::system_error(errno, std::generic_category(), std::string(AWhat) + " \"" + AFileName + "\"");
}

}  // namespace

TFileStream TFileStream::Create(const std::string& AFileName) {
  const int Handle = ::open(AFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Handle < 0) RaiseFileError(AFileName, "Cannot create file");
  return TFileStream(Handle, AFileName);
}

TFileStream::TFileStream(TFileStream&& AOther) noexcept
    : FHandle(std::exchange(AOther.FHandle, -1)), FFileName(std::move(AOther.FFileName)) {}

TFileStream& TFileStream::operator=(TFileStream&& AOther) noexcept {
  if (this != &AOther) {
    Close();
    FHandle = std::exchange(AOther.FHandle, -1);
    FFileName = std::move(AOther.FFileName);
  }
  return *this;
}

TFileStream::~TFileStream() { Close(); }

void TFileStream::Write(std::string_view ABytes) { Write(ABytes.data(), ABytes.size()); }

void TFileStream::Write(const void* AData, size_t ASize) {
  const char* Data = static_cast<const char*>(AData);
  while (ASize > 0) {
    const ssize_t Written = ::write(FHandle, Data, ASize);
    if (Written < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(FFileName, "Cannot write file");
    }
    Data += Written;
    ASize -= static_cast<size_t>(Written);
  }
}

void TFileStream::Sync() {
  if (FHandle >= 0 && ::fsync(FHandle) != 0) RaiseFileError(FFileName, "Cannot sync file");
}

void TFileStream::Close() {
  if (FHandle >= 0) {
    ::close(FHandle);
    FHandle = -1;
  }
}

bool ReadWholeFile(const std::string& AFileName, std::string& ABytes) {
  const int Handle = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (Handle < 0) return false;
  std::string Bytes;
  char Buffer[65536];
  for (;;) {
    const ssize_t Read = ::read(Handle, Buffer, sizeof Buffer);
    if (Read < 0 && errno == EINTR) continue;
    if (Read < 0) {
      ::close(Handle);
      return false;
    }
    if (Read == 0) break;
    Bytes.append(Buffer, static_cast<size_t>(Read));
  }
  ::close(Handle);
  ABytes = std::move(Bytes);
  return true;
}

}  // namespace kva
