// A settings object kept as one small JSON file beside the executable. Subclasses list their
// fields; the JSON key of a field is its name without the leading F, first letter in lower
// case. Loading ignores letter case in keys and skips malformed files; saving writes a new
// file and renames it over the old one, so a crash or a concurrent save never leaves a torn
// file. Fields may be read and written from any thread through the subclass's accessors.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kva {

class TConfigBase {
public:
  virtual ~TConfigBase() = default;

  // The executable's path with its extension replaced by ".cfg" (appended when it has none).
  virtual std::string GetAppDefaultConfig() const;
  // Loads the fields from a file (empty name: the default path). A missing file, malformed
  // JSON or a value other than an object change nothing; a member whose JSON type does not
  // fit its field leaves that field as it is.
  void LoadFromFile(const std::string& AFileName);
  // Saves all fields (empty name: the default path), creating missing folders. Raises
  // std::system_error or std::filesystem::filesystem_error when the file cannot be written.
  void SaveToFile(const std::string& AFileName);

  // The configuration file of an executable: its extension replaced by ".cfg".
  static std::string ConfigFileFor(const std::string& AExecutablePath);
  // The JSON key of a field name: "FZmqEnabled" gives "zmqEnabled".
  static std::string JsonKey(std::string_view AFieldName);

protected:
  using TFieldValue = std::variant<std::string*, bool*, int32_t*>;
  struct TField {
    std::string_view Name;  // as declared, "FToken"
    TFieldValue Value;
  };
  // The fields in declaration order, which is the order of the keys in the file.
  virtual std::vector<TField> Fields() = 0;

  template <typename T>
  T Get(const T& AField) const {
    std::lock_guard Lock(FLock);
    return AField;
  }
  template <typename T>
  void Set(T& AField, T AValue) {
    std::lock_guard Lock(FLock);
    AField = std::move(AValue);
  }

private:
  std::string Format();

  mutable std::recursive_mutex FLock;  // the field values
  std::mutex FSaveLock;                // one save at a time, so the last change is the one kept
};

}  // namespace kva
