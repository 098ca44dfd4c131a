// The PDF writer module loaded with dlopen: beside the program (a build folder, an
// unpacked copy) or where the package installs it (<prefix>/lib/velmora/modules).
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>

#include "base/path_text.h"
#include "base/user_folders.h"
#include "cli/report_pdf.h"
#include "report/report_pdf_module.h"

namespace velmora::cli {
namespace {

// The module's function `name`, from the first module that has it; null after
// saying why none could give it.
void* LoadEntry(const char* name) {
    const std::filesystem::path program = ProgramFolder();
    std::string reasons;
    for (const std::filesystem::path& file :
         {program / report::kPdfModuleFile,
          (program / ".." / "lib" / "velmora" / "modules" / report::kPdfModuleFile)
              .lexically_normal()}) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec)) continue;
        // Kept loaded for the rest of the run: Qt is never unloaded safely.
        void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            reasons += std::string("; ") + ::dlerror();
            continue;
        }
        if (void* entry = ::dlsym(module, name)) return entry;
        reasons += "; " + PathText(file) + " is of another version";
    }
    std::fprintf(stderr, "velmora-cli: the PDF writer (%s) cannot be loaded%s\n",
                 report::kPdfModuleFile,
                 reasons.empty() ? ": it is not installed" : reasons.c_str());
    return nullptr;
}

}  // namespace

std::optional<std::string> MakePdf(const report::Report& report, const report::Progress& progress,
                                   std::vector<report::MissingImage>* missingImages,
                                   std::stop_token stop) {
    static const auto entry =
        reinterpret_cast<report::PdfModuleEntry>(LoadEntry(report::kPdfModuleEntry));
    if (!entry) return std::nullopt;
    report::PdfModuleJob job{&report, &progress, missingImages, std::move(stop), std::nullopt};
    entry(job);
    return std::move(job.document);
}

std::optional<std::string> MakeDiagramPng(std::span<const jobs::TrayDiagram> diagrams, double width,
                                          double scale) {
    static const auto entry =
        reinterpret_cast<report::DiagramPngEntry>(LoadEntry(report::kDiagramPngEntry));
    if (!entry) return std::nullopt;
    report::DiagramPngJob job{diagrams, width, scale, std::nullopt};
    entry(job);
    if (!job.png) std::fprintf(stderr, "velmora-cli: the diagram could not be drawn\n");
    return std::move(job.png);
}

}  // namespace velmora::cli
