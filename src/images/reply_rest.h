#pragma once
// What follows a refused reply: a splicer that answered with a foreign head may
// go on sending the rest of its stream, which must not spoil the next exchange.
#include <chrono>
#include <stop_token>

#include "protocol/link.h"

namespace velmora {

struct DiscardOptions {
    // The rest has ended once nothing has arrived for this long.
    std::chrono::milliseconds quiet{200};
    // Never waits longer than this, however long the splicer keeps sending.
    std::chrono::milliseconds limit{50000};
};

// Claims the line and reads and drops whatever arrives until the line has been
// quiet for `options.quiet`, the limit passes, a stop or cancel is asked for, or
// the port goes. Returns the number of bytes dropped. Does nothing (returns 0)
// while another exchange holds the line. Calls `pump` between passes.
std::size_t DiscardRestOfReply(Link& link, std::stop_token stop = {}, const Pump& pump = {},
                               DiscardOptions options = {});

}  // namespace velmora
