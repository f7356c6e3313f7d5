// Where an error that escaped a queued call or a background task goes: the handler the owner
// set, or standard error when there is none.
#pragma once

#include <cstdio>
#include <exception>
#include <functional>

namespace kva {

inline void ReportTaskError(const std::function<void(const char*)>& AOnError, const char* AContext,
                            const std::exception& AError) {
  if (AOnError) {
    AOnError(AError.what());
  } else {
    std::fprintf(stderr, "%s: %s\n", AContext, AError.what());
  }
}

}  // namespace kva
