// libxlsxwriter linked into the executable: the table holds its functions.
#include "jobs/xlsxwriter_api.h"

namespace velmora::jobs {

const XlsxWriterApi* XlsxWriter(std::string& error) {
    static const XlsxWriterApi api = [] {
        XlsxWriterApi table;
#define VELMORA_XLSXWRITER_TAKE(name) table.name = &::name;
        VELMORA_XLSXWRITER_FUNCTIONS(VELMORA_XLSXWRITER_TAKE)
#undef VELMORA_XLSXWRITER_TAKE
        return table;
    }();
    error.clear();
    return &api;
}

}  // namespace velmora::jobs
