#include "jobs/matrix_texts.h"

namespace velmora::jobs {
namespace {

// "0.02": hundredths with a decimal point whatever the locale (the CSV file's
// separator is a comma).
std::string LossFigure(int hundredths) {
    const int whole = hundredths / 100, part = hundredths % 100;
    return std::to_string(whole) + (part < 10 ? ".0" : ".") + std::to_string(part);
}

}  // namespace

const std::string& MatrixCaptions::Mark(velmora::Mark mark) const {
    using report::Caption;
    switch (mark) {
        case velmora::Mark::Pass:
            return report[Caption::MarkPass];
        case velmora::Mark::Failed:
            return report[Caption::MarkFailed];
        case velmora::Mark::OverLoss:
            return report[Caption::MarkOverLoss];
        case velmora::Mark::OverAngle:
            return report[Caption::MarkOverAngle];
        case velmora::Mark::OverBoth:
            break;
    }
    return report[Caption::MarkOverBoth];
}

MatrixCaptions LoadMatrixCaptions() {
    namespace k = keys::job_files;
    MatrixCaptions c;
    for (std::size_t i = 0; i < kMatrixColumns; ++i) c.columns[i] = Text(k::MatrixColumns[i]);
    for (std::size_t i = 0; i < kColourCount; ++i) c.colours[i] = Text(k::ColourNames[i]);
    for (auto [text, key] : {std::pair{&c.title, &k::MatrixTitle},
                             {&c.summary, &k::SummarySheet},
                             {&c.customer, &k::Customer},
                             {&c.contractor, &k::Contractor},
                             {&c.technicians, &k::Technicians},
                             {&c.notes, &k::Notes},
                             {&c.jobPassed, &k::JobPassed},
                             {&c.jobNotPassed, &k::JobNotPassed},
                             {&c.closure, &k::Closure},
                             {&c.closures, &k::Closures},
                             {&c.location, &k::Location},
                             {&c.latitude, &k::Latitude},
                             {&c.longitude, &k::Longitude},
                             {&c.positions, &k::Positions},
                             {&c.spliced, &k::Spliced},
                             {&c.overLimit, &k::OverLimit},
                             {&c.respliced, &k::Respliced},
                             {&c.planned, &k::Planned},
                             {&c.unplaced, &k::Unplaced},
                             {&c.testSplices, &k::TestSplices},
                             {&c.total, &k::Total},
                             {&c.resplice, &k::Resplice}})
        *text = Text(*key);
    c.report = report::LoadCaptions();
    return c;
}

std::array<std::string, kMatrixColumns> RowTexts(const MatrixRow& row,
                                                 const MatrixCaptions& captions) {
    using C = MatrixColumn;
    std::array<std::string, kMatrixColumns> cells;
    auto set = [&cells](C column, std::string text) {
        cells[static_cast<std::size_t>(column)] = std::move(text);
    };
    set(C::Tray, std::to_string(row.tray));
    set(C::Position, std::to_string(row.position));
    set(C::CableA, row.a.cable);
    set(C::TubeA, std::to_string(row.a.place.tube));
    set(C::FibreA, std::to_string(row.a.fibre));
    set(C::ColourA, captions.Colour(row.a.place.colour));
    set(C::CableB, row.b.cable);
    set(C::TubeB, std::to_string(row.b.place.tube));
    set(C::FibreB, std::to_string(row.b.fibre));
    set(C::ColourB, captions.Colour(row.b.place.colour));
    if (row.splice) {
        const MatrixSplice& s = *row.splice;
        set(C::Loss, LossFigure(s.record.loss()));
        set(C::Result, captions.Mark(s.mark));
        set(C::Splicer, s.splicer);
        set(C::Number, std::to_string(s.number));
        set(C::Time, TimeText(s.record));
    }
    set(C::Resplices, std::to_string(row.resplices.size()));
    return cells;
}

std::string SpliceText(const MatrixSplice& splice, const MatrixCaptions& captions) {
    return captions.report[report::Caption::Number] + " " + std::to_string(splice.number) + " " +
           splice.splicer + " " + TimeText(splice.record) + " " + LossFigure(splice.record.loss()) +
           " dB " + captions.Mark(splice.mark);
}

std::string NotInGbkText(std::size_t line, const std::string& field, const std::string& character) {
    return TextWith(keys::job_files::NotInGbk, {std::to_string(line), field, character});
}

}  // namespace velmora::jobs
