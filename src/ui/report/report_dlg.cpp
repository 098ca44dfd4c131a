#include "ui/report/report_dlg.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "base/app_config.h"
#include "base/path_text.h"
#include "history/history_texts.h"
#include "jobs/jobs_texts.h"
#include "report/job_report.h"
#include "report/report_texts.h"
#include "settings/device_folder.h"
#include "ui/app/message_box.h"
#include "ui/app/page_dlg.h"
#include "ui/app/qt_text.h"
#include "ui/report/report_render.h"

namespace velmora::ui {
namespace {

using report::Caption;

QString Cap(report::Caption caption) {
    return Q(report::kCaptionKeys[static_cast<std::size_t>(caption)]);
}

// The file the save dialog proposes: the job's name (or the title) in the data folder,
// cut short enough for any file system.
QString ProposedFile(const std::filesystem::path& dataFolder,
                     const std::optional<std::string>& job) {
    constexpr qsizetype kNameLength = 80;
    QString name = job && !job->empty() ? Q(SafeFolderName(*job)) : Cap(Caption::Title);
    if (name.size() > kNameLength)
        name.truncate(name.at(kNameLength - 1).isHighSurrogate() ? kNameLength - 1 : kNameLength);
    return TextOf(dataFolder / PathOf(name + QStringLiteral(".pdf")));
}

// A chosen name without .pdf or .html gets the one of the chosen file type.
QString WithExtension(QString file, const QString& chosenFilter) {
    if (report::FormatOf(PathOf(file))) return file;
    return file + (chosenFilter.contains(QLatin1String("html")) ? QStringLiteral(".html")
                                                                : QStringLiteral(".pdf"));
}

// The file the report goes to, asked; empty when cancelled.
std::filesystem::path AskReportFile(QWidget* parent, const QString& title,
                                    const std::optional<std::string>& job) {
    QString chosenFilter;
    const QString file =
        QFileDialog::getSaveFileName(parent, title, ProposedFile(Config().AppDirectory, job),
                                     QStringLiteral("PDF (*.pdf);;HTML (*.html)"), &chosenFilter);
    if (file.isEmpty()) return {};
    return PathOf(WithExtension(file, chosenFilter));
}

// Shows the report's window and starts the writing. Not modal: the window goes on
// while the report is written, and closing it stops the report.
void StartReport(CReportDlg* dialog) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    dialog->Start();
}

}  // namespace

QString ReportButtonText() {
    return Cap(Caption::Button);
}

std::optional<Limits> AskReportLimits(QWidget* parent, const Limits& preset, const QString& note,
                                      bool editable) {
    QDialog dialog(parent);
    dialog.setWindowTitle(Cap(Caption::Limits));
    auto* loss = new QDoubleSpinBox(&dialog);
    loss->setDecimals(kLossLimits.decimals);
    loss->setRange(NumberValue(kLossLimits.min, kLossLimits.decimals),
                   NumberValue(kLossLimits.max, kLossLimits.decimals));
    loss->setSingleStep(0.01);
    loss->setValue(preset.maxLoss / 100.0);
    auto* angle = new QDoubleSpinBox(&dialog);
    angle->setDecimals(kAngleLimits.decimals);
    angle->setRange(NumberValue(kAngleLimits.min, kAngleLimits.decimals),
                    NumberValue(kAngleLimits.max, kAngleLimits.decimals));
    angle->setSingleStep(0.1);
    angle->setValue(preset.maxAngle / 10.0);
    loss->setReadOnly(!editable);
    angle->setReadOnly(!editable);
    auto* form = new QFormLayout;
    if (!note.isEmpty()) {
        auto* said = new QLabel(note, &dialog);
        said->setWordWrap(true);
        form->addRow(said);
    }
    form->addRow(Cap(Caption::MaxLoss), loss);
    form->addRow(Cap(Caption::MaxAngle), angle);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return Limits{static_cast<int>(std::lround(loss->value() * 100)),
                  static_cast<int>(std::lround(angle->value() * 10))};
}

void ReportOnArchive(QWidget* parent, const archive::RecordFilter& filter, std::size_t shown,
                     const std::filesystem::path& archiveFolder) {
    if (shown == 0) {
        ShowMessage(parent, Q(report::report_msg::NothingSelected), Q(msg::CaptionInfo),
                    MsgButtons::Ok, MsgIcon::Exclamation);
        return;
    }
    const std::filesystem::path dataFolder = Config().AppDirectory;
    const std::optional<Limits> limits = AskReportLimits(parent, report::LoadLimits(dataFolder));
    if (!limits) return;
    std::string reason;
    if (!report::SaveLimits(dataFolder, *limits, &reason))
        ShowMessage(parent, Q(FileNotSavedText(report::LimitsFile(dataFolder), reason)),
                    Q(msg::CaptionInfo), MsgButtons::Ok, MsgIcon::Exclamation);

    const std::filesystem::path file = AskReportFile(parent, Cap(Caption::Title), filter.job);
    if (file.empty()) return;
    StartReport(new CReportDlg(parent, filter, *limits, file, archiveFolder));
}

void ReportOnJob(QWidget* parent, archive::ArchiveWriter* writer, const jobs::JobDetails& job,
                 const std::filesystem::path& archiveFolder) {
    // The job's own limits, this PC's remembered ones where it sets none.
    const Limits defaults = report::LoadLimits(Config().AppDirectory);
    const Limits shown{job.limits.maxLoss.value_or(defaults.maxLoss),
                       job.limits.maxAngle.value_or(defaults.maxAngle)};
    const std::optional<Limits> limits =
        AskReportLimits(parent, shown, Cap(writer ? Caption::JobLimits : Caption::JobLimitsFixed),
                        writer != nullptr);
    if (!limits) return;
    const QString title = Cap(Caption::JobTitle);
    const std::filesystem::path file = AskReportFile(parent, title, job.name);
    if (file.empty()) return;
    // A limit changed becomes the job's own; one left as shown stays as the job has it.
    jobs::JobDetails changed = job;
    if (limits->maxLoss != shown.maxLoss) changed.limits.maxLoss = limits->maxLoss;
    if (limits->maxAngle != shown.maxAngle) changed.limits.maxAngle = limits->maxAngle;
    const std::string name = job.name;
    auto start = [parent, name, defaults, file, archiveFolder, title] {
        StartReport(new CReportDlg(
            parent,
            [name, defaults, archiveFolder](std::string* error) {
                return report::LoadJobReport(archiveFolder, name, defaults, error);
            },
            file, title));
    };
    if (!writer || changed.limits == job.limits) return start();
    // Written first, on the archive's thread; the report then reads the job as written.
    writer->Post([page = QPointer(parent), name, changed, start](
                     archive::Archive* archive, const archive::ArchiveError& error) {
        jobs::JobResult result{.error = error};
        if (archive) result = jobs::JobStore(*archive).EditJob(name, changed);
        QMetaObject::invokeMethod(
            qApp,
            [page, result, start] {
                if (!page) return;
                if (result.ok()) return start();
                ShowMessage(page, Q(jobs::RefusalText(result)), Q(msg::CaptionInfo), MsgButtons::Ok,
                            MsgIcon::Exclamation);
            },
            Qt::QueuedConnection);
    });
}

ReportJob::ReportJob(QObject* parent, ReportLoader load, std::filesystem::path file)
    : QObject(parent), load_(std::move(load)), file_(std::move(file)) {}

ReportJob::~ReportJob() {
    {
        // No call is handed over once this holds: the thread may then run to its end.
        std::lock_guard lock(postMutex_);
        deleting_ = true;
    }
    cancel_.request_stop();
    if (thread_.joinable()) thread_.join();
}

void ReportJob::Cancel() {
    cancel_.request_stop();
}

void ReportJob::Post(std::function<void()> call) {
    std::lock_guard lock(postMutex_);
    if (deleting_) return;
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void ReportJob::Start() {
    running_ = true;
    thread_ = std::jthread([this, stop = cancel_.get_token()] {
        report::WriteResult result;
        QStringList missing;
        try {
            const std::optional<report::Report> made = load_(&result.error);
            if (made) {
                result = report::WriteReport(
                    file_, *made,
                    [this](int percent) { Post([this, percent] { emit progressed(percent); }); },
                    stop);
                for (const report::MissingImage& image : result.missingImages)
                    missing << Q(report::MissingImageText(*made, image));
            }
        } catch (const std::exception& e) {
            // Out of memory, say: told like any other failure, never a crash of the window.
            result = {false, false, e.what(), {}};
        }
        const bool cancelled = result.cancelled;
        const QString failure = result.ok || cancelled ? QString() : Q(result.error);
        Post([this, cancelled, failure, missing] {
            running_ = false;
            emit finished(cancelled, failure, missing);
        });
    });
}

CReportDlg::CReportDlg(QWidget* parent, archive::RecordFilter filter, Limits limits,
                       std::filesystem::path file, std::filesystem::path dataFolder)
    : CReportDlg(
          parent,
          [filter = std::move(filter), limits, dataFolder = std::move(dataFolder)](
              std::string* error) { return report::LoadReport(dataFolder, filter, limits, error); },
          std::move(file), Cap(Caption::Title)) {}

CReportDlg::CReportDlg(QWidget* parent, ReportLoader load, std::filesystem::path file,
                       const QString& title)
    : QDialog(parent),
      file_(file),
      opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      openFolder_(Cap(Caption::OpenFolder)),
      cancel_(Q(kCancelButtonText)),
      close_(Cap(Caption::Close)),
      job_(this, std::move(load), std::move(file)) {
    setWindowTitle(title);
    setMinimumWidth(460);
    status_.setText(Cap(Caption::Writing));
    for (QLabel* label : {&status_, &notes_}) {
        label->setWordWrap(true);
        // The path can be copied where no program opens it.
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    notes_.hide();
    progress_.setRange(0, 100);
    progress_.setValue(0);
    openFolder_.hide();
    close_.hide();
    buttons_.addStretch(1);
    buttons_.addWidget(&openFolder_);
    buttons_.addWidget(&cancel_);
    buttons_.addWidget(&close_);
    layout_.addWidget(&status_);
    layout_.addWidget(&progress_);
    layout_.addWidget(&notes_);
    layout_.addLayout(&buttons_);
    setLayout(&layout_);

    connect(&cancel_, &QPushButton::clicked, this, [this] {
        cancel_.setEnabled(false);
        job_.Cancel();
    });
    connect(&close_, &QPushButton::clicked, this, &QDialog::close);
    connect(&openFolder_, &QPushButton::clicked, this, &CReportDlg::OpenFolder);
    connect(&job_, &ReportJob::progressed, &progress_, &QProgressBar::setValue);
    connect(&job_, &ReportJob::finished, this, &CReportDlg::OnFinished);
}

CReportDlg::~CReportDlg() = default;

void CReportDlg::Start() {
    job_.Start();
}

void CReportDlg::Stop() {
    job_.Cancel();
    close();
}

void CReportDlg::reject() {
    // Escape or the title bar's close while writing: the report is abandoned.
    job_.Cancel();
    QDialog::reject();
}

void CReportDlg::OnFinished(bool cancelled, const QString& error,
                            const QStringList& missingImages) {
    progress_.hide();
    cancel_.hide();
    close_.show();
    close_.setDefault(true);
    if (cancelled) {
        status_.setText(Q(report::report_msg::Cancelled));
    } else if (!error.isEmpty()) {
        status_.setText(error);
    } else {
        status_.setText(Q(Say(report::report_msg::Written, {PathText(file_)})));
        openFolder_.show();
        if (!missingImages.isEmpty())
            AddNote(Q(report::report_msg::ImagesLeftOut) + QLatin1Char('\n') +
                    missingImages.join(QLatin1Char('\n')));
        if (!opener_(QUrl::fromLocalFile(TextOf(file_))))
            AddNote(Q(Say(report::report_msg::CannotShow, {PathText(file_)})));
    }
    FitHeight();
}

void CReportDlg::OpenFolder() {
    const std::filesystem::path folder = file_.parent_path();
    if (!opener_(QUrl::fromLocalFile(TextOf(folder))))
        AddNote(Q(Say(report::report_msg::CannotShow, {PathText(folder)})));
}

void CReportDlg::AddNote(const QString& note) {
    if (notes_.text().contains(note)) return;
    notes_.setText(notes_.text().isEmpty() ? note : notes_.text() + QStringLiteral("\n\n") + note);
    notes_.show();
    FitHeight();
}

void CReportDlg::FitHeight() {
    // Wrapped texts need the height they take at this width, and no more.
    layout_.activate();
    resize(width(), layout_.totalHeightForWidth(width()));
}

}  // namespace velmora::ui
