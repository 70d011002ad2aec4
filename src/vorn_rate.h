#pragma once
// Differences of cumulative counters. A counter that went down (a restart,
// a reset, a wrap) yields 0 for that interval, never a wrapped 2^64 value.

#include <cstdint>

inline uint64_t vorn_diff(uint64_t current, uint64_t previous) {
  return current >= previous ? current - previous : 0;
}

inline uint64_t vorn_rate(uint64_t current, uint64_t previous, uint32_t seconds) {
  return vorn_diff(current, previous) / (seconds ? seconds : 1);
}
