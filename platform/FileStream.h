// A file opened for writing, owned by one object. Creation truncates an existing file.
// Errors are raised as std::system_error naming the file.
#pragma once

#include <string>
#include <string_view>

namespace kva {

class TFileStream {
public:
  // Creates (or empties) AFileName for writing.
  static TFileStream Create(const std::string& AFileName);

  TFileStream() = default;
  TFileStream(TFileStream&& AOther) noexcept;
  TFileStream& operator=(TFileStream&& AOther) noexcept;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  ~TFileStream();

  bool IsOpen() const { return FHandle >= 0; }
  const std::string& FileName() const { return FFileName; }

  // Writes all bytes; raises on failure.
  void Write(std::string_view ABytes);
  void Write(const void* AData, size_t ASize);
  // Forces the written bytes to the disk.
  void Sync();
  void Close();

private:
  TFileStream(int AHandle, std::string AFileName) : FHandle(AHandle), FFileName(std::move(AFileName)) {}

  int FHandle = -1;
  std::string FFileName;
};

// Reads a whole file; none when it does not exist or cannot be read.
bool ReadWholeFile(const std::string& AFileName, std::string& ABytes);

}  // namespace kva
