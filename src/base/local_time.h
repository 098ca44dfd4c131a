#pragma once
// The local calendar time, which the C library gives differently per platform
// (local_time_<platform>.cpp).
#include <ctime>

namespace velmora {

// `when` broken down in the local time zone.
std::tm LocalTime(std::time_t when);

}  // namespace velmora
