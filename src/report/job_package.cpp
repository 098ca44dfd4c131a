#include "report/job_package.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <system_error>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/language.h"
#include "base/local_time.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "base/text_codec.h"
#include "base/zip_writer.h"
#include "jobs/closures_geojson.h"
#include "jobs/diagram_svg.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "report/job_report.h"

namespace velmora::report {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kClosureNameBytes = 100;
// The PDF is most of the work: its share of the progress, the rest by file.
constexpr int kPdfShare = 60;

std::string AsciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// A name Windows gives a device whatever its extension: "con", "Lpt1.txt".
bool IsDeviceName(std::string_view name) {
    const std::string stem = AsciiUpper(name.substr(0, name.find('.')));
    static const std::set<std::string> devices = {
        "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
        "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    return devices.contains(stem);
}

// Names in one folder of the package, unlike each other as Windows compares them
// (ignoring the case of ASCII letters): a second "Tray 1" becomes "Tray 1 (2)".
class NamesInFolder {
  public:
    std::string Take(const std::string& stem, std::string_view extension) {
        for (int n = 1;; ++n) {
            const std::string name =
                (n == 1 ? stem : stem + " (" + std::to_string(n) + ")") + std::string(extension);
            if (taken_.insert(AsciiUpper(name)).second) return name;
        }
    }

  private:
    std::set<std::string> taken_;
};

// One file of the package: its name in it, and how its bytes are written there.
struct Member {
    std::string name;  // '/' between folders
    // Nothing when the file is left out (an image that cannot be read).
    std::function<std::optional<FileWriteResult>(const fs::path& file)> write;
};

// An image left out, named once though the PDF may have found it missing too.
void Remember(std::vector<MissingImage>& missing, MissingImage image) {
    if (std::none_of(missing.begin(), missing.end(),
                     [&image](const MissingImage& m) { return m.name == image.name; }))
        missing.push_back(std::move(image));
}

FileWriteResult WriteBytes(const fs::path& file, std::string_view bytes) {
    return ReplaceFile(file, bytes);
}

// A scratch folder beside `target`, hidden and named so that no two packages share one.
std::optional<fs::path> MakeScratchFolder(const fs::path& target, std::string& reason) {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path scratch =
            target.parent_path() / PathFromText("." + PathText(target.filename()) + ".partial-" +
                                                std::to_string(random() % 1000000));
        if (fs::create_directory(scratch, ec)) return scratch;
        if (ec) break;
    }
    reason = ec ? ec.message() : "no scratch folder could be made";
    return std::nullopt;
}

// A target that can take the package: nothing there, or an empty folder.
bool TargetFree(const fs::path& target, PackageForm form) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (status.type() == fs::file_type::not_found) return true;
    return form == PackageForm::Folder && fs::is_directory(status) && fs::is_empty(target, ec) &&
           !ec;
}

// The members written in `folder` as one ZIP file `zip`, each under `top`/.
FileWriteResult ZipFolder(const fs::path& folder, const std::vector<std::string>& names,
                          const std::string& top, const fs::path& zip) {
    const std::tm now = LocalTime(std::time(nullptr));
    const DosStamp stamp = DosStampOf(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
                                      now.tm_min, now.tm_sec);
    std::ofstream out(zip, std::ios::binary | std::ios::trunc);
    if (!out) return {false, "the file could not be made"};
    ZipWriter writer(out, stamp.time, stamp.date);
    for (const std::string& name : names) {
        std::ifstream in(folder / PathFromText(name), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        if (!in && !in.eof()) return {false, name + " could not be read back"};
        if (!writer.Add(top + "/" + name, bytes)) return {false, writer.Error()};
    }
    if (!writer.Finish()) return {false, writer.Error()};
    out.close();
    return out ? FileWriteResult{true, {}}
               : FileWriteResult{false, "the file could not be written"};
}

// The files of the package, in the order they are written: the PDF is apart.
std::vector<Member> Members(const PackageSource& source, const PackageOptions& options,
                            std::vector<MissingImage>& missing) {
    const jobs::SpliceMatrix& matrix = source.matrix;
    const jobs::MatrixCaptions captions = jobs::LoadMatrixCaptions();
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    std::vector<Member> members;
    members.push_back({"matrix.xlsx", [&matrix, captions](const fs::path& file) {
                           return jobs::WriteMatrixXlsx(file, matrix, captions);
                       }});
    members.push_back({"matrix.csv", [&matrix, captions, language](const fs::path& file) {
                           return jobs::WriteMatrixCsv(file, matrix, captions, language);
                       }});
    members.push_back({"closures.geojson", [&matrix](const fs::path& file) {
                           return jobs::WriteClosuresGeoJson(file, matrix);
                       }});
    // "C-17 - Tray 1.svg": the closure's name cut short enough to leave the tray's.
    // The report's diagrams are each tray of each closure, in the matrix's order.
    NamesInFolder diagramNames;
    const std::vector<jobs::TrayDiagram>* diagrams =
        source.report.asBuilt ? &source.report.asBuilt->diagrams : nullptr;
    std::size_t next = 0;
    for (const jobs::MatrixClosure& closure : matrix.closures)
        for (const jobs::TrayInfo& tray : closure.trays) {
            if (!diagrams || next >= diagrams->size()) break;
            const std::string name =
                PortableFileName(closure.closure.details.name, kClosureNameBytes) + " - " +
                PortableFileName(FillNumbered(Text(keys::job_tab::TrayItem),
                                              {std::to_string(tray.details.number)}));
            members.push_back({"diagrams/" + diagramNames.Take(name, ".svg"),
                               [diagram = &(*diagrams)[next++]](const fs::path& file) {
                                   return WriteBytes(file, jobs::DiagramSvg({diagram, 1}));
                               }});
        }
    if (!options.images) return members;
    std::map<std::string, NamesInFolder> imageNames;  // by splicer folder
    for (const Image& image : source.report.images) {
        if (image.file.empty()) {
            Remember(missing, {image.name, ImageProblem::Missing});
            continue;
        }
        // <data folder>/FS/<splicer>/JPG/<name>: the splicer's folder keeps two
        // splicers' images of the same name apart.
        const std::string splicer =
            PortableFileName(PathText(image.file.parent_path().parent_path().filename()));
        const std::string name = PortableFileName(image.name);
        const std::size_t dot = name.rfind('.');
        const bool extension = dot != 0 && dot != std::string::npos;
        const std::string unique = imageNames[splicer].Take(
            name.substr(0, extension ? dot : std::string::npos),
            extension ? std::string_view(name).substr(dot) : std::string_view());
        // Read only when written, so that the images are never all in memory at once.
        members.push_back(
            {"images/" + splicer + "/" + unique,
             [&image, &missing](const fs::path& file) -> std::optional<FileWriteResult> {
                 const ImageRead read = ReadImage(image);
                 if (read.problem == ImageProblem::None) return WriteBytes(file, read.bytes);
                 Remember(missing, {image.name, read.problem});
                 return std::nullopt;
             }});
    }
    return members;
}

}  // namespace

std::string PortableFileName(std::string_view name, std::size_t maxBytes) {
    std::string safe = ValidUtf8(name);
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F ||
            std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    }
    if (safe.size() > maxBytes) {
        std::size_t cut = maxBytes;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;
        safe.resize(cut);
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
    for (char& c : safe) {
        if (c != '.') break;
        c = '_';
    }
    if (safe.empty()) return "unnamed";
    return IsDeviceName(safe) ? "_" + safe : safe;
}

std::optional<PackageSource> LoadPackageSource(const fs::path& dataFolder, const std::string& name,
                                               const Limits& defaults, std::string* error) {
    const std::unique_ptr<archive::Archive> opened = OpenArchiveToReport(dataFolder, error);
    if (!opened) return std::nullopt;
    std::optional<jobs::SpliceMatrix> matrix = jobs::ReadMatrix(*opened, name, defaults);
    if (!matrix) {
        if (error)
            *error = opened->LastError().code == archive::ErrorCode::NotFound
                         ? jobs::RefusalText({.refusal = jobs::Refusal::NoSuchJob, .detail = name})
                         : archive::ArchiveErrorText(opened->LastError());
        return std::nullopt;
    }
    std::optional<Report> report = JobReportOf(*opened, *matrix, dataFolder, error);
    if (!report) return std::nullopt;
    return PackageSource{std::move(*matrix), std::move(*report)};
}

PackageForm PackageFormOf(const fs::path& target) {
    return AsciiUpper(PathText(target.extension())) == ".ZIP" ? PackageForm::Zip
                                                              : PackageForm::Folder;
}

fs::path FreePackageTarget(const fs::path& folder, std::string_view job, PackageForm form) {
    const std::string stem = PortableFileName(job);
    const std::string extension = form == PackageForm::Zip ? ".zip" : "";
    for (int n = 1;; ++n) {
        const fs::path target =
            folder /
            PathFromText((n == 1 ? stem : stem + " (" + std::to_string(n) + ")") + extension);
        std::error_code ec;
        if (fs::symlink_status(target, ec).type() == fs::file_type::not_found) return target;
    }
}

PackageResult WritePackage(const PackageSource& source, const fs::path& asked,
                           const PackageOptions& options, const PdfMaker& pdf,
                           const Progress& progress, std::stop_token stop) {
    // "out/" names the folder "out".
    const fs::path target = asked.has_filename() ? asked : asked.parent_path();
    PackageResult result{.target = target};
    const PackageForm form = PackageFormOf(target);
    auto report = [&progress](int percent) {
        if (progress) progress(percent);
    };
    if (!TargetFree(target, form)) {
        result.outcome = PackageOutcome::TargetTaken;
        return result;
    }
    std::optional<fs::path> scratch = MakeScratchFolder(target, result.reason);
    if (!scratch) {
        result.file = PathText(target);
        return result;
    }
    // Whatever happens below, the scratch folder goes; the target exists only once whole.
    struct Remover {
        fs::path folder;
        ~Remover() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } remover{*scratch};
    const fs::path root = form == PackageForm::Zip ? *scratch / "package" : *scratch;

    try {
        std::error_code ec;
        fs::create_directories(root, ec);
        const std::optional<std::string> document = pdf(
            source.report, [&report](int percent) { report(percent * kPdfShare / 100); },
            &result.missingImages, stop);
        if (stop.stop_requested()) return {.outcome = PackageOutcome::Cancelled, .target = target};
        if (!document) return {.outcome = PackageOutcome::PdfFailed, .target = target};
        std::vector<Member> members = Members(source, options, result.missingImages);
        members.insert(members.begin(), Member{"report.pdf", [&document](const fs::path& file) {
                                                   return WriteBytes(file, *document);
                                               }});
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (stop.stop_requested())
                return {.outcome = PackageOutcome::Cancelled, .target = target};
            const fs::path file = root / PathFromText(members[i].name);
            fs::create_directories(file.parent_path(), ec);
            const std::optional<FileWriteResult> written =
                ec ? FileWriteResult{false, ec.message()} : members[i].write(file);
            if (!written) continue;
            if (!written->ok)
                return {.outcome = PackageOutcome::NotWritten,
                        .target = target,
                        .file = members[i].name,
                        .reason = written->reason};
            result.files.push_back(members[i].name);
            report(kPdfShare + static_cast<int>((100 - kPdfShare) * (i + 1) / members.size()));
        }
        fs::path finished = root;
        if (form == PackageForm::Zip) {
            finished = *scratch / "package.zip";
            const FileWriteResult zipped = ZipFolder(
                root, result.files, PortableFileName(source.matrix.job.details.name), finished);
            if (!zipped.ok)
                return {.outcome = PackageOutcome::NotWritten,
                        .target = target,
                        .file = PathText(target.filename()),
                        .reason = zipped.reason};
        }
        // Checked again: something may have come in its place while the package was
        // being made. An empty folder is taken, never one with anything in it.
        if (!TargetFree(target, form))
            return {.outcome = PackageOutcome::TargetTaken, .target = target};
        if (form == PackageForm::Folder) fs::remove(target, ec);
        fs::rename(finished, target, ec);
        if (ec)
            return {.outcome = PackageOutcome::NotWritten,
                    .target = target,
                    .file = PathText(target.filename()),
                    .reason = ec.message()};
    } catch (const std::exception& e) {
        // Out of memory or a file system refusal: told, never a half-written package.
        return {.outcome = PackageOutcome::NotWritten, .target = target, .reason = e.what()};
    }
    report(100);
    result.outcome = PackageOutcome::Written;
    return result;
}

std::string PackageOutcomeText(const PackageResult& result) {
    namespace h = keys::handover;
    const std::string target = PathText(result.target);
    switch (result.outcome) {
        case PackageOutcome::Written:
            return FillNumbered(Text(h::Written), {target});
        case PackageOutcome::Cancelled:
            return Text(h::Cancelled);
        case PackageOutcome::TargetTaken:
            return FillNumbered(Text(h::TargetTaken), {target});
        case PackageOutcome::PdfFailed:
            return Text(h::PdfFailed);
        case PackageOutcome::NotWritten:
            break;
    }
    return FillNumbered(Text(h::NotWritten),
                        {result.file.empty() ? target : result.file, result.reason});
}

}  // namespace velmora::report
