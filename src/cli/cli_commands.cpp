#include "cli/cli_commands.h"

#include <algorithm>
#include <array>

#include "cli/archive_commands.h"
#include "cli/diagram_command.h"
#include "cli/firmware_command.h"
#include "cli/history_command.h"
#include "cli/image_commands.h"
#include "cli/job_commands.h"
#include "cli/matrix_commands.h"
#include "cli/package_command.h"
#include "cli/report_command.h"
#include "cli/team_commands.h"

namespace velmora::cli {
namespace {

// Later commands (history, images, firmware) are added here.
constexpr std::array kCommands{
    CliCommand{"ports", "", "list the serial ports present", RunPorts},
    CliCommand{"read", "GROUP",
               "print a parameter group (splice, heating, environment, "
               "fsconfig, system)",
               RunRead},
    CliCommand{"write", "GROUP ROW=TEXT...", "change rows of a group and write it to the splicer",
               RunWrite},
    CliCommand{"backup", "[FILE]",
               "read the settings, keep them in the archive and write them to FILE (- the "
               "standard output)",
               RunBackup},
    CliCommand{"diff", "FILE", "rows that differ between a backup FILE and the splicer", RunDiff},
    CliCommand{"restore", "FILE [GROUP...] [--any-splicer]",
               "write a backup's groups back and print what changed", RunRestore},
    CliCommand{"images", "", "list the splicer's images: number and time", RunImages},
    CliCommand{"image", "NUMBER [--force]",
               "download an image into the JPG folder and print its path (--force replaces "
               "a file saved before)",
               RunImage},
    CliCommand{"firmware", "FILE [--no-backup]",
               "back up the settings, then send a firmware file to the splicer", RunFirmware},
    CliCommand{"history", "[--csv] [--no-archive]",
               "list the splice records: number and time; with --csv "
               "export them and print the file's path; every record is kept in the archive",
               RunHistory},
    CliCommand{"team", "init URL|join URL|leave|sync|status|take JOB",
               "the team archive (PostgreSQL, a postgresql:// URI; passwords only in libpq's "
               ".pgpass): init creates or updates it and its roles velmora_technician and "
               "velmora_office, join and leave choose it, sync sends what it lacks (exit 1 when "
               "it cannot be reached or refuses) and reads its jobs' further changes, status "
               "shows what waits, take reads a job into this PC's archive to work on it offline",
               RunTeam},
    CliCommand{"archive", "list [--ids|--team]|csv FILE|tag JOB|undo-tag [filters]",
               "the archived splices of every download: filters --device D (a serial number, "
               "or a folder name: all its splicers), --from and --to YYYY-MM-DD, --job J, "
               "--result all|failed|over-limit|passed (failed on the splicer, or beyond the "
               "report's limits), --search TEXT (in the job, splicer or closure name, any "
               "case); "
               "list --ids starts each line with the record's id; list --team lists the team "
               "archive's; "
               "tag needs a filter or --all, and --replace to change records of another job; "
               "undo-tag gives the records of the last tag their job of before",
               RunArchive},
    CliCommand{"job",
               "create|edit|history NAME [options]|list|package JOB -o DIR|FILE.zip [--images]",
               "jobs and their details: --customer T, --contractor T, --technician T, "
               "--max-loss DB and --max-angle DEG (the job's own limits); edit takes --rename NEW "
               "too, and the job's records follow the new name; list gives each job's verdict "
               "(not started, in progress, failed, passed) and counts under a header line; "
               "history lists the changes "
               "that lost to another laptop's: time (UTC), author, kind, item, field, value, "
               "the value that won and its author; package writes the job's hand-over into one "
               "folder (new, or empty) or one new ZIP file: its verdict first, then the PDF "
               "report, the matrix as XLSX and CSV, the closures as GeoJSON, an SVG diagram per "
               "tray and with --images its splices' images; nothing is left behind on failure",
               [](CliContext& c, CommandArgs a) {
                   if (!a.empty() && a[0] == "package") return RunPackage(c, a.subspan(1));
                   return RunJob(c, a);
               }},
    CliCommand{"plan",
               "add JOB CLOSURE TRAY POSITION --a CABLE:FIBRE --b CABLE:FIBRE|import JOB "
               "FILE.csv|FILE.xlsx",
               "plan positions before anything is spliced on them: one, or a whole plan from a "
               "file with the matrix's columns closure, tray, position, cable A, fibre A, cable B, "
               "fibre B (an exported matrix is a plan), all or nothing; a job is judged against "
               "its planned positions",
               RunPlan},
    CliCommand{"closure",
               "add JOB CLOSURE [--location T] [--lat DEG --lon DEG]|list JOB|show JOB "
               "CLOSURE [--team]",
               "a job's closures; show prints the closure's positions tray by tray: tray, "
               "position, cable, fibre and colour of both ends, loss, result, splicer, time, "
               "re-splices",
               [](CliContext& c, CommandArgs a) {
                   return OnTeamView(c, a, RunClosure, a.size() > 1 ? a[1] : "");
               }},
    CliCommand{"cable", "add JOB CLOSURE CABLE FIBRES [--per-tube N]",
               "a cable of 12 to 864 fibres entering a closure (12 fibres a tube unless told)",
               RunCable},
    CliCommand{"tray", "add JOB CLOSURE TRAY [--capacity N]",
               "a splice tray of a closure (12 positions unless told)", RunTray},
    CliCommand{"place",
               "JOB CLOSURE TRAY POSITION --a CABLE:FIBRE --b CABLE:FIBRE (--last N|--record ID) "
               "| JOB CLOSURE TRAY [POSITION] [--a ..] [--b ..] --next N",
               "place the job's N latest unplaced splices, oldest first, on positions POSITION.. "
               "joining fibres FIBRE.. in step, or one record; on a position that holds one "
               "the latest splice counts and the earlier ones are its replaced attempts (a "
               "record older than a failed splice there is refused); --next: the N records "
               "after the last one placed in splice order (those of no job named to the job), "
               "from where the tray's work goes on, on the plan's fibres where it has them",
               RunPlace},
    CliCommand{"unplace", "JOB CLOSURE TRAY POSITION",
               "take the splices off a position; it stays planned", RunUnplace},
    CliCommand{"test-splice", "--record ID [--undo]",
               "mark a record as a test splice, not counted (and off its position)", RunTestSplice},
    CliCommand{"report",
               "-o FILE.pdf|FILE.html [--format pdf|html] [--max-loss DB] [--max-angle DEG] "
               "[filters] [--team]",
               "the report of the archived splices the filters take, verdict first; "
               "a splice passes when the splicer judged it a success within both limits; "
               "--job JOB alone gives the job's report, the job's verdict and its failures "
               "first, against the job's own limits (a limit given where it sets its own is "
               "refused), with its closures' tray tables",
               [](CliContext& c, CommandArgs a) {
                   const auto job = std::find(a.begin(), a.end(), "--job");
                   return OnTeamView(c, a, RunReport,
                                     job != a.end() && job + 1 != a.end() ? *(job + 1) : "");
               }},
    CliCommand{"matrix",
               "JOB -o FILE.xlsx|FILE.csv [--format xlsx|csv] [--encoding utf-8] [--team]",
               "the job's splice matrix: a summary, then every position of every closure; "
               "--format where the file's name does not say (-o - the standard output); a CSV "
               "file is GBK when the tables are Chinese, UTF-8 with --encoding utf-8; "
               "--team (also on report and closure show) reads the team archive's",
               [](CliContext& c, CommandArgs a) {
                   return OnTeamView(c, a, RunMatrix, a.empty() ? "" : a[0]);
               }},
    CliCommand{"geojson", "JOB -o FILE.geojson",
               "the job's closures that have a location, as GeoJSON points", RunGeoJson},
    CliCommand{"diagram", "JOB CLOSURE [TRAY] -o FILE.svg|FILE.png [--format svg|png] [--team]",
               "a tray's splice diagram: cable A's fibres left, cable B's right, a line per "
               "position in the colour of its result with its loss (dashed: planned, not "
               "spliced); without TRAY every tray of the closure, one below another",
               [](CliContext& c, CommandArgs a) {
                   return OnTeamView(c, a, RunDiagram, a.empty() ? "" : a[0]);
               }},
};

}  // namespace

std::span<const CliCommand> AllCliCommands() {
    return kCommands;
}

const CliCommand* FindCliCommand(std::string_view name) {
    for (const CliCommand& command : kCommands)
        if (command.name == name) return &command;
    return nullptr;
}

}  // namespace velmora::cli
