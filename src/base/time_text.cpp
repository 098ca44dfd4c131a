#include "base/time_text.h"

namespace velmora {

std::string TwoDigits(int value) {
    std::string text = std::to_string(value);
    return value < 10 ? "0" + text : text;
}

std::string TimeStampText(int yearAfter2000, int month, int day, int hour, int minute, int second) {
    return std::to_string(yearAfter2000 + 2000) + "-" + TwoDigits(month) + "-" + TwoDigits(day) +
           " " + TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second);
}

std::string CompactTimeStampText(int yearAfter2000, int month, int day, int hour, int minute,
                                 int second) {
    return std::to_string(yearAfter2000 + 2000) + TwoDigits(month) + TwoDigits(day) +
           TwoDigits(hour) + TwoDigits(minute) + TwoDigits(second);
}

}  // namespace velmora
