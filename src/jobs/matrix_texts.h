#pragma once
// How a job's deliverables (the splice matrix as XLSX and CSV, the closures as
// GeoJSON, the job's report) word the matrix: captions from the language files
// (section "Job", English defaults) and the texts of a position's cells, shared so
// that a column reads the same in every file.
#include <array>
#include <cstddef>
#include <string>

#include "base/language.h"
#include "jobs/fibre_colours.h"
#include "jobs/splice_matrix.h"
#include "report/report_texts.h"

namespace velmora::jobs {

// The matrix's columns, in the order of keys::job_files::MatrixColumns.
enum class MatrixColumn : std::size_t {
    Tray,
    Position,
    CableA,
    TubeA,
    FibreA,
    ColourA,
    CableB,
    TubeB,
    FibreB,
    ColourB,
    Loss,
    Result,
    Splicer,
    Number,
    Time,
    Resplices,
    kCount
};
inline constexpr std::size_t kMatrixColumns = static_cast<std::size_t>(MatrixColumn::kCount);

// Every caption the deliverables use, looked up once (a lookup reads the language file).
struct MatrixCaptions {
    std::array<std::string, kMatrixColumns> columns;
    std::array<std::string, kColourCount> colours;
    std::string title, summary, customer, contractor, technicians, notes, jobPassed, jobNotPassed,
        closure, closures, location, latitude, longitude, positions, spliced, overLimit, respliced,
        planned, unplaced, testSplices, total, resplice;
    report::Captions report;  // verdicts, limits and the words the report shares

    const std::string& operator[](MatrixColumn c) const {
        return columns[static_cast<std::size_t>(c)];
    }
    const std::string& Colour(FibreColour c) const { return colours[static_cast<std::size_t>(c)]; }
    // "Pass", "Splice failed", "Loss over limit"...
    const std::string& Mark(velmora::Mark mark) const;
};
MatrixCaptions LoadMatrixCaptions();

// A position's cells as text, in column order: what the CSV file holds and the
// report shows ("" where a planned position has no splice yet). Numbers in the C
// locale: loss "0.02", time "2026-03-07 09:05:30".
std::array<std::string, kMatrixColumns> RowTexts(const MatrixRow& row,
                                                 const MatrixCaptions& captions);

// Why a GBK file was not written: the field on `line` holds `character`, which GBK
// has no code for.
std::string NotInGbkText(std::size_t line, const std::string& field, const std::string& character);

// "No. 12 M2406A0153 2026-03-07 09:05:30 0.35 dB Splice failed": one splice named
// wherever a list of them is shown (re-splices, test splices, unplaced records).
std::string SpliceText(const MatrixSplice& splice, const MatrixCaptions& captions);

}  // namespace velmora::jobs
