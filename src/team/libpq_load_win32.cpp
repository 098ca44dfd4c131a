// libpq (with OpenSSL) is linked into the Windows programs statically: the table
// holds its functions and is always there.
#include "team/libpq_api.h"

namespace velmora::team {

const Libpq& LoadLibpq() {
#define VELMORA_LIBPQ_LINKED(name) .name = &::name,
    static const Libpq libpq{.api = {VELMORA_LIBPQ_FUNCTIONS(VELMORA_LIBPQ_LINKED)}, .failure = {}};
#undef VELMORA_LIBPQ_LINKED
    return libpq;
}

}  // namespace velmora::team
