#include "archive/splice_time.h"

#include <algorithm>

namespace velmora::archive {
namespace {

std::optional<std::int64_t> SpliceTime(int year, int month, int day, int hour, int minute,
                                       int second) {
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (month < 1 || month > 12 || day < 1 || !date.ok()) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return ((((std::int64_t{year} * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 +
           second;
}

}  // namespace

std::optional<std::int64_t> SpliceTime(const SpliceRecord& r) {
    return SpliceTime(2000 + r.yearOffset(), r.month(), r.day(), r.hour(), r.minute(), r.second());
}

std::optional<std::int64_t> SpliceTime(std::string_view stamp) {
    if (stamp.size() != 14 ||
        !std::all_of(stamp.begin(), stamp.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    auto part = [&](std::size_t at, std::size_t n) {
        int value = 0;
        for (std::size_t i = at; i < at + n; ++i) value = value * 10 + (stamp[i] - '0');
        return value;
    };
    return SpliceTime(part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), part(12, 2));
}

std::int64_t DayStart(const std::chrono::year_month_day& d) {
    return ((static_cast<std::int64_t>(static_cast<int>(d.year())) * 100 +
             static_cast<unsigned>(d.month())) *
                100 +
            static_cast<unsigned>(d.day())) *
           1000000;
}

std::int64_t DayEnd(const std::chrono::year_month_day& d) {
    return DayStart(d) + 235959;
}

std::chrono::local_seconds LocalTimeOf(std::int64_t t) {
    auto part = [t](std::int64_t unit) { return static_cast<unsigned>(t / unit % 100); };
    const std::chrono::year_month_day date{std::chrono::year{static_cast<int>(t / 10'000'000'000)},
                                           std::chrono::month{part(100'000'000)},
                                           std::chrono::day{part(1'000'000)}};
    return std::chrono::local_days{date} + std::chrono::hours{part(10'000)} +
           std::chrono::minutes{part(100)} + std::chrono::seconds{part(1)};
}

}  // namespace velmora::archive
