#pragma once
// A job's splice matrix as a comma-separated file: a header line, then a line per
// position of every closure, the closure first and then the XLSX sheet's columns.
// Like the history export: lines end in CR LF, and the file is GBK when the tables
// are Chinese (the code page Windows spreadsheets open it in), unless UTF-8 is
// asked for. A field holding a comma, a quote, a line break or blanks at its ends
// is quoted.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/atomic_file.h"
#include "history/splice_record.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

// The file's encoding: the tables' (GBK when they are Chinese, else UTF-8), or
// UTF-8 with a byte-order mark, which spreadsheet programs read as UTF-8 in any
// language and which holds every name.
enum class CsvEncoding { OfTheTables, Utf8WithMark };

// `field` as one CSV field (UTF-8: a byte that is not is U+FFFD).
std::string CsvField(std::string_view field);

// The whole file as written; or, for a GBK file, the first field it cannot hold
// (a character GBK has no code for, as "ä" in "Kabel-ä"): then there is no file.
struct MatrixCsvText {
    std::string bytes;
    struct Unheld {
        std::size_t line = 0;   // of the file, the header being line 1
        std::string field;      // the field's text
        std::string character;  // the first character GBK cannot hold
    };
    std::optional<Unheld> unheld;
};
MatrixCsvText MatrixCsv(const SpliceMatrix& matrix, const MatrixCaptions& captions,
                        TableLanguage language, CsvEncoding encoding = CsvEncoding::OfTheTables);

// Writes it to `file`, replacing any file there only once the new one is complete.
// A field GBK cannot hold writes nothing: the reason names its line and text.
FileWriteResult WriteMatrixCsv(const std::filesystem::path& file, const SpliceMatrix& matrix,
                               const MatrixCaptions& captions, TableLanguage language,
                               CsvEncoding encoding = CsvEncoding::OfTheTables);

}  // namespace velmora::jobs
