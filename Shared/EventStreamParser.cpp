#include "EventStreamParser.h"

namespace kva {

TEventStreamParser::TEventStreamParser(TOnEvent AOnEvent, size_t AMaxLineLength)
    : FOnEvent(std::move(AOnEvent)), FMaxLineLength(AMaxLineLength) {}

void TEventStreamParser::Feed(std::string_view ABytes) {
  size_t Start = 0;
  for (size_t I = 0; I < ABytes.size(); ++I) {
    const char Byte = ABytes[I];
    if (Byte != '\n' && Byte != '\r') {
      FAfterCR = false;
      continue;
    }
    const bool SecondHalfOfCRLF = Byte == '\n' && FAfterCR;
    FAfterCR = Byte == '\r';
    if (SecondHalfOfCRLF) {
      Start = I + 1;
      continue;
    }
    if (!FSkippingLine) {
      FLine.append(ABytes.substr(Start, I - Start));
      TakeLine(FLine);
    }
    FLine.clear();
    if (FLine.capacity() > 1024 * 1024) FLine.shrink_to_fit();  // after an unusually long line
    FSkippingLine = false;
    Start = I + 1;
  }
  if (FSkippingLine) return;
  FLine.append(ABytes.substr(Start));
  if (FLine.size() > FMaxLineLength) {
    FLine.clear();
    FLine.shrink_to_fit();
    FSkippingLine = true;
    FDamaged = true;
  }
}

void TEventStreamParser::TakeLine(std::string_view ALine) {
  if (ALine.empty()) {
    // The end of an event. One without a name is dropped, like one that lost a line.
    if (!FEvent.empty() && !FDamaged && FOnEvent) FOnEvent(FEvent, FData);
    FEvent.clear();
    FData.clear();
    FHasData = false;
    FDamaged = false;
    return;
  }
  if (ALine.front() == ':') return;  // a comment
  const size_t Colon = ALine.find(':');
  const std::string_view Field = ALine.substr(0, Colon);
  std::string_view Value = Colon == std::string_view::npos ? std::string_view() : ALine.substr(Colon + 1);
  if (!Value.empty() && Value.front() == ' ') Value.remove_prefix(1);
  if (Field == "event") {
    FEvent = Value;
  } else if (Field == "data") {
    if (FHasData) FData += '\n';
    FData += Value;
    FHasData = true;
  }
}

}  // namespace kva
