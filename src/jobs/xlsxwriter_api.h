#pragma once
// The libxlsxwriter functions the matrix writer calls, reached through a table. On
// Linux the library is loaded on first use (xlsxwriter_api_posix.cpp): linked in, it
// and the libcrypto behind it would be mapped and started by every run of the
// command-line tool. On Windows, one static executable, the table holds the
// functions linked in (xlsxwriter_api_win32.cpp).
#include <xlsxwriter.h>

#include <string>

namespace velmora::jobs {

#define VELMORA_XLSXWRITER_FUNCTIONS(X) \
    X(workbook_new_opt)                 \
    X(workbook_set_properties)          \
    X(workbook_add_format)              \
    X(workbook_add_worksheet)           \
    X(workbook_close)                   \
    X(format_set_bg_color)              \
    X(format_set_bold)                  \
    X(format_set_border)                \
    X(format_set_font_color)            \
    X(format_set_font_size)             \
    X(format_set_num_format)            \
    X(format_set_pattern)               \
    X(format_set_text_wrap)             \
    X(worksheet_autofilter)             \
    X(worksheet_freeze_panes)           \
    X(worksheet_set_column)             \
    X(worksheet_write_blank)            \
    X(worksheet_write_datetime)         \
    X(worksheet_write_number)           \
    X(worksheet_write_string)           \
    X(lxw_strerror)

struct XlsxWriterApi {
#define VELMORA_XLSXWRITER_MEMBER(name) decltype(&::name) name = nullptr;
    VELMORA_XLSXWRITER_FUNCTIONS(VELMORA_XLSXWRITER_MEMBER)
#undef VELMORA_XLSXWRITER_MEMBER
};

// The table, loaded once for the whole run; null when the library cannot be
// loaded, with the reason in `error`.
const XlsxWriterApi* XlsxWriter(std::string& error);

}  // namespace velmora::jobs
