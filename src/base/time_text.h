#pragma once
// Date and time texts as the splicer's records, images and files show them.
#include <string>

namespace velmora {

// Two-digit part of a date or time: "0%d" below 10, "%d" otherwise (so values
// past 99 keep all their digits).
std::string TwoDigits(int value);

// "2024-03-05 09:07:00" from the year after 2000 and the other parts.
std::string TimeStampText(int yearAfter2000, int month, int day, int hour, int minute, int second);

// "20240305090700": the same parts without separators, for file names.
std::string CompactTimeStampText(int yearAfter2000, int month, int day, int hour, int minute,
                                 int second);

}  // namespace velmora
