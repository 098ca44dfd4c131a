#include "report/job_report.h"

#include <array>
#include <utility>

#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"

namespace velmora::report {
namespace {

using jobs::MatrixColumn;

// The tray table's columns: the matrix's, the fibres' colours beside their numbers.
constexpr std::array kTrayColumns{
    MatrixColumn::Tray,   MatrixColumn::Position, MatrixColumn::CableA,  MatrixColumn::TubeA,
    MatrixColumn::FibreA, MatrixColumn::CableB,   MatrixColumn::TubeB,   MatrixColumn::FibreB,
    MatrixColumn::Loss,   MatrixColumn::Result,   MatrixColumn::Splicer, MatrixColumn::Number,
    MatrixColumn::Time,   MatrixColumn::Resplices};
constexpr std::array<double, kTrayColumns.size()> kTrayWidths{20, 22, 38, 34, 40, 38, 34,
                                                              40, 24, 54, 50, 26, 72, 31};

std::string Count(std::size_t n) {
    return std::to_string(n);
}

// "1 blue": a number with its colour's name, never the colour alone.
std::string Coloured(int number, jobs::FibreColour colour, const jobs::MatrixCaptions& c) {
    return std::to_string(number) + " " + c.Colour(colour);
}

std::vector<std::string> SpliceCells(const jobs::MatrixSplice& s, const jobs::MatrixCaptions& c) {
    const std::array<std::string, jobs::kMatrixColumns> cells = [&] {
        jobs::MatrixRow row;
        row.splice = s;
        return jobs::RowTexts(row, c);
    }();
    auto at = [&cells](MatrixColumn column) { return cells[static_cast<std::size_t>(column)]; };
    return {at(MatrixColumn::Splicer), at(MatrixColumn::Number), at(MatrixColumn::Time),
            at(MatrixColumn::Loss), at(MatrixColumn::Result)};
}

// The test splices or the records not placed, named one a line.
TextTable SpliceTable(const std::string& title, const std::vector<jobs::MatrixSplice>& splices,
                      const jobs::MatrixCaptions& c) {
    TextTable table{title,
                    Count(splices.size()),
                    {c[MatrixColumn::Splicer], c[MatrixColumn::Number], c[MatrixColumn::Time],
                     c[MatrixColumn::Loss], c[MatrixColumn::Result]},
                    {90, 50, 90, 50, 110},
                    {}};
    for (const jobs::MatrixSplice& s : splices) table.lines.push_back({SpliceCells(s, c), s.mark});
    return table;
}

TextTable TrayTable(const jobs::MatrixClosure& closure, const jobs::MatrixCaptions& c) {
    const jobs::ClosureDetails& d = closure.closure.details;
    const jobs::MatrixCounts& n = closure.counts;
    TextTable table;
    table.title = c.closure + ": " + d.name;
    std::string note = d.location.empty() ? "" : d.location + "  -  ";
    note += c.positions + " " + Count(n.positions) + ", " + c.spliced + " " + Count(n.spliced) +
            ", " + c.report[Caption::Passed] + " " + Count(n.passed) + ", " +
            c.report[Caption::MarkFailed] + " " + Count(n.failed) + ", " + c.overLimit + " " +
            Count(n.overLimit) + ", " + c.respliced + " " + Count(n.respliced);
    table.note = std::move(note);
    for (MatrixColumn column : kTrayColumns) table.headers.push_back(c[column]);
    table.widths.assign(kTrayWidths.begin(), kTrayWidths.end());
    for (const jobs::MatrixRow& row : closure.rows) {
        std::array<std::string, jobs::kMatrixColumns> cells = jobs::RowTexts(row, c);
        auto cell = [&cells](MatrixColumn column) -> std::string& {
            return cells[static_cast<std::size_t>(column)];
        };
        cell(MatrixColumn::TubeA) = Coloured(row.a.place.tube, row.a.place.tubeColour, c);
        cell(MatrixColumn::FibreA) = Coloured(row.a.fibre, row.a.place.colour, c);
        cell(MatrixColumn::TubeB) = Coloured(row.b.place.tube, row.b.place.tubeColour, c);
        cell(MatrixColumn::FibreB) = Coloured(row.b.fibre, row.b.place.colour, c);
        TextTable::Line line;
        for (MatrixColumn column : kTrayColumns) line.cells.push_back(cell(column));
        if (row.splice) line.mark = row.splice->mark;
        table.lines.push_back(std::move(line));
        // Each earlier splice of the position on a line of its own, named in full.
        for (const jobs::MatrixSplice& earlier : row.resplices) {
            TextTable::Line minor{std::vector<std::string>(kTrayColumns.size()), earlier.mark,
                                  true};
            const std::vector<std::string> named = SpliceCells(earlier, c);
            minor.cells[10] = named[0];  // splicer, number, time, loss, result
            minor.cells[11] = named[1];
            minor.cells[12] = named[2];
            minor.cells[8] = named[3];
            minor.cells[9] = named[4];
            minor.cells[13] = c.resplice;
            table.lines.push_back(std::move(minor));
        }
    }
    return table;
}

}  // namespace

std::map<std::int64_t, std::int64_t> SpliceNumbers(const jobs::SpliceMatrix& matrix) {
    std::map<std::int64_t, std::int64_t> numbers;
    auto add = [&numbers](const jobs::MatrixSplice& s) { numbers[s.recordId] = s.number; };
    for (const jobs::MatrixClosure& closure : matrix.closures)
        for (const jobs::MatrixRow& row : closure.rows) {
            if (row.splice) add(*row.splice);
            for (const jobs::MatrixSplice& s : row.resplices) add(s);
        }
    for (const auto* list : {&matrix.unplaced, &matrix.testSplices})
        for (const jobs::MatrixSplice& s : *list) add(s);
    return numbers;
}

AsBuilt MakeAsBuilt(const jobs::SpliceMatrix& m, const jobs::MatrixCaptions& c) {
    AsBuilt built;
    built.passed = m.Passed();
    built.verdict = built.passed ? c.jobPassed : c.jobNotPassed;
    built.counts = Count(m.totals.passed) + " / " + Count(m.totals.spliced);
    const jobs::JobDetails& job = m.job.details;
    for (const auto& [caption, value] : {std::pair{&c.customer, &job.customer},
                                         {&c.contractor, &job.contractor},
                                         {&c.technicians, &job.technicians},
                                         {&c.notes, &job.notes}})
        if (!value->empty()) built.summary.push_back({*caption, *value});

    // What the counting splices are, and who made them.
    struct PerSplicer {
        std::size_t splices = 0, passed = 0, failed = 0, over = 0;
    };
    std::map<std::string, PerSplicer> bySplicer;
    std::size_t overLoss = 0, overAngle = 0;
    for (const jobs::MatrixClosure& closure : m.closures)
        for (const jobs::MatrixRow& row : closure.rows) {
            if (!row.splice) continue;
            const Mark mark = row.splice->mark;
            overLoss += mark == Mark::OverLoss || mark == Mark::OverBoth;
            overAngle += mark == Mark::OverAngle || mark == Mark::OverBoth;
            PerSplicer& p = bySplicer[row.splice->splicer];
            ++p.splices;
            p.passed += mark == Mark::Pass;
            p.failed += mark == Mark::Failed;
            p.over += OverLimit(mark);
        }
    const jobs::MatrixCounts& n = m.totals;
    const std::vector<SummaryLine> counts{
        {c.closures, Count(m.closures.size())},
        {c.positions, Count(n.positions)},
        {c.spliced, Count(n.spliced)},
        {c.report[Caption::Passed], Count(n.passed)},
        {c.report[Caption::Failed], Count(n.spliced - n.passed)},
        {c.report[Caption::MarkFailed], Count(n.failed), true},
        {c.report[Caption::MarkOverLoss], Count(overLoss), true},
        {c.report[Caption::MarkOverAngle], Count(overAngle), true},
        {c.respliced, Count(n.respliced)},
        {c.planned, Count(n.positions - n.spliced)},
        {c.unplaced, Count(m.unplaced.size())},
        {c.testSplices, Count(m.testSplices.size())},
    };
    built.summary.insert(built.summary.end(), counts.begin(), counts.end());

    TextTable splicers{c.report[Caption::BySplicer],
                       "",
                       {c[MatrixColumn::Splicer], c.report[Caption::Splices],
                        c.report[Caption::Passed], c.report[Caption::MarkFailed], c.overLimit},
                       {150, 70, 70, 90, 90},
                       {}};
    for (const auto& [name, p] : bySplicer)
        splicers.lines.push_back(
            {{name, Count(p.splices), Count(p.passed), Count(p.failed), Count(p.over)}});
    built.bySplicer = std::move(splicers);
    for (const jobs::MatrixClosure& closure : m.closures)
        built.tables.push_back(TrayTable(closure, c));
    if (!m.testSplices.empty())
        built.tables.push_back(SpliceTable(c.testSplices, m.testSplices, c));
    if (!m.unplaced.empty()) built.tables.push_back(SpliceTable(c.unplaced, m.unplaced, c));
    const jobs::DiagramTexts diagramTexts = jobs::LoadDiagramTexts(c);
    for (const jobs::MatrixClosure& closure : m.closures)
        for (jobs::TrayDiagram& diagram : jobs::MakeTrayDiagrams(closure, diagramTexts))
            built.diagrams.push_back(std::move(diagram));
    return built;
}

}  // namespace velmora::report
