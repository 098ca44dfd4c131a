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
#include "jobs/xlsx_text.h"

namespace velmora::jobs {

// Writes the workbook to `file`, replacing any file there only once the new one is
// complete; on failure nothing is left behind, a file there stays as it was, and
// the reason says why (the front ends word it with FileNotSavedText).
FileWriteResult WriteMatrixXlsx(const std::filesystem::path& file, const SpliceMatrix& matrix,
                                const MatrixCaptions& captions);

}  // namespace velmora::jobs
