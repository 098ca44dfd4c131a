#pragma once
// Clocks shared by the benchmarks.
#include <time.h>

#include <chrono>
#include <cstddef>

namespace velmora::bench {

inline double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU time of CLOCK_THREAD_CPUTIME_ID or CLOCK_PROCESS_CPUTIME_ID, in seconds.
inline double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Time `bytes` take on a line of `baud` bit/s: ten bits a byte.
inline double LineSeconds(std::size_t bytes, int baud) {
    return static_cast<double>(bytes) * 10.0 / baud;
}

}  // namespace velmora::bench
