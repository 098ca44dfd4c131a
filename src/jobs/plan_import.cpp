#include "jobs/plan_import.h"

#include <map>

#include "archive/archive_texts.h"
#include "jobs/job_store.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_xlsx.h"

namespace velmora::jobs {
namespace {

PlanImport ArchiveFailed(const archive::ArchiveError& error) {
    return {.message = archive::ArchiveErrorText(error), .archiveFailed = true};
}

// The job's closure for each sheet name the matrix's workbook gives one: its sheets
// are named in the closures' order after the first (the summary), made safe.
std::map<std::string, std::string> ClosuresBySheet(const std::vector<ClosureInfo>& closures,
                                                   const std::vector<std::string>& sheets) {
    std::map<std::string, std::string> bySheet;
    std::vector<std::string> taken;
    if (!sheets.empty()) taken.push_back(sheets.front());
    for (const ClosureInfo& closure : closures)
        bySheet.emplace(SheetName(closure.details.name, taken), closure.details.name);
    for (const ClosureInfo& closure : closures)
        bySheet[closure.details.name] = closure.details.name;  // the name itself first
    return bySheet;
}

}  // namespace

PlanImport ImportPlan(archive::Archive& archive, std::string_view job, PlanFile plan) {
    JobStore store(archive);
    const std::optional<JobInfo> info = store.Job(job);
    if (!info && store.LastError().code == archive::ErrorCode::NotFound)
        return {.message =
                    RefusalText({.refusal = Refusal::NoSuchJob, .detail = std::string(job)})};
    if (!info) return ArchiveFailed(store.LastError());
    const auto closures = store.Closures(info->id);
    if (!closures) return ArchiveFailed(store.LastError());
    const std::map<std::string, std::string> bySheet = ClosuresBySheet(*closures, plan.sheets);
    for (std::size_t i = 0; i < plan.positions.size(); ++i) {
        if (!plan.sources[i].closureOfSheet) continue;
        const auto found = bySheet.find(plan.positions[i].closure);
        if (found != bySheet.end()) plan.positions[i].closure = found->second;
    }
    const PlanResult planned = store.PlanPositions(info->id, plan.positions);
    if (!planned.result.error.ok()) return ArchiveFailed(planned.result.error);
    if (!planned.result.ok())
        return {.message =
                    PlanSourceText(plan.sources.at(planned.row), RefusalText(planned.result))};
    return {.ok = true, .planned = planned.result.count};
}

PlanImport ImportPlanFile(archive::Archive& archive, std::string_view job,
                          const std::filesystem::path& file) {
    PlanReading reading = ReadPlanFile(file);
    if (!reading.ok()) return {.message = PlanProblemText(reading, file)};
    return ImportPlan(archive, job, std::move(reading.plan));
}

}  // namespace velmora::jobs
