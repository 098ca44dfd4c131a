#pragma once
// A splice plan read from a file: which fibres each position of each tray of each
// closure joins. The columns are the splice matrix's own (closure, tray, position,
// cable A, fibre A, cable B, fibre B; any others are left alone), found by their
// captions in the run's language or in English, so a matrix the program exported is
// a plan as it stands:
//   - a CSV file (UTF-8, or GBK as the program writes it for Chinese tables) with
//     the closure in a column of its own;
//   - an XLSX workbook, each sheet whose first row has the tray and position columns
//     read; a sheet without a closure column is the closure its name says.
// Only reading here: the positions are checked and planned by the job store
// (plan_import.h). Every size is bounded before it is trusted.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/job_store.h"

namespace velmora::jobs {

// Where in the file a position was read.
struct PlanSource {
    std::string sheet;      // "" in a CSV file
    std::size_t row = 0;    // 1 the first, as a spreadsheet numbers them
    bool closureOfSheet{};  // the closure is the sheet's name: no closure column
};

struct PlanFile {
    std::vector<PlannedPosition> positions;
    std::vector<PlanSource> sources;  // of each position
    std::vector<std::string> sheets;  // a workbook's sheets, in order
};

enum class PlanProblem {
    None,
    Unreadable,        // detail: why (the system's or the reader's reason)
    NotAPlan,          // no sheet has the tray and position columns
    MissingColumn,     // detail: its caption
    EmptyCell,         // detail: the column's caption
    BadNumber,         // detail: the column's caption; value: the text found
    NoPositions,       // the plan has no rows
    TooManyPositions,  // more than kMaxPlanPositions
};

struct PlanReading {
    PlanFile plan;
    PlanProblem problem = PlanProblem::None;
    PlanSource at{};  // where the problem is (EmptyCell, BadNumber, MissingColumn)
    std::string detail{};
    std::string value{};
    bool ok() const { return problem == PlanProblem::None; }
};

// No plan the program reads has more positions than this.
inline constexpr std::size_t kMaxPlanPositions = 200000;

// The plan in `bytes`: a workbook when `xlsx`, else a CSV file.
PlanReading ReadPlan(std::string_view bytes, bool xlsx);
// The plan in `file`, by its extension (.xlsx, else CSV).
PlanReading ReadPlanFile(const std::filesystem::path& file);

// "Row 5" or "Sheet C-17, row 5", followed by ": " and `what`, in the run's language.
std::string PlanSourceText(const PlanSource& source, const std::string& what);
// Why `reading` failed, in the run's language, naming the file `file`.
std::string PlanProblemText(const PlanReading& reading, const std::filesystem::path& file);

}  // namespace velmora::jobs
