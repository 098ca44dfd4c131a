// LocalTime over the Windows C library's localtime_s.
#include <time.h>

#include "base/local_time.h"

namespace velmora {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

}  // namespace velmora
