// The event-stream format the realtime database streams: events made of "field: value" lines
// and ended by an empty line; lines end in LF, CR LF or CR. "event" names the event, "data"
// carries its text (several data lines are joined by LF); comment lines (starting with ":")
// and other fields are skipped; one blank after the colon is not part of the value. An event
// with a line longer than the limit is dropped whole. Pure code: bytes in, events out, split
// anywhere.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kva {

class TEventStreamParser {
public:
  using TOnEvent = std::function<void(const std::string& AEvent, const std::string& AData)>;

  // A line longer than this is dropped up to its end, so that a stream that never ends a
  // line cannot take all the memory.
  static constexpr size_t DefaultMaxLineLength = 16 * 1024 * 1024;

  explicit TEventStreamParser(TOnEvent AOnEvent, size_t AMaxLineLength = DefaultMaxLineLength);

  // Takes the next bytes of the stream and delivers, in order, every event they complete.
  void Feed(std::string_view ABytes);
  // Bytes held back: the unfinished line.
  size_t PendingBytes() const { return FLine.size(); }

private:
  void TakeLine(std::string_view ALine);

  TOnEvent FOnEvent;
  size_t FMaxLineLength;
  std::string FLine;            // the line read so far
  bool FSkippingLine = false;   // the line grew too long: its bytes are dropped up to its end
  bool FAfterCR = false;        // the last byte was CR: an LF right after it ends nothing
  std::string FEvent, FData;    // the event being read
  bool FHasData = false;
  bool FDamaged = false;        // a line of this event was dropped: the event is dropped too
};

}  // namespace kva
