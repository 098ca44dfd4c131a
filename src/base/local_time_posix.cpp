// LocalTime over POSIX localtime_r.
#include "base/local_time.h"

namespace velmora {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

}  // namespace velmora
