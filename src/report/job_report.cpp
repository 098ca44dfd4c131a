#include "report/job_report.h"

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jobs/job_verdict.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"

namespace velmora::report {
namespace {

using jobs::MatrixColumn;

// The tray tables' columns: the matrix's that the report shows, the fibres' colours
// named beside their numbers.
std::vector<MatrixColumn> TrayColumns() {
    std::vector<MatrixColumn> columns;
    for (const jobs::MatrixColumnInfo& info : jobs::MatrixColumns())
        if (info.reportWidth > 0) columns.push_back(info.column);
    return columns;
}

// The columns of a splice's own cells, and of the replaced attempts' lines.
constexpr std::array kSpliceColumns{MatrixColumn::Splicer, MatrixColumn::Number, MatrixColumn::Time,
                                    MatrixColumn::Loss, MatrixColumn::Result};

std::string Count(std::size_t n) {
    return std::to_string(n);
}

// A row holding `splice` as the one that counts, to read its cells by the columns.
jobs::MatrixRow RowOf(const jobs::MatrixSplice& splice) {
    jobs::MatrixRow row;
    row.splice = splice;
    return row;
}

std::vector<std::string> SpliceCells(const jobs::MatrixSplice& s, const jobs::MatrixCaptions& c) {
    const jobs::MatrixRow row = RowOf(s);
    std::vector<std::string> cells;
    for (MatrixColumn column : kSpliceColumns) cells.push_back(jobs::ReadCell(column, row, c).text);
    return cells;
}

// The test splices or the records not placed, named one a line.
TextTable SpliceTable(const std::string& title, const std::vector<jobs::MatrixSplice>& splices,
                      const jobs::MatrixCaptions& c) {
    TextTable table{title, Count(splices.size()), {}, {90, 50, 90, 50, 110}, {}};
    for (MatrixColumn column : kSpliceColumns) table.headers.push_back(c[column]);
    for (const jobs::MatrixSplice& s : splices) table.lines.push_back({SpliceCells(s, c), s.mark});
    return table;
}

TextTable TrayTable(const jobs::MatrixClosure& closure, const jobs::MatrixCaptions& c,
                    const Captions& captions) {
    const jobs::ClosureDetails& d = closure.closure.details;
    const jobs::MatrixCounts& n = closure.counts;
    TextTable table;
    table.title = c.closure + ": " + d.name;
    std::string note = d.location.empty() ? "" : d.location + "  -  ";
    note += c.positions + " " + Count(n.positions) + ", " + c.spliced + " " + Count(n.spliced) +
            ", " + c.passed + " " + Count(n.passed) + ", " + captions[Caption::MarkFailed] + " " +
            Count(n.failed) + ", " + c.overLimit + " " + Count(n.overLimit) + ", " +
            c.replacedCount + " " + Count(n.replaced);
    table.note = std::move(note);
    const std::vector<MatrixColumn> columns = TrayColumns();
    for (MatrixColumn column : columns) {
        table.headers.push_back(c[column]);
        table.widths.push_back(jobs::ColumnInfo(column).reportWidth);
    }
    for (const jobs::MatrixRow& row : closure.rows) {
        TextTable::Line line;
        for (MatrixColumn column : columns)
            line.cells.push_back(jobs::ReportCellText(column, row, c));
        if (row.splice) line.mark = row.splice->mark;
        table.lines.push_back(std::move(line));
        // Each attempt the splice replaced on a line of its own, under it, called what
        // it is: its own cells and "replaced".
        for (const jobs::MatrixSplice& attempt : row.resplices) {
            const jobs::MatrixRow attemptRow = RowOf(attempt);
            TextTable::Line minor{{}, attempt.mark, true};
            for (MatrixColumn column : columns) {
                const bool own = std::find(kSpliceColumns.begin(), kSpliceColumns.end(), column) !=
                                 kSpliceColumns.end();
                minor.cells.push_back(own ? jobs::ReadCell(column, attemptRow, c).text
                                      : column == MatrixColumn::Replaced ? c.replaced
                                                                         : std::string());
            }
            table.lines.push_back(std::move(minor));
        }
    }
    return table;
}

// "F-112:5 / F-113:5".
std::string FibresText(const jobs::MatrixRow& row) {
    return row.a.cable + ":" + std::to_string(row.a.fibre) + " / " + row.b.cable + ":" +
           std::to_string(row.b.fibre);
}

// Every splice that counts and fails, with where it lies: of the positions, or of a
// job without closures, of its splices.
TextTable Failures(const jobs::SpliceMatrix& m, const jobs::MatrixCaptions& c) {
    TextTable table{
        c.failures,
        c.replacedCount + ": " + Count(m.totals.replaced),
        {c.closure, c[MatrixColumn::Tray], c[MatrixColumn::Position], c.fibres,
         c[MatrixColumn::Splicer], c[MatrixColumn::Number], c[MatrixColumn::Loss], c.cause},
        {70, 24, 30, 90, 60, 30, 30, 80},
        {}};
    auto add = [&](const std::string& closure, const jobs::MatrixRow* row,
                   const jobs::MatrixSplice& s) {
        table.lines.push_back(
            {{closure, row ? std::to_string(row->tray) : "",
              row ? std::to_string(row->position) : "", row ? FibresText(*row) : "", s.splicer,
              std::to_string(s.number), jobs::LossFigure(s.record.loss()), c.Mark(s.mark)},
             s.mark});
    };
    for (const jobs::MatrixClosure& closure : m.closures)
        for (const jobs::MatrixRow& row : closure.rows)
            if (row.splice && row.splice->mark != Mark::Pass)
                add(closure.closure.details.name, &row, *row.splice);
    if (m.closures.empty())
        for (const jobs::MatrixSplice& s : m.unplaced)
            if (s.mark != Mark::Pass) add("", nullptr, s);
    if (table.lines.empty()) table.note = c.noFailures + ". " + table.note;
    return table;
}

Tone ToneOf(jobs::JobState state) {
    if (state == jobs::JobState::Passed) return Tone::Pass;
    return state == jobs::JobState::Failed ? Tone::Fail : Tone::Pending;
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

AsBuilt MakeAsBuilt(const jobs::SpliceMatrix& m, const jobs::MatrixCaptions& c,
                    const Captions& captions) {
    AsBuilt built;
    const jobs::JobVerdict verdict = jobs::JudgeJob(m);
    built.tone = ToneOf(verdict.state);
    built.verdict = c.Verdict(verdict);
    built.counts = Count(verdict.spliced) + " / " + Count(verdict.planned);
    built.failures = Failures(m, c);
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
        {c.passed, Count(n.passed)},
        {captions[Caption::Failed], Count(n.spliced - n.passed)},
        {captions[Caption::MarkFailed], Count(n.failed), true},
        {captions[Caption::MarkOverLoss], Count(overLoss), true},
        {captions[Caption::MarkOverAngle], Count(overAngle), true},
        {c.respliced, Count(n.respliced)},
        {c.replacedCount, Count(n.replaced)},
        {c.planned, Count(n.positions - n.spliced)},
        {c.unplaced, Count(m.unplaced.size())},
        {c.testSplices, Count(m.testSplices.size())},
    };
    built.summary.insert(built.summary.end(), counts.begin(), counts.end());

    TextTable splicers{captions[Caption::BySplicer],
                       "",
                       {c[MatrixColumn::Splicer], captions[Caption::Splices], c.passed,
                        captions[Caption::MarkFailed], c.overLimit},
                       {150, 70, 70, 90, 90},
                       {}};
    for (const auto& [name, p] : bySplicer)
        splicers.lines.push_back(
            {{name, Count(p.splices), Count(p.passed), Count(p.failed), Count(p.over)}});
    built.bySplicer = std::move(splicers);
    for (const jobs::MatrixClosure& closure : m.closures)
        built.tables.push_back(TrayTable(closure, c, captions));
    if (!m.testSplices.empty())
        built.tables.push_back(SpliceTable(c.testSplices, m.testSplices, c));
    // Without closures every record is unplaced: the table of every splice lists them.
    if (!m.unplaced.empty() && !m.closures.empty())
        built.tables.push_back(SpliceTable(c.unplaced, m.unplaced, c));
    const jobs::DiagramTexts diagramTexts = jobs::LoadDiagramTexts(c);
    for (const jobs::MatrixClosure& closure : m.closures)
        for (jobs::TrayDiagram& diagram : jobs::MakeTrayDiagrams(closure, diagramTexts))
            built.diagrams.push_back(std::move(diagram));
    return built;
}

}  // namespace velmora::report
