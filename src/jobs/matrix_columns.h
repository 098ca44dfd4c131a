#pragma once
// The splice matrix's columns, one table: each column's caption, how wide the
// spreadsheet makes it and how it formats the cell, whether and how wide the job's
// report shows it, and how its cell is read from a position. The spreadsheet, the
// CSV file, the report's tray tables and the Job tab all lay out their columns from
// it, so a column added here appears in every one of them or the build fails.
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "base/language.h"
#include "history/splice_acceptance.h"
#include "jobs/fibre_colours.h"

namespace velmora::jobs {

struct MatrixRow;
struct MatrixSplice;
struct MatrixCaptions;

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
    Replaced,
    kCount
};
inline constexpr std::size_t kMatrixColumns = static_cast<std::size_t>(MatrixColumn::kCount);

// How a column's cell is written to the spreadsheet.
enum class CellFormat {
    Integer,  // a whole number
    Text,
    Tube,    // the tube's number on its colour, the format naming the colour
    Colour,  // the colour's name on the colour
    Loss,    // dB with two decimals
    Mark,    // the splice's mark on the tint of its judgement
    Time,    // a date where the splice has a real time, else its text
};

// One cell of a position, read from its row.
struct MatrixCell {
    std::string text;                // as the CSV file and the report show it; "" when empty
    std::optional<double> number{};  // the value of a number cell
    const MatrixSplice* splice{};    // a Time or Mark cell's splice
    FibreColour colour{};            // Tube, Colour: the colour shown; a fibre's: its colour
};

struct MatrixColumnInfo {
    MatrixColumn column;
    TextKey caption;
    CellFormat format;
    double width;        // in the spreadsheet, in characters
    double reportWidth;  // relative width in the report's tray tables; 0: not shown there
    bool reportColour;   // the report names the colour after the number ("3 green")
    MatrixCell (*read)(const MatrixRow& row, const MatrixCaptions& captions);
};

// Every column in its order: MatrixColumns()[k].column is MatrixColumn(k).
std::span<const MatrixColumnInfo, kMatrixColumns> MatrixColumns();
inline const MatrixColumnInfo& ColumnInfo(MatrixColumn column) {
    return MatrixColumns()[static_cast<std::size_t>(column)];
}

// The cell of `column` of `row`, and its text as the job's report shows it.
MatrixCell ReadCell(MatrixColumn column, const MatrixRow& row, const MatrixCaptions& captions);
std::string ReportCellText(MatrixColumn column, const MatrixRow& row,
                           const MatrixCaptions& captions);

}  // namespace velmora::jobs
