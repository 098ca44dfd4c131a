#include "jobs/matrix_columns.h"

#include "history/splice_record.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {
namespace {

namespace k = keys::job_files;
using C = MatrixColumn;
using F = CellFormat;

MatrixCell Whole(int value) {
    return {std::to_string(value), static_cast<double>(value)};
}

// The cells of one end of the position.
template <const MatrixEnd MatrixRow::*End>
MatrixCell Cable(const MatrixRow& row, const MatrixCaptions&) {
    return {(row.*End).cable};
}
template <const MatrixEnd MatrixRow::*End>
MatrixCell Tube(const MatrixRow& row, const MatrixCaptions&) {
    const FibrePlace& place = (row.*End).place;
    MatrixCell cell = Whole(place.tube);
    cell.colour = place.tubeColour;
    return cell;
}
template <const MatrixEnd MatrixRow::*End>
MatrixCell Fibre(const MatrixRow& row, const MatrixCaptions&) {
    MatrixCell cell = Whole((row.*End).fibre);
    cell.colour = (row.*End).place.colour;
    return cell;
}
template <const MatrixEnd MatrixRow::*End>
MatrixCell Colour(const MatrixRow& row, const MatrixCaptions& c) {
    const FibreColour colour = (row.*End).place.colour;
    return {c.Colour(colour), std::nullopt, nullptr, colour};
}

// The cells of the splice that counts; empty while the position is not spliced.
MatrixCell Loss(const MatrixRow& row, const MatrixCaptions&) {
    if (!row.splice) return {};
    const int loss = row.splice->record.loss();
    return {LossFigure(loss), loss / 100.0};
}
MatrixCell Result(const MatrixRow& row, const MatrixCaptions& c) {
    if (!row.splice) return {};
    return {c.Mark(row.splice->mark), std::nullopt, &*row.splice};
}
MatrixCell Splicer(const MatrixRow& row, const MatrixCaptions&) {
    if (!row.splice) return {};
    return {row.splice->splicer};
}
MatrixCell Number(const MatrixRow& row, const MatrixCaptions&) {
    if (!row.splice) return {};
    return {std::to_string(row.splice->number), static_cast<double>(row.splice->number)};
}
MatrixCell Time(const MatrixRow& row, const MatrixCaptions&) {
    if (!row.splice) return {};
    return {TimeText(row.splice->record), std::nullopt, &*row.splice};
}
MatrixCell Resplices(const MatrixRow& row, const MatrixCaptions&) {
    const auto count = row.resplices.size();
    return {std::to_string(count), static_cast<double>(count)};
}
MatrixCell Replaced(const MatrixRow& row, const MatrixCaptions& c) {
    return {ReplacedText(row, c)};
}

constexpr std::array<MatrixColumnInfo, kMatrixColumns> kColumns{{
    {C::Tray, k::ColTray, F::Integer, 6, 20, false,
     [](const MatrixRow& r, const MatrixCaptions&) { return Whole(r.tray); }},
    {C::Position, k::ColPosition, F::Integer, 8, 22, false,
     [](const MatrixRow& r, const MatrixCaptions&) { return Whole(r.position); }},
    {C::CableA, k::ColCableA, F::Text, 14, 38, false, Cable<&MatrixRow::a>},
    {C::TubeA, k::ColTubeA, F::Tube, 10, 34, true, Tube<&MatrixRow::a>},
    {C::FibreA, k::ColFibreA, F::Integer, 8, 40, true, Fibre<&MatrixRow::a>},
    {C::ColourA, k::ColColourA, F::Colour, 10, 0, false, Colour<&MatrixRow::a>},
    {C::CableB, k::ColCableB, F::Text, 14, 38, false, Cable<&MatrixRow::b>},
    {C::TubeB, k::ColTubeB, F::Tube, 10, 34, true, Tube<&MatrixRow::b>},
    {C::FibreB, k::ColFibreB, F::Integer, 8, 40, true, Fibre<&MatrixRow::b>},
    {C::ColourB, k::ColColourB, F::Colour, 10, 0, false, Colour<&MatrixRow::b>},
    {C::Loss, k::ColLoss, F::Loss, 9, 24, false, Loss},
    {C::Result, k::ColResult, F::Mark, 16, 54, false, Result},
    {C::Splicer, k::ColSplicer, F::Text, 14, 50, false, Splicer},
    {C::Number, k::ColNumber, F::Integer, 10, 26, false, Number},
    {C::Time, k::ColTime, F::Time, 19, 72, false, Time},
    {C::Resplices, k::ColResplices, F::Integer, 10, 0, false, Resplices},
    {C::Replaced, k::ColReplaced, F::Text, 30, 70, false, Replaced},
}};

// Every column in its place, with a caption, a width and a way to read it: a
// column left out of the table (a shorter initialiser list leaves an empty entry)
// fails the build here.
constexpr bool Complete(const std::array<MatrixColumnInfo, kMatrixColumns>& columns) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const MatrixColumnInfo& c = columns[i];
        // (Its reader is not compared here: under the sanitizers a function's address is
        // not a constant; an entry left out has no caption either.)
        if (static_cast<std::size_t>(c.column) != i || c.caption.key == nullptr || c.width <= 0 ||
            c.reportWidth < 0)
            return false;
    }
    return true;
}
static_assert(Complete(kColumns), "every matrix column needs its entry in kColumns, in order");

}  // namespace

std::span<const MatrixColumnInfo, kMatrixColumns> MatrixColumns() {
    return kColumns;
}

MatrixCell ReadCell(MatrixColumn column, const MatrixRow& row, const MatrixCaptions& captions) {
    return ColumnInfo(column).read(row, captions);
}

std::string ReportCellText(MatrixColumn column, const MatrixRow& row,
                           const MatrixCaptions& captions) {
    const MatrixColumnInfo& info = ColumnInfo(column);
    MatrixCell cell = info.read(row, captions);
    if (info.reportColour) cell.text += " " + captions.Colour(cell.colour);
    return cell.text;
}

}  // namespace velmora::jobs
