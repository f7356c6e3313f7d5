// Assertion errors: raised for misuse, naming where the rule is stated, as
// "<message> (<source>, line <n>)" or "<message> (<source>)".
#pragma once

#include <stdexcept>
#include <string>

namespace kva {

class TAssertionError : public std::logic_error {
public:
  TAssertionError(const std::string& AMessage, const char* ASource, int ALine)
      : std::logic_error(AMessage + " (" + ASource + ", line " + std::to_string(ALine) + ")") {}
  // Where no line is given: "<message> (<source>)".
  TAssertionError(const std::string& AMessage, const char* ASource)
      : std::logic_error(AMessage + " (" + ASource + ")") {}
};

// "Assertion failure" is the message of an assertion that gives none.
inline void Assert(bool ACondition, const char* ASource, int ALine, const std::string& AMessage = "Assertion failure") {
  if (!ACondition) throw TAssertionError(AMessage, ASource, ALine);
}

}  // namespace kva
