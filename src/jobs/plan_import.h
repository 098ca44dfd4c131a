#pragma once
// A job's plan taken from a file (plan_file.h) into the job store: each position
// checked by the store's rules and planned, all or nothing; a refusal names the
// file's row. For the window and the command-line tool alike, on the archive's
// thread.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "archive/archive.h"
#include "jobs/plan_file.h"

namespace velmora::jobs {

struct PlanImport {
    bool ok = false;
    std::size_t planned = 0;     // positions of the plan, now planned
    std::string message{};       // when not ok: why, in the run's language
    bool archiveFailed = false;  // the archive failed, not the plan
};

// Plans `plan` in the job `job`. A sheet's closure (PlanSource::closureOfSheet) is
// the job's closure of that name, or the one the matrix's workbook gave that sheet
// name (a long or unsafe name is shortened there).
PlanImport ImportPlan(archive::Archive& archive, std::string_view job, PlanFile plan);
// The same for the plan the file `file` holds.
PlanImport ImportPlanFile(archive::Archive& archive, std::string_view job,
                          const std::filesystem::path& file);

}  // namespace velmora::jobs
