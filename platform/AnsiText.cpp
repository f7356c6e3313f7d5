#include "AnsiText.h"

#include <cstdint>

namespace kva {

namespace {

// Length of the well-formed UTF-8 sequence at the start of AText, or 0 if it is ill-formed.
size_t WellFormedLength(std::string_view AText) {
  const auto Byte = [&](size_t I) { return static_cast<uint8_t>(AText[I]); };
  const uint8_t Lead = Byte(0);
  if (Lead < 0x80) return 1;
  size_t Length;
  uint8_t Low = 0x80, High = 0xBF;  // allowed range of the second byte
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3;
    if (Lead == 0xE0) Low = 0xA0;       // no overlong forms
    if (Lead == 0xED) High = 0x9F;      // no surrogates
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4;
    if (Lead == 0xF0) Low = 0x90;       // no overlong forms
    if (Lead == 0xF4) High = 0x8F;      // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (AText.size() < Length) return 0;
  if (Byte(1) < Low || Byte(1) > High) return 0;
  for (size_t I = 2; I < Length; ++I) {
    if (Byte(I) < 0x80 || Byte(I) > 0xBF) return 0;
  }
  return Length;
}

std::string Sanitize(std::string_view AText, std::string_view ASubstitute) {
  std::string Result;
  Result.reserve(AText.size());
  while (!AText.empty()) {
    size_t Length = WellFormedLength(AText);
    if (Length == 0) {
      Result += ASubstitute;
      Length = 1;
    } else {
      Result.append(AText.substr(0, Length));
    }
    AText.remove_prefix(Length);
  }
  return Result;
}

}  // namespace

std::string ToAnsi(std::string_view AText) { return Sanitize(AText, "?"); }

std::string FromAnsi(std::string_view ABytes) { return Sanitize(ABytes, "\xEF\xBF\xBD"); }

}  // namespace kva
