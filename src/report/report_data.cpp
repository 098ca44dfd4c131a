#include "report/report_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <utility>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/atomic_file.h"
#include "base/file_read.h"
#include "base/ini_file.h"
#include "base/local_time.h"
#include "base/sha256.h"
#include "base/time_text.h"
#include "history/history_texts.h"
#include "images/image_download.h"
#include "settings/device_folder.h"

namespace velmora::report {
namespace {

namespace fs = std::filesystem;

std::string Fixed(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::vector<Tally> Tallies(const std::map<std::string, std::size_t>& counts) {
    std::vector<Tally> tallies;
    for (const auto& [name, count] : counts) tallies.push_back({name, count});
    std::stable_sort(tallies.begin(), tallies.end(),
                     [](const Tally& a, const Tally& b) { return a.count > b.count; });
    return tallies;
}

std::string DateText(std::chrono::year_month_day date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::string PeriodText(const std::vector<archive::ArchivedRecord>& records,
                       const archive::RecordFilter& filter) {
    std::optional<std::string> first, last;
    for (const archive::ArchivedRecord& r : records) {
        if (!HasRealTime(r.record)) continue;
        const std::string day = TimeText(r.record).substr(0, 10);
        if (!first || day < *first) first = day;
        if (!last || day > *last) last = day;
    }
    if (filter.from) first = DateText(*filter.from);
    if (filter.to) last = DateText(*filter.to);
    if (!first && !last) return "-";
    return first.value_or("") + " - " + last.value_or("");
}

std::string JobText(const std::vector<archive::ArchivedRecord>& records,
                    const archive::RecordFilter& filter, const Captions& captions) {
    if (filter.job) return filter.job->empty() ? captions[Caption::NoJob] : *filter.job;
    std::vector<std::string> jobs;
    std::set<std::string> seen;
    for (const archive::ArchivedRecord& r : records)
        if (seen.insert(r.job).second)
            jobs.push_back(r.job.empty() ? captions[Caption::NoJob] : r.job);
    std::string text;
    for (const std::string& job : jobs) text += (text.empty() ? "" : ", ") + job;
    return text;
}

std::string NowText() {
    const std::tm t = LocalTime(std::time(nullptr));
    return TimeStampText(t.tm_year - 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

// Where an archived image's file is; empty for a name that is not one plain file
// name (the archive is a file anyone can edit).
fs::path ImagePath(const fs::path& dataFolder, const std::string& device, const std::string& name) {
    if (name.empty() || SafeFolderName(name) != name) return {};
    return dataFolder / "FS" / SafeFolderName(device) / "JPG" / name;
}

}  // namespace

LossStatistics ComputeLossStatistics(std::vector<int> losses) {
    LossStatistics stats;
    stats.count = losses.size();
    if (losses.empty()) return stats;
    std::sort(losses.begin(), losses.end());
    long long sum = 0;
    for (int loss : losses) sum += loss;
    stats.mean = static_cast<double>(sum) / static_cast<double>(losses.size());
    stats.max = losses.back();
    const std::size_t rank = (95 * losses.size() + 99) / 100;  // ceil(0.95 n), at least 1
    stats.p95 = losses[rank - 1];
    return stats;
}

Histogram MakeHistogram(std::span<const int> losses, int lossLimit) {
    int top = std::max(lossLimit, 1);
    for (int loss : losses) top = std::max(top, loss);
    auto bins = [top](int width) { return static_cast<std::size_t>((top - 1) / width) + 1; };
    // The four smallest widths that fit; the first of them that divides the limit is taken.
    std::vector<int> fitting;
    for (int scale = 1; fitting.size() < 4; scale *= 10)
        for (int step : {1, 2, 4, 5})
            if (fitting.size() < 4 && bins(step * scale) <= kMaxBins)
                fitting.push_back(step * scale);
    Histogram histogram;
    histogram.width = fitting.front();
    for (int width : fitting)
        if (lossLimit > 0 && lossLimit % width == 0) {
            histogram.width = width;
            break;
        }
    histogram.counts.assign(bins(histogram.width), 0);
    for (int loss : losses)
        ++histogram.counts[loss <= 0 ? 0 : static_cast<std::size_t>((loss - 1) / histogram.width)];
    return histogram;
}

std::string LossFigure(int hundredths) {
    return Fixed(hundredths / 100.0, "%.2f");
}

std::string MeanLossFigure(double mean) {
    return Fixed(mean / 100.0, "%.3f");
}

std::string AngleFigure(int tenths) {
    return AngleText(tenths);
}

const std::string& MarkText(const Report& report, Mark mark) {
    switch (mark) {
        case Mark::Pass:
            return report.captions[Caption::MarkPass];
        case Mark::Failed:
            return report.captions[Caption::MarkFailed];
        case Mark::OverLoss:
            return report.captions[Caption::MarkOverLoss];
        case Mark::OverAngle:
            return report.captions[Caption::MarkOverAngle];
        case Mark::OverBoth:
            break;
    }
    return report.captions[Caption::MarkOverBoth];
}

std::string SplicerText(const Report& report, const SplicerLine& splicer) {
    if (splicer.serialNumber.empty()) return splicer.name;
    return splicer.name + "  (" + report.captions[Caption::SerialNumber] + " " +
           splicer.serialNumber + ")";
}

Report MakeReport(const std::vector<archive::ArchivedRecord>& records,
                  const std::vector<archive::ArchivedImage>& images,
                  const archive::RecordFilter& filter, const Limits& limits,
                  const fs::path& dataFolder, TableLanguage language, Captions captions,
                  const std::map<std::int64_t, std::int64_t>& numbers) {
    Report report;
    report.captions = std::move(captions);
    report.limits = limits;
    report.job = JobText(records, filter, report.captions);
    report.period = PeriodText(records, filter);
    report.written = NowText();

    std::vector<int> losses;
    losses.reserve(records.size());
    std::map<std::string, std::size_t> bySplicer, byFiber, byProgram;
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> digests;
    for (const archive::ArchivedImage& image : images)
        digests[{image.device, image.fileName}].push_back(image.sha256);
    std::set<std::pair<std::string, std::string>> imagesSeen;
    report.rows.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const archive::ArchivedRecord& archived = records[i];
        const SpliceRecord& r = archived.record;
        // A splicer is its whole serial number; only a splicer that never told it is
        // known by its folder.
        const std::string splicer =
            archive::SplicerDisplayName(archived.serialNumber, archived.device);
        const auto number = numbers.find(archived.id);
        Row row{std::to_string(number == numbers.end() ? static_cast<std::int64_t>(i + 1)
                                                       : number->second),
                splicer,
                TimeText(r),
                ResultListText(r, language),
                LossText(r),
                SpliceModeText(r, language),
                FiberTypeText(r, language),
                AngleText(r.lfAngle()),
                AngleText(r.rfAngle()),
                Judge(r, limits)};
        (row.mark == Mark::Pass ? report.passed : report.failed)++;
        report.failedOnSplicer += row.mark == Mark::Failed;
        report.overLoss += row.mark == Mark::OverLoss || row.mark == Mark::OverBoth;
        report.overAngle += row.mark == Mark::OverAngle || row.mark == Mark::OverBoth;
        losses.push_back(r.loss());
        ++byFiber[row.fiberType];
        ++byProgram[row.spliceMode];
        if (bySplicer[splicer]++ == 0)
            report.splicers.push_back({archived.device, archived.serialNumber});
        for (const std::string& name : archived.images) {
            if (!imagesSeen.insert({archived.device, name}).second) continue;
            report.images.push_back({ImagePath(dataFolder, archived.device, name), name,
                                     row.number + "  " + row.time + "  " + row.loss + " dB",
                                     digests[{archived.device, name}]});
        }
        report.rows.push_back(std::move(row));
    }
    report.histogram = MakeHistogram(losses, limits.maxLoss);
    report.loss = ComputeLossStatistics(std::move(losses));
    report.bySplicer = Tallies(bySplicer);
    report.byFiber = Tallies(byFiber);
    report.byProgram = Tallies(byProgram);
    return report;
}

std::unique_ptr<archive::Archive> OpenArchiveToReport(const fs::path& dataFolder,
                                                      std::string* error) {
    archive::OpenResult opened = archive::Archive::Open(archive::ArchiveFile(dataFolder),
                                                        {.purpose = archive::OpenFor::Reading});
    // No archive yet means nothing was ever downloaded.
    if (!opened.archive && error)
        *error = opened.error.code == archive::ErrorCode::NoArchive
                     ? Say(report_msg::NothingSelected)
                     : archive::ArchiveErrorText(opened.error);
    return std::move(opened.archive);
}

std::optional<Report> LoadReport(const fs::path& dataFolder, const archive::RecordFilter& filter,
                                 const Limits& limits, std::string* error) {
    const std::unique_ptr<archive::Archive> opened = OpenArchiveToReport(dataFolder, error);
    if (!opened) return std::nullopt;
    archive::Archive& archive = *opened;
    const auto records = archive.Records(filter);
    if (!records) {
        if (error) *error = archive::ArchiveErrorText(archive.LastError());
        return std::nullopt;
    }
    return ReportOfRecords(archive, *records, filter, limits, dataFolder, {}, error);
}

std::optional<Report> ReportOfRecords(archive::Archive& archive,
                                      const std::vector<archive::ArchivedRecord>& records,
                                      const archive::RecordFilter& filter, const Limits& limits,
                                      const fs::path& dataFolder,
                                      const std::map<std::int64_t, std::int64_t>& numbers,
                                      std::string* error) {
    if (records.empty()) {
        if (error) *error = Say(report_msg::NothingSelected);
        return std::nullopt;
    }
    std::vector<archive::ArchivedImage> images;
    std::set<std::string> devices;
    for (const archive::ArchivedRecord& r : records) {
        if (r.images.empty() || !devices.insert(r.device).second) continue;
        const auto ofDevice = archive.Images(r.device);
        if (!ofDevice) {
            if (error) *error = archive::ArchiveErrorText(archive.LastError());
            return std::nullopt;
        }
        images.insert(images.end(), ofDevice->begin(), ofDevice->end());
    }
    return MakeReport(records, images, filter, limits, dataFolder,
                      TableLanguageFor(Config().EnglishFlag), LoadCaptions(), numbers);
}

ImageRead ReadImage(const Image& image) {
    if (image.file.empty()) return {ImageProblem::Missing, {}};
    FileReadResult read = ReadWholeFile(image.file, kMaxImageSize);
    if (read.problem == FileReadProblem::Missing) return {ImageProblem::Missing, {}};
    if (!read.ok()) return {ImageProblem::Unreadable, {}};
    // A file changed since it was archived (another picture saved under its name, a
    // damaged copy) would show a splice it does not belong to.
    const std::string digest = HexText(
        Sha256Of({reinterpret_cast<const std::uint8_t*>(read.bytes.data()), read.bytes.size()}));
    if (std::find(image.sha256.begin(), image.sha256.end(), digest) == image.sha256.end())
        return {ImageProblem::Changed, {}};
    return {ImageProblem::None, std::move(read.bytes)};
}

std::string MissingImageText(const Report& report, const MissingImage& image) {
    const Caption caption = image.problem == ImageProblem::Changed      ? Caption::ImageChanged
                            : image.problem == ImageProblem::Unreadable ? Caption::ImageUnreadable
                                                                        : Caption::ImageMissing;
    return FillCaption(report.captions[caption], image.name);
}

fs::path LimitsFile(const fs::path& dataFolder) {
    return dataFolder / "report.ini";
}

Limits LoadLimits(const fs::path& dataFolder) {
    Limits limits;
    const fs::path file = LimitsFile(dataFolder);
    if (auto loss = ParseLossLimit(ReadProfileString(file, "Report", "Max_Loss")))
        limits.maxLoss = *loss;
    if (auto angle = ParseAngleLimit(ReadProfileString(file, "Report", "Max_Angle")))
        limits.maxAngle = *angle;
    return limits;
}

bool SaveLimits(const fs::path& dataFolder, const Limits& limits, std::string* error) {
    std::error_code ec;
    fs::create_directories(dataFolder, ec);
    const std::string text = "[Report]\r\nMax_Loss=" + LossFigure(limits.maxLoss) +
                             "\r\nMax_Angle=" + AngleFigure(limits.maxAngle) + "\r\n";
    const FileWriteResult written = ReplaceFile(LimitsFile(dataFolder), text);
    if (!written.ok && error) *error = written.reason;
    return written.ok;
}

WriteResult NotWritten(const fs::path& file, const std::string& reason) {
    return {false, false, FileNotSavedText(file, reason), {}};
}

WriteResult Cancelled() {
    return {false, true, {}, {}};
}

}  // namespace velmora::report
