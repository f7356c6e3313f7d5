#include "ConfigBase.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/AnsiText.h"
#include "platform/FileStream.h"
#include "platform/Process.h"

namespace kva {

namespace {

bool SameLetters(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    if (std::tolower(static_cast<unsigned char>(A[I])) != std::tolower(static_cast<unsigned char>(B[I]))) return false;
  }
  return true;
}

// Sets a field from a JSON value of the field's type; other types leave it unchanged.
struct TAssign {
  const nlohmann::json& Value;
  void operator()(std::string* AField) const {
    if (Value.is_string()) *AField = Value.get<std::string>();
  }
  void operator()(bool* AField) const {
    if (Value.is_boolean()) *AField = Value.get<bool>();
  }
  void operator()(int32_t* AField) const {
    if (!Value.is_number_integer()) return;
    if (Value.is_number_unsigned()) {
      const auto Number = Value.get<uint64_t>();
      if (Number <= INT32_MAX) *AField = static_cast<int32_t>(Number);
    } else {
      const auto Number = Value.get<int64_t>();
      if (Number >= INT32_MIN && Number <= INT32_MAX) *AField = static_cast<int32_t>(Number);
    }
  }
};

struct TFormatValue {
  std::string operator()(const std::string* AField) const {
    return nlohmann::json(*AField).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  std::string operator()(const bool* AField) const { return *AField ? "true" : "false"; }
  std::string operator()(const int32_t* AField) const { return std::to_string(*AField); }
};

std::string ResolveName(const TConfigBase& AConfig, const std::string& AFileName) {
  return AFileName.empty() ? AConfig.GetAppDefaultConfig() : AFileName;
}

}  // namespace

std::string TConfigBase::GetAppDefaultConfig() const { return ConfigFileFor(ExecutablePath()); }

std::string TConfigBase::ConfigFileFor(const std::string& AExecutablePath) {
  return std::filesystem::path(AExecutablePath).replace_extension(".cfg").string();
}

std::string TConfigBase::JsonKey(std::string_view AFieldName) {
  std::string Key(AFieldName.substr(AFieldName.starts_with('F') ? 1 : 0));
  if (!Key.empty()) Key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(Key[0])));
  return Key;
}

void TConfigBase::LoadFromFile(const std::string& AFileName) {
  std::string Bytes;
  if (!ReadWholeFile(ResolveName(*this, AFileName), Bytes)) return;
  const nlohmann::json Document = nlohmann::json::parse(FromAnsi(Bytes), nullptr, /*allow_exceptions=*/false);
  if (!Document.is_object()) return;
  std::lock_guard Lock(FLock);
  const std::vector<TField> AllFields = Fields();
  for (const auto& [Key, Value] : Document.items()) {
    for (const TField& Field : AllFields) {
      if (SameLetters(Field.Name, "F" + Key)) {
        std::visit(TAssign{Value}, Field.Value);
        break;
      }
    }
  }
}

std::string TConfigBase::Format() {
  std::lock_guard Lock(FLock);
  const std::vector<TField> AllFields = Fields();
  std::string Text = "{\r\n";
  for (size_t I = 0; I < AllFields.size(); ++I) {
    Text += "    \"" + JsonKey(AllFields[I].Name) + "\": " + std::visit(TFormatValue{}, AllFields[I].Value);
    Text += I + 1 < AllFields.size() ? ",\r\n" : "\r\n";
  }
  return Text + "}";
}

void TConfigBase::SaveToFile(const std::string& AFileName) {
  const std::filesystem::path Path = ResolveName(*this, AFileName);
  std::lock_guard SaveLock(FSaveLock);
  if (Path.has_parent_path()) std::filesystem::create_directories(Path.parent_path());
  const std::string Bytes = ToAnsi(Format());

  // Write a whole new file beside the old one, then swap it in with one rename.
  static std::atomic<unsigned> Counter = 0;
  const std::string TempName =
      Path.string() + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(Counter++);
  try {
    TFileStream File = TFileStream::Create(TempName);
    File.Write(Bytes);
    File.Sync();
    File.Close();
    std::filesystem::rename(TempName, Path);
  } catch (...) {
    std::error_code Ignored;
    std::filesystem::remove(TempName, Ignored);
    throw;
  }
}

}  // namespace kva
