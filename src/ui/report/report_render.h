#pragma once
// Writing a splice report in the format its file name asks for: PDF through Qt's
// own PDF writer (fonts embedded, a Chinese one included), HTML through the core.
// The header is free of Qt, so the command-line tool includes it like any core header.
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>

#include "report/report_data.h"

namespace velmora::report {

// Writes `report` to `file` (.pdf or .html), replacing any file there only once the
// new one is complete; on failure, or when `stop` is requested first, nothing is
// left behind and a file already there stays as it was. Needs a QGuiApplication for
// a PDF (see GuiForReport). May run on any thread.
WriteResult WriteReport(const std::filesystem::path& file, const Report& report,
                        const Progress& progress = {}, std::stop_token stop = {});

// The whole PDF document in memory; nothing when the writer fails or `stop` is requested.
std::optional<std::string> PdfDocument(const Report& report, const Progress& progress,
                                       std::vector<MissingImage>* missingImages,
                                       std::stop_token stop = {});

// The application object that text layout and the PDF writer need, for a program
// that has none (the command-line tool); does nothing where one exists. Without a
// display it runs on the offscreen platform (on Linux, unless QT_QPA_PLATFORM says
// otherwise).
class GuiForReport {
  public:
    GuiForReport();
    ~GuiForReport();
    GuiForReport(const GuiForReport&) = delete;
    GuiForReport& operator=(const GuiForReport&) = delete;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace velmora::report
