// The system's 8-bit text, as written to the log file, the configuration file and the
// communication log, and exchanged with GStreamer. On Linux the 8-bit code page is UTF-8;
// every file writer goes through these two functions so the choice lives in one place.
// Strings in memory are UTF-8 (std::string).
#pragma once

#include <string>
#include <string_view>

namespace kva {

// In-memory text to 8-bit bytes. What the code page cannot hold (ill-formed UTF-8 here) is
// replaced by its substitute character '?'.
std::string ToAnsi(std::string_view AText);

// 8-bit bytes to in-memory text. Bytes that do not decode become U+FFFD.
std::string FromAnsi(std::string_view ABytes);

}  // namespace kva
