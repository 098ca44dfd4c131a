#include "ui/jobs/handover_dlg.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMetaObject>
#include <QStandardPaths>

#include "base/app_config.h"
#include "base/path_text.h"
#include "history/history_texts.h"
#include "jobs/closures_geojson.h"
#include "jobs/diagram_svg.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_texts.h"
#include "jobs/matrix_xlsx.h"
#include "report/job_package.h"
#include "report/report_texts.h"
#include "ui/app/page_dlg.h"
#include "ui/app/qt_text.h"
#include "ui/report/report_render.h"

namespace velmora::ui {
namespace {

namespace h = keys::handover;

QString Cap(report::Caption caption) {
    return Q(report::kCaptionKeys[static_cast<std::size_t>(caption)]);
}

}  // namespace

std::filesystem::path HandoverFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return PathOf(documents.isEmpty() ? QDir::homePath() : documents);
}

namespace {

struct FileKind {
    const TextKey& caption;
    const char* extension;
    const char* filter;
};
const FileKind& KindOf(JobFile file) {
    static const FileKind kinds[] = {{h::MenuXlsx, ".xlsx", "XLSX (*.xlsx)"},
                                     {h::MenuCsv, ".csv", "CSV (*.csv)"},
                                     {h::MenuGeoJson, ".geojson", "GeoJSON (*.geojson)"},
                                     {h::MenuDiagram, ".svg", "SVG (*.svg)"}};
    return kinds[static_cast<std::size_t>(file)];
}

}  // namespace

std::filesystem::path AskJobFilePath(QWidget* parent, const jobs::SpliceMatrix& matrix,
                                     JobFile file, const jobs::MatrixClosure* closure) {
    const FileKind& kind = KindOf(file);
    const std::string name =
        report::PortableFileName(file == JobFile::Diagram && closure ? closure->closure.details.name
                                                                     : matrix.job.details.name);
    QString chosen = QFileDialog::getSaveFileName(
        parent, Q(kind.caption).remove(QStringLiteral("...")),
        TextOf(HandoverFolder() / PathFromText(name + kind.extension)), Q(kind.filter));
    if (chosen.isEmpty()) return {};
    if (!chosen.endsWith(Q(kind.extension), Qt::CaseInsensitive)) chosen += Q(kind.extension);
    return PathOf(chosen);
}

QString WriteJobFile(const jobs::SpliceMatrix& matrix, JobFile file,
                     const jobs::MatrixClosure* closure, const std::filesystem::path& path) {
    if (file == JobFile::Diagram && !closure) return Q(keys::job_tab::ChooseClosure);
    const jobs::MatrixCaptions captions = jobs::LoadMatrixCaptions();
    FileWriteResult written;
    switch (file) {
        case JobFile::Xlsx:
            written = jobs::WriteMatrixXlsx(path, matrix, captions);
            break;
        case JobFile::Csv:
            written = jobs::WriteMatrixCsv(path, matrix, captions,
                                           TableLanguageFor(Config().EnglishFlag));
            break;
        case JobFile::GeoJson:
            written = jobs::WriteClosuresGeoJson(path, matrix);
            break;
        case JobFile::Diagram: {
            const std::vector<jobs::TrayDiagram> diagrams =
                jobs::MakeTrayDiagrams(*closure, jobs::LoadDiagramTexts(captions));
            if (diagrams.empty()) return Q(jobs::NoTraysText(closure->closure.details.name));
            written = ReplaceFile(path, jobs::DiagramSvg(diagrams));
            break;
        }
    }
    return written.ok ? Q(FillNumbered(Text(keys::job_tab::Saved), {PathText(path)}))
                      : Q(FileNotSavedText(path, written.reason));
}

CHandoverDlg::CHandoverDlg(QWidget* parent, const jobs::SpliceMatrix& matrix,
                           std::filesystem::path dataFolder, Limits defaults,
                           std::filesystem::path folder)
    : QDialog(parent),
      job_(matrix.job.details.name),
      dataFolder_(std::move(dataFolder)),
      defaults_(defaults),
      opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      browse_(Q(keys::team_window::Browse)),
      asFolder_(Q(h::AsFolder)),
      zip_(Q(h::AsZip)),
      images_(Q(h::Images)),
      write_(Q(h::Write)),
      openFolder_(Cap(report::Caption::OpenFolder)),
      cancel_(Q(kCancelButtonText)),
      close_(Cap(report::Caption::Close)) {
    setWindowTitle(Q(h::Title) + QStringLiteral(": ") + Q(job_));
    setMinimumWidth(520);
    // The verdict in the words of the Jobs tree and the report's first page.
    const jobs::JobVerdict verdict = jobs::JudgeJob(matrix);
    verdict_.setText(Q(jobs::LoadMatrixCaptions().Verdict(verdict)));
    QFont bold = verdict_.font();
    bold.setBold(true);
    verdict_.setFont(bold);
    note_.setText(Q(h::NotPassed));
    note_.setVisible(verdict.state != jobs::JobState::Passed);
    for (QLabel* label : {&verdict_, &note_, &where_, &status_}) {
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    folderText_.setReadOnly(true);
    asFolder_.setChecked(true);
    progress_.setRange(0, 100);
    progress_.hide();
    status_.hide();
    openFolder_.hide();
    close_.hide();
    write_.setDefault(true);

    form_.addWidget(new QLabel(Q(h::Into), this), 0, 0);
    form_.addWidget(&folderText_, 0, 1);
    form_.addWidget(&browse_, 0, 2);
    form_.addWidget(&asFolder_, 1, 1);
    form_.addWidget(&zip_, 2, 1);
    form_.addWidget(&images_, 3, 1);
    form_.setColumnStretch(1, 1);
    buttons_.addStretch(1);
    for (QPushButton* button : {&write_, &openFolder_, &cancel_, &close_})
        buttons_.addWidget(button);
    layout_.addWidget(&verdict_);
    layout_.addWidget(&note_);
    layout_.addLayout(&form_);
    layout_.addWidget(&where_);
    layout_.addWidget(&progress_);
    layout_.addWidget(&status_);
    layout_.addLayout(&buttons_);
    setLayout(&layout_);

    connect(&browse_, &QPushButton::clicked, this, [this] { Browse(); });
    connect(&zip_, &QRadioButton::toggled, this, [this] { ShowTarget(); });
    connect(&write_, &QPushButton::clicked, this, [this] { Start(); });
    connect(&cancel_, &QPushButton::clicked, this, [this] {
        if (!running_) return reject();
        cancel_.setEnabled(false);
        stop_.request_stop();
    });
    connect(&close_, &QPushButton::clicked, this, &QDialog::close);
    connect(&openFolder_, &QPushButton::clicked, this, [this] {
        const std::filesystem::path folder =
            report::PackageFormOf(target_) == report::PackageForm::Zip ? target_.parent_path()
                                                                       : target_;
        if (!opener_(QUrl::fromLocalFile(TextOf(folder))))
            status_.setText(status_.text() + QLatin1Char('\n') +
                            Q(Say(report::report_msg::CannotShow, {PathText(folder)})));
    });
    connect(this, &CHandoverDlg::progressed, &progress_, &QProgressBar::setValue);
    SetFolder(folder);
}

CHandoverDlg::~CHandoverDlg() {
    {
        std::lock_guard lock(postMutex_);
        closing_ = true;
    }
    stop_.request_stop();
    if (thread_.joinable()) thread_.join();
}

void CHandoverDlg::SetFolder(const std::filesystem::path& folder) {
    folder_ = folder;
    folderText_.setText(TextOf(folder));
    ShowTarget();
}

void CHandoverDlg::ShowTarget() {
    if (running_) return;
    target_ = report::FreePackageTarget(
        folder_, job_, zip_.isChecked() ? report::PackageForm::Zip : report::PackageForm::Folder);
    where_.setText(Q(FillNumbered(Text(h::WritesTo), {PathText(target_)})));
}

void CHandoverDlg::Browse() {
    const QString chosen = QFileDialog::getExistingDirectory(this, Q(h::Into), folderText_.text());
    if (!chosen.isEmpty()) SetFolder(PathOf(chosen));
}

void CHandoverDlg::Post(std::function<void()> call) {
    std::lock_guard lock(postMutex_);
    if (closing_) return;
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CHandoverDlg::Start() {
    if (running_) return;
    ShowTarget();  // a name taken meanwhile moves it on to the next free one
    running_ = true;
    for (QWidget* input : {static_cast<QWidget*>(&browse_), static_cast<QWidget*>(&asFolder_),
                           static_cast<QWidget*>(&zip_), static_cast<QWidget*>(&images_),
                           static_cast<QWidget*>(&write_)})
        input->setEnabled(false);
    progress_.setValue(0);
    progress_.show();
    close_.hide();
    openFolder_.hide();
    cancel_.setEnabled(true);
    cancel_.show();
    status_.setText(Q(h::Writing));
    status_.show();
    const report::PackageOptions options{.images = images_.isChecked()};
    thread_ = std::jthread([this, options, target = target_, stop = stop_.get_token()] {
        report::PackageResult result{.target = target};
        QStringList missing;
        std::string error;
        try {
            const std::optional<report::PackageSource> source =
                report::LoadPackageSource(dataFolder_, job_, defaults_, &error);
            if (source) {
                result = report::WritePackage(
                    *source, target, options, report::PdfDocument,
                    [this](int percent) { Post([this, percent] { emit progressed(percent); }); },
                    stop);
                for (const report::MissingImage& image : result.missingImages)
                    missing << Q(report::MissingImageText(source->report, image));
            }
        } catch (const std::exception& e) {
            error = e.what();
        }
        const bool ok = error.empty() && result.ok();
        const QString text = error.empty() ? Q(report::PackageOutcomeText(result)) : Q(error);
        Post([this, ok, text, missing] { OnFinished(ok, text, missing); });
    });
}

void CHandoverDlg::OnFinished(bool ok, const QString& text, const QStringList& missingImages) {
    running_ = false;
    progress_.hide();
    cancel_.hide();
    close_.show();
    close_.setDefault(true);
    QString shown = text;
    if (!missingImages.isEmpty())
        shown += QStringLiteral("\n\n") + Q(h::ImagesLeftOut) + QLatin1Char('\n') +
                 missingImages.join(QLatin1Char('\n'));
    status_.setText(shown);
    openFolder_.setVisible(ok);
    if (!ok) {
        // Nothing was written: the choices may be changed and tried again.
        for (QWidget* input : {static_cast<QWidget*>(&browse_), static_cast<QWidget*>(&asFolder_),
                               static_cast<QWidget*>(&zip_), static_cast<QWidget*>(&images_),
                               static_cast<QWidget*>(&write_)})
            input->setEnabled(true);
        if (thread_.joinable()) thread_.join();
        stop_ = std::stop_source();
        ShowTarget();
    }
}

void CHandoverDlg::reject() {
    // Escape or the title bar's close while writing: the package is abandoned.
    stop_.request_stop();
    QDialog::reject();
}

}  // namespace velmora::ui
