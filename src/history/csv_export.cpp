#include "history/csv_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <system_error>

#include "app/text_codec.h"

namespace velmora {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string TwoDigits(unsigned value) {
    return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

std::string Format(const Message& message, const std::string& a, const std::string& b = {}) {
    const std::string pattern = Say(message);
    std::string text(pattern.size() + a.size() + b.size() + 1, '\0');
    int n = std::snprintf(text.data(), text.size(), pattern.c_str(), a.c_str(), b.c_str());
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

// A descriptor that is closed, and a temporary file that is removed, unless kept.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!kept_) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool WriteAll(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Flushes to the disk and closes; the data is safe before the rename makes it visible.
    bool Finish() {
        bool ok = ::fsync(fd_) == 0;
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        return ok;
    }

    bool RenameTo(const std::filesystem::path& target) {
        kept_ = std::rename(path_.c_str(), target.c_str()) == 0;
        return kept_;
    }

private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool kept_ = false;
};

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
           TwoDigits(static_cast<unsigned>(date.month())) +
           TwoDigits(static_cast<unsigned>(date.day())) + ".csv";
}

std::chrono::year_month_day LocalToday() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

std::filesystem::path CsvExportPath(const std::filesystem::path& deviceFolder,
                                    const std::filesystem::path& appDirectory,
                                    std::chrono::year_month_day date) {
    return CsvFolder(deviceFolder, appDirectory) / CsvFileName(date);
}

std::string FileExistsText(const std::filesystem::path& file) {
    return Format(history_msg::FileExists, file.string());
}

std::string FileNotSavedText(const std::filesystem::path& file, const std::string& reason) {
    return Format(history_msg::FileNotSaved, file.string(), reason);
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

std::string CsvDocument(const RecordStore& store,
                        const std::array<std::string, kDetailRowCount>& captions,
                        TableLanguage language, const std::function<void(int percent)>& progress) {
    std::string text = CsvHeaderLine(captions);
    text.reserve(text.size() + store.size() * 140);
    for (std::size_t k = 0; k < store.size(); ++k) {
        text += CsvRecordLine(k, store[k], language);
        if (progress) progress(static_cast<int>(k * 100 / store.size()));
    }
    // Windows spreadsheets open a Chinese export in the system's code page.
    return language == TableLanguage::Chinese ? Utf8ToGbk(text) : text;
}

bool WriteCsvExport(const std::filesystem::path& file, const RecordStore& store,
                    const std::array<std::string, kDetailRowCount>& captions,
                    TableLanguage language, std::string* error,
                    const std::function<void(int percent)>& progress) {
    auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        return false;
    };
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec) return fail(ec.message());
    }
    const std::string bytes = CsvDocument(store, captions, language, progress);
    std::filesystem::path temporary = file;
    temporary.replace_filename("." + file.filename().string() + ".part");
    TemporaryFile out(temporary);
    if (!out.IsOpen()) return fail(std::strerror(errno));
    if (!out.WriteAll(bytes) || !out.Finish()) return fail(std::strerror(errno));
    if (!out.RenameTo(file)) return fail(std::strerror(errno));
    if (progress) progress(100);
    return true;
}

}  // namespace velmora
