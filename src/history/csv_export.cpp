#include "history/csv_export.h"

#include <ctime>
#include <exception>
#include <string_view>
#include <system_error>

#include "base/local_time.h"
#include "base/text_codec.h"
#include "base/time_text.h"

namespace velmora {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::filesystem::path CsvFolder(const std::filesystem::path& deviceFolder,
                                const std::filesystem::path& appDirectory) {
    return (deviceFolder.empty() ? appDirectory : deviceFolder) / "CSV";
}

bool EnsureCsvFolder(const std::filesystem::path& deviceFolder) {
    if (deviceFolder.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(deviceFolder / "CSV", ec);
    return std::filesystem::is_directory(deviceFolder / "CSV", ec);
}

std::string CsvFileName(std::chrono::year_month_day date) {
    return std::to_string(static_cast<int>(date.year())) +
           TwoDigits(static_cast<int>(static_cast<unsigned>(date.month()))) +
           TwoDigits(static_cast<int>(static_cast<unsigned>(date.day()))) + ".csv";
}

std::chrono::year_month_day LocalToday() {
    const std::tm local = LocalTime(std::time(nullptr));
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

std::filesystem::path CsvExportPath(const std::filesystem::path& deviceFolder,
                                    const std::filesystem::path& appDirectory,
                                    std::chrono::year_month_day date) {
    return CsvFolder(deviceFolder, appDirectory) / CsvFileName(date);
}

std::string CsvHeaderLine(const std::array<std::string, kDetailRowCount>& captions) {
    std::string line = ",";  // the number column has no caption
    for (std::size_t i = 0; i < captions.size(); ++i) {
        if (i > 0) line += i == 1 ? "," : ", ";
        line += captions[i];
    }
    line += kLineEnd;
    return line;
}

std::string CsvRecordLine(std::size_t position, const SpliceRecord& r, TableLanguage language) {
    // The layout of the file's lines since its first version; spreadsheets trim the blanks.
    std::string line;
    line.reserve(160);
    line += std::to_string(position + 1) + ",";
    line += TimeText(r) + ",";
    line += ResultCsvText(r, language) + ", ";
    line += LossText(r) + ", ";
    line += SpliceModeText(r, language) + ", ";
    line += AlignText(r, language) + ", ";
    line += NumberText(r.alignSpace()) + ", ";
    line += NumberText(r.arcLine()) + ", ";
    line += NumberText(r.prefuseArcData()) + ", ";
    line += MillisecondText(r.prefuseArcTime()) + ", ";
    line += NumberText(r.arcData()) + ", ";
    line += MillisecondText(r.arcTime()) + ", ";
    line += NumberText(r.overLength()) + ",  ";
    line += FiberTypeText(r, language) + ",";
    line += AngleText(r.lfAngle()) + ", ";
    line += AngleText(r.rfAngle()) + ",";
    line += kLineEnd;
    return line;
}

namespace {

// Windows spreadsheets open a Chinese export in the system's code page.
std::string ForTheFile(std::string text, TableLanguage language) {
    return language == TableLanguage::Chinese ? Utf8ToGbk(text) : text;
}

}  // namespace

CsvBuilder::CsvBuilder(const std::array<std::string, kDetailRowCount>& captions,
                       TableLanguage language)
    : language_(language), text_(ForTheFile(CsvHeaderLine(captions), language)) {}

void CsvBuilder::Add(std::span<const SpliceRecord> records) {
    std::string lines;
    lines.reserve(records.size() * 140);
    for (const SpliceRecord& record : records) lines += CsvRecordLine(count_++, record, language_);
    // Whole lines: converted apart, they come out as converted together.
    text_ += ForTheFile(std::move(lines), language_);
}

std::string CsvDocument(const RecordStore& store,
                        const std::array<std::string, kDetailRowCount>& captions,
                        TableLanguage language, const std::function<void(int percent)>& progress) {
    std::string text = CsvHeaderLine(captions);
    text.reserve(text.size() + store.size() * 140);
    for (std::size_t k = 0; k < store.size(); ++k) {
        text += CsvRecordLine(k, store[k], language);
        if (progress) progress(static_cast<int>(k * 100 / store.size()));
    }
    return ForTheFile(std::move(text), language);
}

PreparedFile PrepareCsvDocument(const std::filesystem::path& file, const std::string& document) {
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec) return PreparedFile(file, FileWriteResult{false, ec.message()});
    }
    return PreparedFile(
        file, std::span(reinterpret_cast<const std::uint8_t*>(document.data()), document.size()));
}

FileWriteResult WriteCsvExport(const CsvExport& job,
                               const std::function<void(int percent)>& progress) {
    FileWriteResult written;
    try {
        written = PrepareCsvDocument(job.file,
                                     CsvDocument(job.records, job.captions, job.language, progress))
                      .Commit();
    } catch (const std::exception& e) {
        // Out of memory, say: told like any other failure, never thrown past a worker.
        return {false, e.what()};
    }
    if (written.ok && progress) progress(100);
    return written;
}

}  // namespace velmora
