#pragma once
// A job's hand-over package: everything its owner receives in one folder named after
// the job, or in one ZIP file holding that folder: the job's PDF report, its splice
// matrix as XLSX and CSV, its closures as GeoJSON, a splice diagram (SVG) for every
// tray and, when asked, the images of its splices. Made here once for the window and
// the command-line tool; each passes its own PDF writer. The package is built in a
// scratch folder beside the target and renamed into place only when complete, so a
// target is either the whole package or not there at all.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/splice_matrix.h"
#include "report/report_data.h"

namespace velmora::report {

// `name` fit to be one file or folder name on Windows and Linux alike: bytes that are
// not UTF-8 become U+FFFD; path separators, control characters and any of :*?"<>|
// become '_'; dots and blanks at the end are dropped (Windows drops them itself);
// leading dots become '_' (never hidden, never "." or ".."); a name Windows keeps for
// a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension) gets a '_' in
// front; cut at a character to at most `maxBytes`; "unnamed" when nothing is left.
std::string PortableFileName(std::string_view name, std::size_t maxBytes = 120);

// What a package is made from, read from the archive at once.
struct PackageSource {
    jobs::SpliceMatrix matrix;
    Report report;  // the job's report, as LoadJobReport makes it
};

// The job `name` of the archive of `dataFolder`, in the run's language; `defaults`
// are the limits where the job sets none. Nothing, with `error` saying why in the
// run's language, when it cannot be read (no such job among them).
std::optional<PackageSource> LoadPackageSource(const std::filesystem::path& dataFolder,
                                               const std::string& name, const Limits& defaults,
                                               std::string* error);

enum class PackageForm { Folder, Zip };
// A target ending in .zip (any case) is a ZIP file, anything else a folder.
PackageForm PackageFormOf(const std::filesystem::path& target);

// Where the window puts a job's package in `folder`: the job's portable name, with
// ".zip" for a ZIP file, and " (2)", " (3)"... before it while that name is taken, so
// that a package never lands on anything already there.
std::filesystem::path FreePackageTarget(const std::filesystem::path& folder, std::string_view job,
                                        PackageForm form);

struct PackageOptions {
    bool images = false;  // the images of the job's splices, under images/<splicer>/
};

enum class PackageOutcome {
    Written,
    Cancelled,
    TargetTaken,  // a file, or a folder with something in it, is already there
    NotWritten,   // a file of the package could not be written; `file` and `reason` say
    PdfFailed,    // the PDF writer made no document
};

struct PackageResult {
    PackageOutcome outcome = PackageOutcome::NotWritten;
    std::filesystem::path target{};
    std::string file{};                         // the member that failed, as named in the package
    std::string reason{};                       // the system's or the writer's reason
    std::vector<std::string> files{};           // written: each member, '/' between folders
    std::vector<MissingImage> missingImages{};  // left out, each named
    bool ok() const { return outcome == PackageOutcome::Written; }
};

// Writes the package of `source` to `target` (PackageFormOf says which form): the
// PDF through `pdf`, the rest through the core's writers. Nothing already there is
// replaced: a target that exists is refused, unless it is an empty folder (which the
// package then becomes). On any failure, or when `stop` is requested, nothing is left
// behind. An image that cannot be read is left out and named, the rest written.
// Progress 0 to 100.
PackageResult WritePackage(const PackageSource& source, const std::filesystem::path& target,
                           const PackageOptions& options, const PdfMaker& pdf,
                           const Progress& progress = {}, std::stop_token stop = {});

// The outcome in the run's language: where the package went, or why it was not written.
std::string PackageOutcomeText(const PackageResult& result);

}  // namespace velmora::report
