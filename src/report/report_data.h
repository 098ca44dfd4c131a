#pragma once
// What a splice report says, worked out once for every format: which splices pass
// against the acceptance limits, the loss statistics and histogram, the counts by
// fibre type and by program, and the texts of every table row and image caption.
// No Qt and no file writing here; the writers only lay these out.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "history/splice_acceptance.h"
#include "history/splice_record.h"
#include "jobs/splice_diagram.h"
#include "report/report_texts.h"

namespace velmora::report {

// Loss figures in hundredths of a dB; all zero for no values.
struct LossStatistics {
    std::size_t count = 0;
    double mean = 0;
    int max = 0;
    int p95 = 0;  // nearest rank: the smallest value at or above 95 % of the values
};
LossStatistics ComputeLossStatistics(std::vector<int> losses);

// Bin k counts the losses above k * width and up to (k + 1) * width hundredths of a
// dB (bin 0 also a loss of 0), so that "at most the limit" ends on a bin edge. The
// width is one of 1, 2, 4, 5, 10, 20, 40, 50, 100... hundredths that covers every
// loss and the loss limit in at most kMaxBins bins: of the four smallest that do, the
// first that divides the limit, else the smallest.
inline constexpr std::size_t kMaxBins = 20;
struct Histogram {
    int width = 1;
    std::vector<std::size_t> counts;

    int Lower(std::size_t bin) const { return static_cast<int>(bin) * width; }
    // Every loss of the bin is beyond the limit.
    bool Beyond(std::size_t bin, int lossLimit) const { return Lower(bin) >= lossLimit; }
};
Histogram MakeHistogram(std::span<const int> losses, int lossLimit);

struct Tally {
    std::string name;
    std::size_t count = 0;
    bool operator==(const Tally&) const = default;
};

struct Row {
    std::string number;
    std::string splicer;  // its serial number, or its folder's name when that is unknown
    std::string time;
    std::string result;
    std::string loss;
    std::string spliceMode;
    std::string fiberType;
    std::string lfAngle;
    std::string rfAngle;
    Mark mark = Mark::Pass;
};

struct Image {
    std::filesystem::path file;  // empty when its name cannot be a file of the JPG folder
    std::string name;
    std::string caption;  // "12  2026-03-07 09:05:30  0.03 dB"
    // The SHA-256 of every image the archive keeps under this name and splicer: the
    // file is shown only when it is one of them.
    std::vector<std::string> sha256;
};

struct SplicerLine {
    std::string name;  // the device folder
    std::string serialNumber;
};

// A table of texts laid out alike by both formats: the sections of a job's report.
struct TextTable {
    struct Line {
        std::vector<std::string> cells;
        Mark mark = Mark::Pass;  // marks the line as the splice table marks a row
        bool minor = false;      // details the line above (a re-splice of its position)
    };
    std::string title;
    std::string note;  // a line under the title: where, how many
    std::vector<std::string> headers;
    std::vector<double> widths;  // relative widths of the columns
    std::vector<Line> lines;
};

struct SummaryLine {
    std::string caption;
    std::string value;
    bool part = false;  // details the line above
};

// How a verdict is shown: as passed, as failed, or as neither (a job not started or
// in progress).
enum class Tone { Pass, Fail, Pending };

// What a job's report adds: its verdict (jobs/job_verdict.h) and page one, which
// lists every failure that counts before anything else and how many attempts were
// replaced; its details and the counts of its positions; and its sections: counts
// per splicer, the tray tables of each closure with their replaced attempts, the
// test splices and the records not placed.
struct AsBuilt {
    Tone tone = Tone::Pending;
    std::string verdict;  // "The job is in progress: 18 of 24 positions spliced"
    std::string counts;   // "18 / 24": spliced positions of those planned
    TextTable failures;   // its note: the count of replaced attempts
    std::vector<SummaryLine> summary;
    TextTable bySplicer;            // the counting splices of each splicer
    std::vector<TextTable> tables;  // each closure, the test splices, the records not placed
    std::vector<jobs::TrayDiagram> diagrams;  // each tray of each closure
};

struct Report {
    Captions captions;
    std::string job;
    std::vector<SplicerLine> splicers;
    std::string period;
    Limits limits;
    std::size_t passed = 0;
    std::size_t failed = 0;
    // What the failed ones are: failed on the splicer, or beyond the loss limit, the
    // angle limit or both (a splice beyond both counts in overLoss and overAngle).
    std::size_t failedOnSplicer = 0;
    std::size_t overLoss = 0;
    std::size_t overAngle = 0;
    LossStatistics loss;
    Histogram histogram;
    std::vector<Tally> bySplicer;  // most first, then by name
    std::vector<Tally> byFiber;
    std::vector<Tally> byProgram;
    std::vector<Row> rows;
    std::vector<Image> images;
    std::string written;               // local date and time of writing
    std::optional<AsBuilt> asBuilt{};  // a job's report: the job's verdict and documentation

    // A job's report: the job's verdict. A report of archived records: whether every
    // splice passes.
    Tone VerdictTone() const {
        if (asBuilt) return asBuilt->tone;
        return failed == 0 ? Tone::Pass : Tone::Fail;
    }
    // The table then names each splice's splicer.
    bool ManySplicers() const { return splicers.size() > 1; }
    // "All splices passed"; a job's report: "The job passed" and the like.
    const std::string& VerdictText() const {
        if (asBuilt) return asBuilt->verdict;
        return captions[failed == 0 ? Caption::AllPassed : Caption::NotAllPassed];
    }
    // "Job Report" or "Splice Records Report".
    const std::string& TitleText() const {
        return captions[asBuilt ? Caption::JobTitle : Caption::Title];
    }
};

// The report of `records` (oldest first, as the archive gives them). Images are
// looked for in <dataFolder>/FS/<device>/JPG and checked against `images`, what the
// archive keeps of the splicers' images.
// A record's number in the report is its row, or when `numbers` holds its id (a
// job's report: the record's place on its splicer), that number.
Report MakeReport(const std::vector<archive::ArchivedRecord>& records,
                  const std::vector<archive::ArchivedImage>& images,
                  const archive::RecordFilter& filter, const Limits& limits,
                  const std::filesystem::path& dataFolder, TableLanguage language,
                  Captions captions, const std::map<std::int64_t, std::int64_t>& numbers = {});

// The report of the records `filter` takes from the archive of `dataFolder`, in
// the language of the run. On failure (no archive, nothing selected) `error` says
// why in the run's language and nothing is returned.
std::optional<Report> LoadReport(const std::filesystem::path& dataFolder,
                                 const archive::RecordFilter& filter, const Limits& limits,
                                 std::string* error);

// The archive of `dataFolder`, opened for reading; null when it cannot be, with `error`
// as LoadReport's.
std::unique_ptr<archive::Archive> OpenArchiveToReport(const std::filesystem::path& dataFolder,
                                                      std::string* error);

// The report of `records` of the open `archive` (MakeReport with the images the
// archive keeps of their splicers, in the language of the run); `error` as LoadReport's.
std::optional<Report> ReportOfRecords(archive::Archive& archive,
                                      const std::vector<archive::ArchivedRecord>& records,
                                      const archive::RecordFilter& filter, const Limits& limits,
                                      const std::filesystem::path& dataFolder,
                                      const std::map<std::int64_t, std::int64_t>& numbers,
                                      std::string* error);

// Texts shown in both formats.
std::string LossFigure(int hundredths);   // "0.08"
std::string MeanLossFigure(double mean);  // "0.045"
std::string AngleFigure(int tenths);      // "1.5"
const std::string& MarkText(const Report& report, Mark mark);
// "M2406A0153  (Serial number AM2406A0153)", or the name alone when its number is unknown.
std::string SplicerText(const Report& report, const SplicerLine& splicer);

// Progress of a writer: 0 to 100.
using Progress = std::function<void(int percent)>;

// Why an image is not in the report.
enum class ImageProblem { None, Missing, Changed, Unreadable };
struct MissingImage {
    std::string name;
    ImageProblem problem = ImageProblem::Missing;
};
// "Image file not found: 202603070901000.jpg" and the like.
std::string MissingImageText(const Report& report, const MissingImage& image);

struct WriteResult {
    bool ok = false;
    bool cancelled = false;  // stopped on request: nothing was written
    std::string error;       // in the run's language, when neither ok nor cancelled
    std::vector<MissingImage> missingImages;  // left out (the report was written without them)
};

// An image file whole, when it is a regular file no larger than any image a splicer
// sends and its SHA-256 is one of the image's archived ones; else why not (bytes
// then empty).
struct ImageRead {
    ImageProblem problem = ImageProblem::None;
    std::string bytes;
};
ImageRead ReadImage(const Image& image);

// The remembered acceptance limits: <dataFolder>/report.ini, section "Report".
std::filesystem::path LimitsFile(const std::filesystem::path& dataFolder);
Limits LoadLimits(const std::filesystem::path& dataFolder);
// Replaces the file whole; false (with the system's reason) when it cannot.
bool SaveLimits(const std::filesystem::path& dataFolder, const Limits& limits, std::string* error);

// "WriteResult" for a failure to write `file` (the history export's wording).
WriteResult NotWritten(const std::filesystem::path& file, const std::string& reason);
WriteResult Cancelled();

enum class Format { Pdf, Html };
// By the file's extension, whatever its case; nothing for any other.
std::optional<Format> FormatOf(const std::filesystem::path& file);

// Makes the whole PDF document in memory; nothing when the writer fails or is stopped.
using PdfMaker = std::function<std::optional<std::string>(
    const Report& report, const Progress& progress, std::vector<MissingImage>* missingImages,
    std::stop_token stop)>;

// Writes `report` to `file` (.pdf through `pdf`, .html through the core), replacing
// any file there only once the new one is complete; on failure, or when `stop` is
// requested first, nothing is left behind and a file already there stays as it was.
WriteResult WriteReportFile(const std::filesystem::path& file, const Report& report,
                            const PdfMaker& pdf, const Progress& progress = {},
                            std::stop_token stop = {});

}  // namespace velmora::report
