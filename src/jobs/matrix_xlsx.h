#pragma once
// A job's splice matrix as an XLSX workbook (libxlsxwriter): a summary sheet (the
// job's details and limits, its verdict, counts per closure, the records not placed
// and the test splices, listed), then a sheet per closure with a row per position.
// Fibre colours are filled cells that also name the colour; numbers are numbers,
// times are dates; each closure sheet has a frozen header and an auto-filter.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/atomic_file.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

// A sheet name a spreadsheet program accepts for `name`: none of []:*?/\ or control
// characters, not beginning or ending with an apostrophe, at most 31 characters
// (not bytes), never empty, not "History" (Excel's own), and unlike every name in
// `taken` (as spreadsheets compare them, ignoring case); a clash gets " (2)",
// " (3)"... The name is added to `taken`.
std::string SheetName(std::string_view name, std::vector<std::string>& taken);

// Writes the workbook to `file`, replacing any file there only once the new one is
// complete; on failure nothing is left behind, a file there stays as it was, and
// the reason says why (the front ends word it with FileNotSavedText).
FileWriteResult WriteMatrixXlsx(const std::filesystem::path& file, const SpliceMatrix& matrix,
                                const MatrixCaptions& captions);

}  // namespace velmora::jobs
