// job, closure, cable, tray, place, unplace, test-splice: jobs and where their
// splices lie, kept in the archive beside the records.
#include "cli/job_commands.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_texts.h"
#include "archive/job_log.h"
#include "base/app_config.h"
#include "base/path_text.h"
#include "history/splice_record.h"
#include "jobs/job_store.h"
#include "jobs/job_verdict.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_texts.h"
#include "jobs/plan_import.h"
#include "jobs/splice_matrix.h"
#include "report/report_data.h"
#include "team/team_sync.h"

namespace velmora::cli {
namespace {

using jobs::JobResult;
using jobs::JobStore;
using jobs::Refusal;

// A step that cannot go on has told why; the command ends with `status`.
struct Stop {
    int status;
};

[[noreturn]] void Usage(CliContext& context, const std::string& text) {
    throw Stop{context.UsageError(text)};
}

[[noreturn]] void Fail(const std::string& text) {
    std::fprintf(stderr, "velmora-cli: %s\n", text.c_str());
    throw Stop{kExitUsage};
}

// A refusal names what it is about as given, so it is told as text, never as
// terminal codes.
[[noreturn]] void Refuse(Refusal refusal, std::string detail = {}) {
    Fail(TerminalSafe(jobs::RefusalText({.refusal = refusal, .detail = std::move(detail)})));
}

// The change made, or told why not.
JobResult Done(JobResult result) {
    if (!result.error.ok()) Fail(jobs::RefusalText(result));
    if (!result.ok()) Refuse(result.refusal, result.detail);
    return result;
}

// A reading of the store, or its failure told.
template <class T>
T Read(std::optional<T> value, JobStore& store) {
    if (!value) Fail(archive::ArchiveErrorText(store.LastError()));
    return std::move(*value);
}

// The words of a command and its options: `valued` options take the next word,
// `flags` stand alone.
struct Arguments {
    std::vector<std::string> words;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    const std::string* Value(const std::string& name) const {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : &found->second;
    }
};

Arguments Parse(CliContext& context, CommandArgs args, std::set<std::string> valued,
                std::set<std::string> flags = {}) {
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (!word.starts_with("--")) {
            parsed.words.push_back(word);
        } else if (flags.contains(word)) {
            parsed.flags.insert(word);
        } else if (!valued.contains(word)) {
            Usage(context, "unknown option " + word);
        } else if (i + 1 >= args.size()) {
            Usage(context, word + " needs a value");
        } else {
            parsed.values[word] = args[++i];
        }
    }
    return parsed;
}

// A whole number of 0 or more, digits only.
long long Whole(CliContext& context, const std::string& text, const std::string& what) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        Usage(context, what + " must be a whole number, not '" + text + "'");
    return std::stoll(text);
}

int Number(CliContext& context, const std::string& text, const std::string& what) {
    return static_cast<int>(std::min(Whole(context, text, what), 1'000'000'000LL));
}

double Degrees(CliContext& context, const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
        Usage(context, what + " needs decimal degrees, not '" + text + "'");
    return value;
}

std::unique_ptr<archive::Archive> OpenArchive(archive::OpenFor purpose) {
    archive::OpenResult opened =
        archive::Archive::Open(archive::ArchiveFile(Config().AppDirectory), {.purpose = purpose});
    if (!opened.archive) Fail(archive::ArchiveErrorText(opened.error));
    return std::move(opened.archive);
}

jobs::JobInfo FindJob(JobStore& store, const std::string& name) {
    std::optional<jobs::JobInfo> job = store.Job(name);
    if (!job && store.LastError().code == archive::ErrorCode::NotFound)
        Refuse(Refusal::NoSuchJob, name);
    return Read(std::move(job), store);
}

jobs::ClosureInfo FindClosure(JobStore& store, std::int64_t jobId, const std::string& name) {
    for (jobs::ClosureInfo& closure : Read(store.Closures(jobId), store))
        if (closure.details.name == name) return closure;
    Refuse(Refusal::NoSuchClosure, name);
}

jobs::TrayInfo FindTray(JobStore& store, std::int64_t closureId, int number) {
    for (const jobs::TrayInfo& tray : Read(store.Trays(closureId), store))
        if (tray.details.number == number) return tray;
    Refuse(Refusal::NoSuchTray, std::to_string(number));
}

// The limits of the reports (report.ini), which a job's own limits override.
Limits DefaultLimits() {
    return report::LoadLimits(Config().AppDirectory);
}

jobs::SpliceMatrix ReadMatrix(archive::Archive& archive, const std::string& job) {
    std::optional<jobs::SpliceMatrix> matrix = jobs::ReadMatrix(archive, job, DefaultLimits());
    if (!matrix && archive.LastError().code == archive::ErrorCode::NotFound)
        Refuse(Refusal::NoSuchJob, job);
    if (!matrix) Fail(archive::ArchiveErrorText(archive.LastError()));
    return std::move(*matrix);
}

// The word for a judgement, in the run's language.
std::string MarkWord(Mark mark) {
    return Text(keys::judging::Marks[static_cast<std::size_t>(mark)]);
}

std::string Limit(const std::optional<int>& value, bool loss) {
    if (!value) return {};
    return loss ? report::LossFigure(*value) : report::AngleFigure(*value);
}

// --customer, --contractor, --technician, --max-loss, --max-angle over `details`.
void TakeJobOptions(CliContext& context, const Arguments& args, jobs::JobDetails& details) {
    if (const auto* v = args.Value("--customer")) details.customer = *v;
    if (const auto* v = args.Value("--contractor")) details.contractor = *v;
    if (const auto* v = args.Value("--technician")) details.technicians = *v;
    if (const auto* v = args.Value("--max-loss")) {
        details.limits.maxLoss = ParseLossLimit(*v);
        if (!details.limits.maxLoss)
            Usage(context,
                  "--max-loss needs a number of dB with at most two decimals (0.08), "
                  "not '" +
                      *v + "'");
    }
    if (const auto* v = args.Value("--max-angle")) {
        details.limits.maxAngle = ParseAngleLimit(*v);
        if (!details.limits.maxAngle)
            Usage(context,
                  "--max-angle needs a number of degrees with at most one decimal (1.5), "
                  "not '" +
                      *v + "'");
    }
}

const std::set<std::string> kJobOptions = {"--customer", "--contractor", "--technician",
                                           "--max-loss", "--max-angle"};

// "2026-12-07 09:15:00" (UTC) of Unix seconds.
std::string UtcText(std::int64_t seconds) {
    const std::chrono::sys_seconds t{std::chrono::seconds{seconds}};
    const auto day = std::chrono::floor<std::chrono::days>(t);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{t - day};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

int Job(CliContext& context, CommandArgs args) {
    const std::string usage =
        "job needs create NAME, edit NAME, history NAME or list; create and edit take --customer "
        "T, "
        "--contractor T, --technician T, --max-loss DB and --max-angle DEG, edit also --rename "
        "NEW";
    if (args.empty()) Usage(context, usage);
    const std::string& verb = args[0];
    std::set<std::string> valued = kJobOptions;
    if (verb == "edit") valued.insert("--rename");
    const Arguments parsed =
        Parse(context, args.subspan(1), verb == "list" ? std::set<std::string>{} : valued);
    if (verb == "list" && parsed.words.empty()) {
        archive::OpenResult opened = archive::Archive::Open(
            archive::ArchiveFile(Config().AppDirectory), {.purpose = archive::OpenFor::Reading});
        if (!opened.archive && opened.error.code == archive::ErrorCode::NoArchive) return kExitOk;
        if (!opened.archive) Fail(archive::ArchiveErrorText(opened.error));
        const auto standings = jobs::ReadJobStandings(*opened.archive, DefaultLimits());
        if (!standings) Fail(archive::ArchiveErrorText(opened.archive->LastError()));
        // Each job's verdict and counts as every deliverable gives them: spliced of
        // planned positions, replaced attempts apart, test splices never counted.
        std::printf(
            "name\tverdict\tspliced\tplanned\tfailed\tover limit\treplaced\trecords\t"
            "unplaced\ttest splices\tcustomer\tcontractor\ttechnicians\tmax loss (dB)\t"
            "max angle (deg)\n");
        const jobs::MatrixCaptions words = jobs::LoadMatrixCaptions();
        for (const jobs::JobStanding& s : *standings) {
            const jobs::JobDetails& d = s.job.details;
            std::printf("%s\t%s\t%zu\t%zu\t%zu\t%zu\t%zu\t%zu\t%zu\t%zu\t%s\t%s\t%s\t%s\t%s\n",
                        TerminalSafe(d.name).c_str(), words.State(s.verdict.state).c_str(),
                        s.verdict.spliced, s.verdict.planned, s.counts.failed, s.counts.overLimit,
                        s.counts.replaced, s.job.records, s.job.Unplaced(), s.job.testSplices,
                        TerminalSafe(d.customer).c_str(), TerminalSafe(d.contractor).c_str(),
                        TerminalSafe(d.technicians).c_str(), Limit(d.limits.maxLoss, true).c_str(),
                        Limit(d.limits.maxAngle, false).c_str());
        }
        return kExitOk;
    }
    if (verb == "history" && parsed.words.size() == 1 && parsed.values.empty()) {
        // Each change that lost to another laptop's: its time, author, what it changed
        // (kind, name, field), its value, then the value that won and whose it is.
        const auto archive = OpenArchive(archive::OpenFor::Reading);
        std::string error;
        const auto lost = archive::ReadJobHistory(*archive, parsed.words[0],
                                                  team::LaptopId(Config().AppDirectory, error));
        if (!lost) Fail(archive::ArchiveErrorText(archive->LastError()));
        for (const archive::LostChange& l : *lost) {
            const archive::JobChange& c = l.change;
            std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n",
                        UtcText(c.effective.value_or(c.changedAt)).c_str(),
                        TerminalSafe(c.author).c_str(), c.kind.c_str(),
                        TerminalSafe(l.entityName).c_str(), c.field.c_str(),
                        TerminalSafe(c.value.value_or("")).c_str(),
                        TerminalSafe(l.winningValue.value_or("")).c_str(),
                        TerminalSafe(l.winningAuthor).c_str());
        }
        return kExitOk;
    }
    if ((verb != "create" && verb != "edit") || parsed.words.size() != 1) Usage(context, usage);
    const std::string& name = parsed.words[0];
    const auto archive = OpenArchive(archive::OpenFor::Writing);
    JobStore store(*archive);
    if (verb == "create") {
        jobs::JobDetails details{.name = name};
        TakeJobOptions(context, parsed, details);
        Done(store.CreateJob(details));
        std::printf("job '%s' created\n", TerminalSafe(name).c_str());
        return kExitOk;
    }
    jobs::JobDetails details = FindJob(store, name).details;
    TakeJobOptions(context, parsed, details);
    if (const auto* rename = parsed.Value("--rename")) details.name = *rename;
    Done(store.EditJob(name, details));
    std::printf("job '%s' changed\n", TerminalSafe(details.name).c_str());
    return kExitOk;
}

int Closure(CliContext& context, CommandArgs args) {
    const std::string usage =
        "closure needs add JOB CLOSURE [--location TEXT] [--lat DEG --lon DEG], list JOB or "
        "show JOB CLOSURE";
    if (args.empty()) Usage(context, usage);
    const std::string& verb = args[0];
    const Arguments parsed = Parse(context, args.subspan(1), {"--location", "--lat", "--lon"});
    const std::size_t words = verb == "list" ? 1 : 2;
    if ((verb != "add" && verb != "list" && verb != "show") || parsed.words.size() != words ||
        (verb != "add" && !parsed.values.empty()))
        Usage(context, usage);
    const std::string& jobName = parsed.words[0];
    if (verb == "add") {
        jobs::ClosureDetails details{.name = parsed.words[1]};
        if (const auto* v = parsed.Value("--location")) details.location = *v;
        const auto* lat = parsed.Value("--lat");
        const auto* lon = parsed.Value("--lon");
        if ((lat == nullptr) != (lon == nullptr)) Refuse(Refusal::BadPoint);
        if (lat)
            details.point =
                jobs::GeoPoint{Degrees(context, *lat, "--lat"), Degrees(context, *lon, "--lon")};
        const auto archive = OpenArchive(archive::OpenFor::Writing);
        JobStore store(*archive);
        Done(store.AddClosure(FindJob(store, jobName).id, details));
        std::printf("closure '%s' added\n", TerminalSafe(details.name).c_str());
        return kExitOk;
    }
    const auto archive = OpenArchive(archive::OpenFor::Reading);
    const jobs::SpliceMatrix matrix = ReadMatrix(*archive, jobName);
    if (verb == "list") {
        // name, location, latitude, longitude, positions, spliced, passed, failed on the
        // splicer, over a limit, re-spliced
        for (const jobs::MatrixClosure& c : matrix.closures) {
            const jobs::ClosureDetails& d = c.closure.details;
            const auto& n = c.counts;
            std::printf("%s\t%s\t%s\t%s\t%zu\t%zu\t%zu\t%zu\t%zu\t%zu\n",
                        TerminalSafe(d.name).c_str(), TerminalSafe(d.location).c_str(),
                        d.point ? std::to_string(d.point->latitude).c_str() : "",
                        d.point ? std::to_string(d.point->longitude).c_str() : "", n.positions,
                        n.spliced, n.passed, n.failed, n.overLimit, n.respliced);
        }
        return kExitOk;
    }
    const std::string& closureName = parsed.words[1];
    for (const jobs::MatrixClosure& c : matrix.closures) {
        if (c.closure.details.name != closureName) continue;
        auto colour = [](const jobs::MatrixEnd& end) {
            return std::string(jobs::ColourName(end.place.tubeColour)) + "/" +
                   std::string(jobs::ColourName(end.place.colour));
        };
        for (const jobs::MatrixRow& row : c.rows) {
            std::string splice = "\t\t\t";
            if (row.splice) {
                splice = LossText(row.splice->record) + "\t" + MarkWord(row.splice->mark) + "\t" +
                         TerminalSafe(row.splice->splicer) + "\t" + TimeText(row.splice->record);
            }
            std::printf("%d\t%d\t%s\t%d\t%s\t%s\t%d\t%s\t%s\t%zu\n", row.tray, row.position,
                        TerminalSafe(row.a.cable).c_str(), row.a.fibre, colour(row.a).c_str(),
                        TerminalSafe(row.b.cable).c_str(), row.b.fibre, colour(row.b).c_str(),
                        splice.c_str(), row.resplices.size());
        }
        return kExitOk;
    }
    Refuse(Refusal::NoSuchClosure, closureName);
}

int Cable(CliContext& context, CommandArgs args) {
    const Arguments parsed = Parse(context, args, {"--per-tube"});
    if (parsed.words.size() != 5 || parsed.words[0] != "add")
        Usage(context, "cable needs add JOB CLOSURE CABLE FIBRES [--per-tube N]");
    jobs::CableDetails details{.name = parsed.words[3],
                               .fibres = Number(context, parsed.words[4], "FIBRES")};
    if (const auto* v = parsed.Value("--per-tube"))
        details.perTube = Number(context, *v, "--per-tube");
    const auto archive = OpenArchive(archive::OpenFor::Writing);
    JobStore store(*archive);
    const jobs::ClosureInfo closure =
        FindClosure(store, FindJob(store, parsed.words[1]).id, parsed.words[2]);
    Done(store.AddCable(closure.id, details));
    std::printf("cable '%s' added\n", TerminalSafe(details.name).c_str());
    return kExitOk;
}

int Tray(CliContext& context, CommandArgs args) {
    const Arguments parsed = Parse(context, args, {"--capacity"});
    if (parsed.words.size() != 4 || parsed.words[0] != "add")
        Usage(context, "tray needs add JOB CLOSURE TRAY [--capacity N]");
    jobs::TrayDetails details{.number = Number(context, parsed.words[3], "TRAY")};
    if (const auto* v = parsed.Value("--capacity"))
        details.capacity = Number(context, *v, "--capacity");
    const auto archive = OpenArchive(archive::OpenFor::Writing);
    JobStore store(*archive);
    const jobs::ClosureInfo closure =
        FindClosure(store, FindJob(store, parsed.words[1]).id, parsed.words[2]);
    Done(store.AddTray(closure.id, details));
    std::printf("tray %d added\n", details.number);
    return kExitOk;
}

// CABLE:FIBRE of the closure's cables; the cable's name may hold ':' itself.
jobs::FibreEnd FibreEndOf(CliContext& context, JobStore& store, std::int64_t closureId,
                          const std::string& text, const std::string& option) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        Usage(context, option + " needs CABLE:FIBRE, not '" + text + "'");
    const std::string name = text.substr(0, colon);
    const int fibre = Number(context, text.substr(colon + 1), option + "'s FIBRE");
    for (const jobs::CableInfo& cable : Read(store.Cables(closureId), store))
        if (cable.details.name == name) return {cable.id, fibre};
    Refuse(Refusal::NoSuchCable, name);
}

int Place(CliContext& context, CommandArgs args) {
    const Arguments parsed = Parse(context, args, {"--a", "--b", "--last", "--record"});
    const std::string usage =
        "place needs JOB CLOSURE TRAY POSITION --a CABLE:FIBRE --b CABLE:FIBRE and either "
        "--last N or --record ID";
    const auto* a = parsed.Value("--a");
    const auto* b = parsed.Value("--b");
    const auto* last = parsed.Value("--last");
    const auto* record = parsed.Value("--record");
    if (parsed.words.size() != 4 || !a || !b || (last == nullptr) == (record == nullptr))
        Usage(context, usage);
    const int trayNumber = Number(context, parsed.words[2], "TRAY");
    const int position = Number(context, parsed.words[3], "POSITION");
    const long long count = last ? Whole(context, *last, "--last") : 1;
    const long long id = record ? Whole(context, *record, "--record") : 0;
    const auto archive = OpenArchive(archive::OpenFor::Writing);
    JobStore store(*archive);
    const jobs::ClosureInfo closure =
        FindClosure(store, FindJob(store, parsed.words[0]).id, parsed.words[1]);
    jobs::PlacingRequest request{FindTray(store, closure.id, trayNumber).id,
                                 position,
                                 FibreEndOf(context, store, closure.id, *a, "--a"),
                                 FibreEndOf(context, store, closure.id, *b, "--b"),
                                 {},
                                 DefaultLimits()};
    if (!last) request.records = {id};
    const JobResult placed = Done(last ? store.PlaceLatest(request, static_cast<std::size_t>(count))
                                       : store.Place(request));
    std::printf("%zu splices placed on tray %d from position %d\n", placed.count, trayNumber,
                position);
    return kExitOk;
}

int Unplace(CliContext& context, CommandArgs args) {
    const Arguments parsed = Parse(context, args, {});
    if (parsed.words.size() != 4) Usage(context, "unplace needs JOB CLOSURE TRAY POSITION");
    const int trayNumber = Number(context, parsed.words[2], "TRAY");
    const int number = Number(context, parsed.words[3], "POSITION");
    const auto archive = OpenArchive(archive::OpenFor::Writing);
    JobStore store(*archive);
    const jobs::ClosureInfo closure =
        FindClosure(store, FindJob(store, parsed.words[0]).id, parsed.words[1]);
    for (const jobs::PositionInfo& position :
         Read(store.Positions(FindTray(store, closure.id, trayNumber).id), store)) {
        if (position.number != number) continue;
        const JobResult taken = Done(store.Unplace(position.id));
        std::printf("%zu splices taken off tray %d, position %d\n", taken.count, trayNumber,
                    number);
        return kExitOk;
    }
    Refuse(Refusal::NoSuchPosition, std::to_string(number));
}

int TestSplice(CliContext& context, CommandArgs args) {
    const Arguments parsed = Parse(context, args, {"--record"}, {"--undo"});
    const auto* record = parsed.Value("--record");
    if (!record || !parsed.words.empty()) Usage(context, "test-splice needs --record ID [--undo]");
    const long long id = Whole(context, *record, "--record");
    const bool undo = parsed.flags.contains("--undo");
    const auto archive = OpenArchive(archive::OpenFor::Writing);
    JobStore store(*archive);
    Done(store.MarkTestSplice(id, !undo));
    std::printf(undo ? "record %lld counts again\n" : "record %lld is a test splice\n", id);
    return kExitOk;
}

// plan add JOB CLOSURE TRAY POSITION --a CABLE:FIBRE --b CABLE:FIBRE, plan import JOB FILE.
int Plan(CliContext& context, CommandArgs args) {
    const std::string usage =
        "plan needs add JOB CLOSURE TRAY POSITION --a CABLE:FIBRE --b CABLE:FIBRE, or import "
        "JOB FILE.csv|FILE.xlsx";
    if (args.empty()) Usage(context, usage);
    const std::string& verb = args[0];
    const Arguments parsed = Parse(context, args.subspan(1), {"--a", "--b"});
    if (verb == "import" && parsed.words.size() == 2 && parsed.values.empty()) {
        const auto archive = OpenArchive(archive::OpenFor::Writing);
        const jobs::PlanImport imported =
            jobs::ImportPlanFile(*archive, parsed.words[0], PathFromText(parsed.words[1]));
        if (!imported.ok) Fail(TerminalSafe(imported.message));
        std::printf("%zu positions planned\n", imported.planned);
        return kExitOk;
    }
    const auto* a = parsed.Value("--a");
    const auto* b = parsed.Value("--b");
    if (verb != "add" || parsed.words.size() != 4 || !a || !b) Usage(context, usage);
    const int trayNumber = Number(context, parsed.words[2], "TRAY");
    const int position = Number(context, parsed.words[3], "POSITION");
    const auto archive = OpenArchive(archive::OpenFor::Writing);
    JobStore store(*archive);
    const jobs::ClosureInfo closure =
        FindClosure(store, FindJob(store, parsed.words[0]).id, parsed.words[1]);
    Done(store.PlanPosition(FindTray(store, closure.id, trayNumber).id, position,
                            FibreEndOf(context, store, closure.id, *a, "--a"),
                            FibreEndOf(context, store, closure.id, *b, "--b")));
    std::printf("position %d of tray %d planned\n", position, trayNumber);
    return kExitOk;
}

template <int (*Command)(CliContext&, CommandArgs)>
int Guarded(CliContext& context, CommandArgs args) {
    try {
        return Command(context, args);
    } catch (const Stop& stop) {
        return stop.status;
    }
}

}  // namespace

int RunJob(CliContext& context, CommandArgs args) {
    return Guarded<Job>(context, args);
}
int RunClosure(CliContext& context, CommandArgs args) {
    return Guarded<Closure>(context, args);
}
int RunCable(CliContext& context, CommandArgs args) {
    return Guarded<Cable>(context, args);
}
int RunTray(CliContext& context, CommandArgs args) {
    return Guarded<Tray>(context, args);
}
int RunPlace(CliContext& context, CommandArgs args) {
    return Guarded<Place>(context, args);
}
int RunUnplace(CliContext& context, CommandArgs args) {
    return Guarded<Unplace>(context, args);
}
int RunTestSplice(CliContext& context, CommandArgs args) {
    return Guarded<TestSplice>(context, args);
}
int RunPlan(CliContext& context, CommandArgs args) {
    return Guarded<Plan>(context, args);
}

}  // namespace velmora::cli
