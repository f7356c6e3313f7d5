// Millisecond timestamps for the driving commands and the bridge's frame messages.
#pragma once

#include <cstdint>

#include "platform/DateTime.h"

namespace kva {

// Milliseconds since 1 January 1970 UTC of a date-time value. A local value is first moved
// to UTC with the local zone's offset at that local time (daylight saving included; in the
// repeated hour at the end of daylight saving the standard offset is taken).
int64_t DateTimeToJavascript(TDateTime AValue, bool AInputIsUTC);

// Milliseconds since 1 January 1970 UTC, now.
int64_t GetUTCTimestamp();

}  // namespace kva
