// Small helpers for the benchmark programs: percentiles of samples.
#pragma once

#include <algorithm>
#include <vector>

namespace kva::bench {

// The APercent-th percentile (nearest rank) of the samples; sorts them.
template <typename T>
T Percentile(std::vector<T>& ASamples, double APercent) {
  if (ASamples.empty()) return T{};
  std::sort(ASamples.begin(), ASamples.end());
  const size_t Rank = static_cast<size_t>(APercent / 100.0 * static_cast<double>(ASamples.size() - 1) + 0.5);
  return ASamples[std::min(Rank, ASamples.size() - 1)];
}

}  // namespace kva::bench
