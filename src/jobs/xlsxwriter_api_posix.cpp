// libxlsxwriter loaded with dlopen on first use, by the name the build linked
// against (its soname, found when the build was configured).
#include <dlfcn.h>

#include "jobs/xlsxwriter_api.h"

namespace velmora::jobs {
namespace {

struct Loaded {
    XlsxWriterApi api;
    std::string error;  // "" when every function was found
};

Loaded Load() {
    Loaded loaded;
    // Kept loaded for the rest of the run, like any library linked in.
    void* library = ::dlopen(VELMORA_XLSXWRITER_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = ::dlerror();
        loaded.error = std::string("the spreadsheet writer (") + VELMORA_XLSXWRITER_SONAME +
                       ") cannot be loaded: " + (reason ? reason : "not found");
        return loaded;
    }
#define VELMORA_XLSXWRITER_FIND(name)                                                      \
    loaded.api.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name));        \
    if (!loaded.api.name && loaded.error.empty())                                          \
        loaded.error = std::string("the spreadsheet writer (") + VELMORA_XLSXWRITER_SONAME + \
                       ") has no " #name;
    VELMORA_XLSXWRITER_FUNCTIONS(VELMORA_XLSXWRITER_FIND)
#undef VELMORA_XLSXWRITER_FIND
    return loaded;
}

}  // namespace

const XlsxWriterApi* XlsxWriter(std::string& error) {
    static const Loaded loaded = Load();  // thread-safe, once
    error = loaded.error;
    return loaded.error.empty() ? &loaded.api : nullptr;
}

}  // namespace velmora::jobs
