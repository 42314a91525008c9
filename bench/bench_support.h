// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Timing for the benchmarks: medians, which a noisy neighbour on the machine moves least.

#include <algorithm>
#include <chrono>
#include <vector>

namespace velkorant::bench {

// Median of `rounds` timings of `work`, in milliseconds.
template <typename Work>
double MedianMs(int rounds, Work&& work) {
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
  return times[static_cast<std::size_t>(rounds / 2)];
}

}  // namespace velkorant::bench
