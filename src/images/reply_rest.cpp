#include "images/reply_rest.h"

namespace velmora {

std::size_t DiscardRestOfReply(Link& link, std::stop_token stop, const Pump& pump,
                               DiscardOptions options) {
    const std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) return 0;
    return link.DiscardUntilQuiet(*claim, options.quiet, options.limit, std::move(stop), pump);
}

}  // namespace velmora
