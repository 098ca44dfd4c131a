#pragma once
// A job's splice matrix as a comma-separated file: a header line, then a line per
// position of every closure, the closure first and then the XLSX sheet's columns.
// Like the history export: lines end in CR LF, and the file is GBK when the tables
// are Chinese (the code page Windows spreadsheets open it in). A field holding a
// comma, a quote, a line break or blanks at its ends is quoted.
#include <filesystem>
#include <string>
#include <string_view>

#include "base/atomic_file.h"
#include "history/splice_record.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

// `field` as one CSV field.
std::string CsvField(std::string_view field);

// The whole file as written.
std::string MatrixCsv(const SpliceMatrix& matrix, const MatrixCaptions& captions,
                      TableLanguage language);

// Writes it to `file`, replacing any file there only once the new one is complete.
FileWriteResult WriteMatrixCsv(const std::filesystem::path& file, const SpliceMatrix& matrix,
                               const MatrixCaptions& captions, TableLanguage language);

}  // namespace velmora::jobs
