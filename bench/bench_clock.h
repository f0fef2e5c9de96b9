// The benchmarks' clocks: wall time, the process's CPU time (every thread, kernel time too),
// and the best of several rounds, which on a shared machine is the least disturbed one.
#pragma once
#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

inline double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double cpu_s() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
