#include "report/report_dlg.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QProgressDialog>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "app/message_box.h"
#include "app/qt_text.h"
#include "base/app_config.h"
#include "history/history_texts.h"
#include "report/report_render.h"
#include "report/report_texts.h"
#include "settings/device_folder.h"

namespace velmora::ui {
namespace {

using report::Caption;

QString Cap(report::Caption caption) {
    return Q(report::kCaptionKeys[static_cast<std::size_t>(caption)]);
}

// A path from a file dialog and back, by UTF-16, so that a name of any language
// survives on Windows too (a narrow string there is the ANSI code page).
std::filesystem::path PathOf(const QString& file) {
    return std::filesystem::path(file.toStdU16String());
}
QString TextOf(const std::filesystem::path& file) {
    return QString::fromStdU16String(file.u16string());
}

// The file the save dialog proposes: the job's name (or the title) in the data folder.
QString ProposedFile(const std::filesystem::path& dataFolder, const archive::RecordFilter& filter) {
    const QString name =
        filter.job && !filter.job->empty() ? Q(SafeFolderName(*filter.job)) : Cap(Caption::Title);
    return TextOf(dataFolder / PathOf(name + QStringLiteral(".pdf")));
}

// A chosen name without .pdf or .html gets the one of the chosen file type.
QString WithExtension(QString file, const QString& chosenFilter) {
    if (report::FormatOf(PathOf(file))) return file;
    return file + (chosenFilter.contains(QLatin1String("html")) ? QStringLiteral(".html")
                                                                : QStringLiteral(".pdf"));
}

}  // namespace

QString ReportButtonText() {
    return Cap(Caption::Button);
}

std::optional<report::Limits> AskReportLimits(QWidget* parent, const report::Limits& preset) {
    QDialog dialog(parent);
    dialog.setWindowTitle(Cap(Caption::Limits));
    auto* loss = new QDoubleSpinBox(&dialog);
    loss->setDecimals(2);
    loss->setRange(0, report::kLimitCap / 100.0);
    loss->setSingleStep(0.01);
    loss->setValue(preset.maxLoss / 100.0);
    auto* angle = new QDoubleSpinBox(&dialog);
    angle->setDecimals(1);
    angle->setRange(0, 90);
    angle->setSingleStep(0.1);
    angle->setValue(preset.maxAngle / 10.0);
    auto* form = new QFormLayout;
    form->addRow(Cap(Caption::MaxLoss), loss);
    form->addRow(Cap(Caption::MaxAngle), angle);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return report::Limits{static_cast<int>(std::lround(loss->value() * 100)),
                          static_cast<int>(std::lround(angle->value() * 10))};
}

void ReportOnArchive(QWidget* parent, const archive::RecordFilter& filter) {
    const std::filesystem::path dataFolder = Config().AppDirectory;
    const std::optional<report::Limits> limits =
        AskReportLimits(parent, report::LoadLimits(dataFolder));
    if (!limits) return;
    std::string reason;
    if (!report::SaveLimits(dataFolder, *limits, &reason))
        ShowMessage(parent, Q(FileNotSavedText(report::LimitsFile(dataFolder), reason)),
                    Q(msg::CaptionInfo), MsgButtons::Ok, MsgIcon::Exclamation);

    QString chosenFilter;
    QString file =
        QFileDialog::getSaveFileName(parent, Cap(Caption::Title), ProposedFile(dataFolder, filter),
                                     QStringLiteral("PDF (*.pdf);;HTML (*.html)"), &chosenFilter);
    if (file.isEmpty()) return;
    file = WithExtension(file, chosenFilter);

    auto* job = new ReportJob(parent, filter, *limits, PathOf(file), dataFolder);
    QObject::connect(
        job, &ReportJob::finished, job,
        [job](const QString& written, const QString& error, const QStringList& missing) {
            QWidget* owner = qobject_cast<QWidget*>(job->parent());
            if (!error.isEmpty()) {
                ShowMessage(owner, error, Q(msg::CaptionInfo), MsgButtons::Ok,
                            MsgIcon::Exclamation);
            } else {
                if (!missing.isEmpty())
                    ShowMessage(owner,
                                Q(report::SayWith(report::report_msg::ImagesMissing,
                                                  missing.join(", ").toStdString())),
                                Q(msg::CaptionInfo), MsgButtons::Ok, MsgIcon::Exclamation);
                QDesktopServices::openUrl(QUrl::fromLocalFile(written));
            }
            job->deleteLater();
        });
    job->Start();
}

ReportJob::ReportJob(QWidget* parent, archive::RecordFilter filter, report::Limits limits,
                     std::filesystem::path file, std::filesystem::path dataFolder)
    : QObject(parent),
      parentWidget_(parent),
      filter_(std::move(filter)),
      limits_(limits),
      file_(std::move(file)),
      dataFolder_(std::move(dataFolder)) {}

ReportJob::~ReportJob() {
    {
        // No call is handed over once this holds: the thread may then run to its end.
        std::lock_guard lock(postMutex_);
        thread_.request_stop();
    }
    if (thread_.joinable()) thread_.join();
    delete progress_.data();
}

void ReportJob::Post(std::function<void()> call) {
    std::lock_guard lock(postMutex_);
    if (thread_.get_stop_token().stop_requested()) return;
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void ReportJob::Start() {
    progress_ = new QProgressDialog(Cap(Caption::Writing), QString(), 0, 100, parentWidget_);
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(0);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setValue(0);

    thread_ = std::jthread([this](std::stop_token) {
        std::string error;
        report::WriteResult result;
        try {
            std::optional<report::Report> made =
                report::LoadReport(dataFolder_, filter_, limits_, &error);
            if (made)
                result = report::WriteReport(file_, *made, [this](int percent) {
                    Post([this, percent] { progress_->setValue(percent); });
                });
            else
                result.error = error;
        } catch (const std::exception& e) {
            // Out of memory, say: told like any other failure, never a crash of the window.
            result = {false, e.what(), {}};
        }
        QStringList missing;
        for (const std::string& name : result.missingImages) missing << Q(name);
        const QString file = TextOf(file_);
        const QString failure = result.ok ? QString() : Q(result.error);
        Post([this, file, failure, missing] {
            progress_->hide();
            emit finished(file, failure, missing);
        });
    });
}

}  // namespace velmora::ui
