#pragma once
// Monotonic milliseconds, for time budgets that carry over between waits.

#include <ctime>

inline long long vorn_now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}
