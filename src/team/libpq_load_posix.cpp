// libpq loaded with dlopen on first use, by the soname the build compiled against.
#include <dlfcn.h>

#include "team/libpq_api.h"

namespace velmora::team {
namespace {

Libpq Load() {
    Libpq libpq;
    // Kept loaded for the rest of the run, like every library a program links.
    void* library = ::dlopen(VELMORA_LIBPQ_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        libpq.failure = ::dlerror();
        return libpq;
    }
    // A symbol missing means a libpq older than the program needs: nothing is used.
#define VELMORA_LIBPQ_SYMBOL(name)                                                     \
    if (libpq.failure.empty()) {                                                       \
        libpq.api.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
        if (!libpq.api.name) libpq.failure = ::dlerror();                              \
    }
    VELMORA_LIBPQ_FUNCTIONS(VELMORA_LIBPQ_SYMBOL)
#undef VELMORA_LIBPQ_SYMBOL
    if (!libpq.failure.empty()) {
        libpq.api = {};
        ::dlclose(library);
    }
    return libpq;
}

}  // namespace

const Libpq& LoadLibpq() {
    static const Libpq libpq = Load();
    return libpq;
}

}  // namespace velmora::team
