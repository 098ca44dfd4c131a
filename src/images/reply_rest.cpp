#include "images/reply_rest.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace velmora {

std::size_t DiscardRestOfReply(Link& link, std::stop_token stop, const Pump& pump,
                               DiscardOptions options) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    const std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) return 0;
    SerialPort& port = link.Port();
    std::array<std::uint8_t, 5000> scrap;
    std::size_t dropped = 0;
    const auto start = Clock::now();
    auto lastArrival = start;
    for (;;) {
        if (pump) pump();
        if (stop.stop_requested() || link.CancelRequested() || !port.IsOpen()) break;
        const std::size_t n = port.ReadAvailable(scrap);
        const auto now = Clock::now();
        if (now - start >= options.limit) break;
        if (n > 0) {
            dropped += n;
            lastArrival = now;
            continue;
        }
        const auto until = std::min(lastArrival + options.quiet, start + options.limit);
        if (now >= until) break;
        const auto left = std::chrono::ceil<milliseconds>(until - now);
        port.WaitReadable(std::clamp(left, milliseconds(1), kWaitSlice));
    }
    return dropped;
}

}  // namespace velmora
