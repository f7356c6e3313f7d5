// Reading request bodies in the simulator's services.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace kva::sim {

// The body as a JSON object; none when it is not one.
inline std::optional<nlohmann::json> ParseObject(const std::string& ABody) {
  nlohmann::json Body = nlohmann::json::parse(ABody, nullptr, false);
  if (!Body.is_object()) return std::nullopt;
  return Body;
}

// A string member, or empty when it is absent or not a string.
inline std::string StringMember(const nlohmann::json& AObject, const char* AMember) {
  const auto It = AObject.find(AMember);
  return It != AObject.end() && It->is_string() ? It->get<std::string>() : std::string();
}

}  // namespace kva::sim
