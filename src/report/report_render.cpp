#include "report/report_render.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPen>
#include <algorithm>
#include <array>
#include <cctype>

#include "base/atomic_file.h"
#include "base/path_text.h"
#include "report/report_html.h"

namespace velmora::report {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A4 in points (the writer runs at 72 dots per inch), with 36-point margins.
constexpr double kPageWidth = 595, kPageHeight = 842, kMargin = 36;
constexpr double kLeft = kMargin, kRight = kPageWidth - kMargin;
constexpr double kTop = kMargin, kBottom = kPageHeight - kMargin - 14;  // above the page number
constexpr double kRowHeight = 12.5;
constexpr double kHeaderHeight = 16;
const std::size_t kRowsPerPage =
    static_cast<std::size_t>((kBottom - kTop - 20 - kHeaderHeight) / kRowHeight);
constexpr int kImageColumns = 2, kImageRows = 3;
constexpr std::size_t kImagesPerPage = kImageColumns * kImageRows;

const QColor kFailedFill(0xF6, 0xD5, 0xD5), kOutFill(0xFB, 0xEC, 0xC8);
const QColor kPassFill(0xD8, 0xF0, 0xD8), kPassInk(0x13, 0x5C, 0x13), kFailInk(0x8A, 0x11, 0x11);
const QColor kHeaderFill(0xEE, 0xF2, 0xF6), kBar(0x3B, 0x7D, 0xD8), kBarBeyond(0xD9, 0x82, 0x2B);

// A family that has the Chinese glyphs, so a Chinese caption or job name never
// comes out as empty boxes; the system's own font where none is installed.
QString ReportFontFamily() {
    const QStringList installed = QFontDatabase::families();
    for (const char* name : {"Noto Sans CJK SC", "WenQuanYi Micro Hei", "Source Han Sans SC",
                             "Microsoft YaHei", "SimSun", "Droid Sans Fallback"})
        if (installed.contains(QLatin1String(name))) return QLatin1String(name);
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (!chinese.isEmpty()) return chinese.front();
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

std::size_t PagesFor(std::size_t items, std::size_t perPage) {
    return (items + perPage - 1) / perPage;
}

class PdfPages {
  public:
    PdfPages(QPdfWriter& writer, const Report& report, const Progress& progress,
             std::vector<std::string>* missing)
        : writer_(writer), report_(report), progress_(progress), missing_(missing) {
        family_ = ReportFontFamily();
        pages_ = 1 + static_cast<int>(PagesFor(report.rows.size(), kRowsPerPage) +
                                      PagesFor(report.images.size(), kImagesPerPage));
        total_ = report.rows.size() + report.images.size();
    }

    bool Paint() {
        if (!painter_.begin(&writer_)) return false;
        painter_.setRenderHint(QPainter::Antialiasing);
        FirstPage();
        for (std::size_t at = 0; at < report_.rows.size(); at += kRowsPerPage) {
            NextPage();
            TablePage(at, std::min(report_.rows.size(), at + kRowsPerPage));
        }
        for (std::size_t at = 0; at < report_.images.size(); at += kImagesPerPage) {
            NextPage();
            ImagePage(at, std::min(report_.images.size(), at + kImagesPerPage));
        }
        PageNumber();
        return painter_.end();
    }

  private:
    QFont Font(double points, bool bold = false) const {
        QFont font(family_);
        font.setPointSizeF(points);
        font.setBold(bold);
        return font;
    }
    const QString& C(Caption caption) {
        const auto at = static_cast<std::size_t>(caption);
        if (captionCache_[at].isNull()) captionCache_[at] = Q(report_.captions[caption]);
        return captionCache_[at];
    }

    void Step() {
        ++done_;
        const int percent = static_cast<int>(done_ * 100 / std::max<std::size_t>(total_, 1));
        if (progress_ && percent != shown_) progress_(shown_ = percent);
    }

    void NextPage() {
        PageNumber();
        writer_.newPage();
        ++page_;
    }

    void PageNumber() {
        painter_.setFont(Font(8));
        painter_.setPen(Qt::darkGray);
        painter_.drawText(QRectF(kLeft, kPageHeight - kMargin - 10, kRight - kLeft, 12),
                          Qt::AlignRight | Qt::AlignVCenter,
                          Q(Fill(report_.captions[Caption::Page], page_, pages_)));
        painter_.drawText(QRectF(kLeft, kPageHeight - kMargin - 10, kRight - kLeft, 12),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Title) + QStringLiteral(" - ") + Q(report_.job));
        painter_.setPen(Qt::black);
    }

    // A caption and its value on one line of the summary; returns the next line's top.
    double Line(double y, const QString& caption, const QString& value) {
        painter_.setFont(Font(10, true));
        painter_.drawText(QRectF(kLeft, y, 190, 15), Qt::AlignLeft | Qt::AlignVCenter, caption);
        painter_.setFont(Font(10));
        painter_.drawText(QRectF(kLeft + 195, y, kRight - kLeft - 195, 15),
                          Qt::AlignLeft | Qt::AlignVCenter, value);
        return y + 15;
    }

    void FirstPage() {
        double y = kTop;
        painter_.setFont(Font(20, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 28), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Title));
        y += 34;

        const bool pass = report_.AllPassed();
        const QRectF verdict(kLeft, y, kRight - kLeft, 34);
        painter_.fillRect(verdict, pass ? kPassFill : kFailedFill);
        painter_.setPen(pass ? kPassInk : kFailInk);
        painter_.setFont(Font(16, true));
        painter_.drawText(verdict.adjusted(10, 0, -10, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          C(pass ? Caption::AllPassed : Caption::NotAllPassed));
        painter_.drawText(verdict.adjusted(10, 0, -10, 0), Qt::AlignRight | Qt::AlignVCenter,
                          QStringLiteral("%1 / %2").arg(report_.passed).arg(report_.rows.size()));
        painter_.setPen(Qt::black);
        y += 44;

        y = Line(y, C(Caption::Job), Q(report_.job));
        // Up to four lines of splicers, the fourth holding all the rest, so that the
        // verdict page never runs over.
        const std::vector<SplicerLine>& splicers = report_.splicers;
        for (std::size_t i = 0; i < splicers.size() && i < 4; ++i) {
            QString text = Q(SplicerText(report_, splicers[i]));
            if (i == 3)
                for (std::size_t k = 4; k < splicers.size(); ++k)
                    text += QStringLiteral(", ") + Q(splicers[k].name);
            y = Line(
                y, C(Caption::Splicer),
                QFontMetricsF(Font(10)).elidedText(text, Qt::ElideRight, kRight - kLeft - 195));
        }
        y = Line(y, C(Caption::Period), Q(report_.period));
        y = Line(y, C(Caption::Splices), QString::number(report_.rows.size()));
        y = Line(y, C(Caption::Passed), QString::number(report_.passed));
        y = Line(y, C(Caption::Failed), QString::number(report_.failed));
        y = Line(y, C(Caption::LossMean), Q(MeanLossFigure(report_.loss.mean)));
        y = Line(y, C(Caption::LossMax), Q(LossFigure(report_.loss.max)));
        y = Line(y, C(Caption::LossP95), Q(LossFigure(report_.loss.p95)));
        y += 6;
        painter_.setFont(Font(11, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 16), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Limits));
        y += 18;
        y = Line(y, C(Caption::MaxLoss), Q(LossFigure(report_.limits.maxLoss)));
        y = Line(y, C(Caption::MaxAngle), Q(AngleFigure(report_.limits.maxAngle)));
        y = Line(y, C(Caption::Written), Q(report_.written));
        y += 10;

        painter_.setFont(Font(11, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 16), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Histogram));
        y += 18;
        HistogramChart(QRectF(kLeft, y, kRight - kLeft, 190));
        y += 200;

        const double half = (kRight - kLeft) / 2;
        Tallies(QRectF(kLeft, y, half - 10, kBottom - y), C(Caption::ByFiber), report_.byFiber);
        Tallies(QRectF(kLeft + half, y, half - 10, kBottom - y), C(Caption::ByProgram),
                report_.byProgram);
    }

    void HistogramChart(const QRectF& area) {
        const Histogram& h = report_.histogram;
        const std::size_t most =
            std::max<std::size_t>(1, *std::max_element(h.counts.begin(), h.counts.end()));
        const QRectF plot = area.adjusted(36, 14, -4, -30);
        painter_.setFont(Font(7.5));
        painter_.setPen(Qt::darkGray);
        painter_.drawLine(plot.bottomLeft(), plot.bottomRight());
        painter_.drawLine(plot.bottomLeft(), plot.topLeft());
        painter_.drawText(QRectF(area.left(), plot.top() - 5, 32, 10),
                          Qt::AlignRight | Qt::AlignVCenter, QString::number(most));
        painter_.drawText(QRectF(area.left(), plot.bottom() - 5, 32, 10),
                          Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
        const double bar = plot.width() / static_cast<double>(h.counts.size());
        for (std::size_t k = 0; k < h.counts.size(); ++k) {
            const int lower = h.Lower(k);
            const bool beyond = h.Beyond(k, report_.limits.maxLoss);
            const double height =
                plot.height() * static_cast<double>(h.counts[k]) / static_cast<double>(most);
            const double x = plot.left() + bar * static_cast<double>(k);
            painter_.fillRect(QRectF(x + 1, plot.bottom() - height, std::max(bar - 2, 1.0), height),
                              beyond ? kBarBeyond : kBar);
            if (h.counts[k] > 0 && bar >= 14)
                painter_.drawText(QRectF(x, plot.bottom() - height - 10, bar, 10),
                                  Qt::AlignHCenter | Qt::AlignBottom, QString::number(h.counts[k]));
            if (h.counts.size() <= 10 || k % 2 == 0)
                painter_.drawText(QRectF(x - 20, plot.bottom() + 2, 40, 10), Qt::AlignCenter,
                                  Q(LossFigure(lower)));
        }
        // The loss limit as a dashed line: bars right of it hold splices beyond it.
        const double limitX = plot.left() + plot.width() * report_.limits.maxLoss /
                                                static_cast<double>(h.Lower(h.counts.size()));
        if (limitX <= plot.right()) {
            painter_.setPen(QPen(kFailInk, 1, Qt::DashLine));
            painter_.drawLine(QPointF(limitX, plot.top() - 10), QPointF(limitX, plot.bottom()));
            painter_.setPen(Qt::darkGray);
        }
        painter_.drawText(QRectF(plot.left(), plot.bottom() + 14, plot.width(), 12),
                          Qt::AlignCenter, C(Caption::HistogramAxis));
        painter_.setPen(Qt::black);
    }

    void Tallies(const QRectF& area, const QString& caption, const std::vector<Tally>& tallies) {
        double y = area.top();
        painter_.setFont(Font(11, true));
        painter_.drawText(QRectF(area.left(), y, area.width(), 16),
                          Qt::AlignLeft | Qt::AlignVCenter, caption);
        y += 18;
        painter_.setFont(Font(9.5));
        for (const Tally& t : tallies) {
            if (y + 13 > area.bottom()) break;
            painter_.drawText(QRectF(area.left(), y, area.width() - 50, 13),
                              Qt::AlignLeft | Qt::AlignVCenter, Q(t.name));
            painter_.drawText(QRectF(area.right() - 50, y, 50, 13),
                              Qt::AlignRight | Qt::AlignVCenter, QString::number(t.count));
            y += 13;
        }
    }

    // Column left edges and widths of the splice table.
    static constexpr std::array<double, 9> kWidths{30, 84, 50, 46, 84, 84, 46, 46, 53};

    // Texts too long for their column (program names, captions) are cut once per
    // distinct text and font.
    const QString& Fitted(const std::string& text, double width) {
        const QString key = Q(text) + QChar(0) + QString::number(width) +
                            (painter_.font().bold() ? QLatin1Char('b') : QLatin1Char('r'));
        auto at = fitted_.find(key);
        if (at == fitted_.end())
            at = fitted_.insert(
                key, QFontMetricsF(painter_.font()).elidedText(Q(text), Qt::ElideRight, width - 4));
        return *at;
    }

    void TablePage(std::size_t from, std::size_t to) {
        double y = kTop;
        painter_.setFont(Font(12, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 18), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::SpliceTable));
        y += 20;
        painter_.fillRect(QRectF(kLeft, y, kRight - kLeft, kHeaderHeight), kHeaderFill);
        painter_.setFont(Font(8, true));
        QStringList headers{C(Caption::Number)};
        for (const std::string& column : report_.captions.columns) headers << Q(column);
        headers << C(Caption::Mark);
        double x = kLeft;
        for (std::size_t i = 0; i < kWidths.size(); ++i) {
            painter_.drawText(QRectF(x + 2, y, kWidths[i] - 4, kHeaderHeight),
                              Qt::AlignLeft | Qt::AlignVCenter,
                              Fitted(headers[static_cast<int>(i)].toStdString(), kWidths[i]));
            x += kWidths[i];
        }
        y += kHeaderHeight;
        painter_.setFont(Font(8));
        for (std::size_t k = from; k < to; ++k) {
            const Row& row = report_.rows[k];
            if (row.mark != Mark::Pass)
                painter_.fillRect(QRectF(kLeft, y, kRight - kLeft, kRowHeight),
                                  row.mark == Mark::Failed ? kFailedFill : kOutFill);
            const std::array<const std::string*, 9> cells{
                &row.number,  &row.time,       &row.result,
                &row.loss,    &row.spliceMode, &row.fiberType,
                &row.lfAngle, &row.rfAngle,    &MarkText(report_, row.mark)};
            x = kLeft;
            for (std::size_t i = 0; i < cells.size(); ++i) {
                painter_.drawText(QRectF(x + 2, y, kWidths[i] - 4, kRowHeight),
                                  Qt::AlignLeft | Qt::AlignVCenter, Fitted(*cells[i], kWidths[i]));
                x += kWidths[i];
            }
            y += kRowHeight;
            Step();
        }
        painter_.setPen(QColor(0xBB, 0xBB, 0xBB));
        painter_.drawLine(QPointF(kLeft, y), QPointF(kRight, y));
        painter_.setPen(Qt::black);
    }

    void ImagePage(std::size_t from, std::size_t to) {
        double y = kTop;
        painter_.setFont(Font(12, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 18), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Images));
        y += 22;
        const double cellWidth = (kRight - kLeft) / kImageColumns;
        const double cellHeight = (kBottom - y) / kImageRows;
        for (std::size_t k = from; k < to; ++k) {
            const Image& image = report_.images[k];
            const auto slot = static_cast<int>(k - from);
            const QRectF cell(kLeft + cellWidth * (slot % kImageColumns),
                              y + cellHeight * (slot / kImageColumns), cellWidth - 10,
                              cellHeight - 8);
            const QRectF picture = cell.adjusted(0, 0, 0, -16);
            QImage decoded;
            if (const auto bytes = ReadImage(image))
                decoded.loadFromData(bytes->data(), static_cast<int>(bytes->size()));
            painter_.setFont(Font(8.5));
            double captionTop = picture.bottom() + 2;
            if (decoded.isNull()) {
                if (missing_) missing_->push_back(image.name);
                painter_.setPen(kFailInk);
                painter_.drawRect(picture);
                painter_.drawText(picture.adjusted(6, 6, -6, -6),
                                  Qt::AlignCenter | Qt::TextWordWrap,
                                  Q(Fill(report_.captions[Caption::ImageMissing], image.name)));
                painter_.setPen(Qt::black);
            } else {
                // Twice the printed size is plenty for paper and keeps the file small.
                const QSize fit =
                    decoded.size().scaled(picture.size().toSize() * 2, Qt::KeepAspectRatio);
                if (decoded.width() > fit.width())
                    decoded = decoded.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                const QSizeF shown =
                    QSizeF(decoded.size()).scaled(picture.size(), Qt::KeepAspectRatio);
                painter_.drawImage(QRectF(picture.topLeft(), shown), decoded);
                captionTop = picture.top() + shown.height() + 2;
            }
            painter_.drawText(QRectF(cell.left(), captionTop, cell.width(), 14),
                              Qt::AlignLeft | Qt::AlignVCenter, Q(image.caption));
            Step();
        }
    }

    QPdfWriter& writer_;
    const Report& report_;
    const Progress& progress_;
    std::vector<std::string>* missing_;
    QPainter painter_;
    QString family_;
    std::array<QString, static_cast<std::size_t>(Caption::kCount)> captionCache_;
    QHash<QString, QString> fitted_;
    int page_ = 1;
    int pages_ = 1;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    int shown_ = -1;
};

}  // namespace

std::optional<Format> FormatOf(const std::filesystem::path& file) {
    std::string ext = PathText(file.extension());
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".pdf") return Format::Pdf;
    if (ext == ".html" || ext == ".htm") return Format::Html;
    return std::nullopt;
}

std::optional<std::string> PdfDocument(const Report& report, const Progress& progress,
                                       std::vector<std::string>* missingImages) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Point));
        writer.setCreator(QStringLiteral("Velmora"));
        writer.setTitle(Q(report.captions[Caption::Title] + " - " + report.job));
        PdfPages pages(writer, report, progress, missingImages);
        if (!pages.Paint()) return std::nullopt;
    }
    return bytes.toStdString();
}

WriteResult WriteReport(const std::filesystem::path& file, const Report& report,
                        const Progress& progress) {
    const std::optional<Format> format = FormatOf(file);
    if (!format) return {false, SayWith(report_msg::UnknownFormat, PathText(file)), {}};
    if (*format == Format::Html) return WriteHtmlReport(file, report, progress);
    WriteResult result;
    const std::optional<std::string> document =
        PdfDocument(report, progress, &result.missingImages);
    if (!document) return NotWritten(file, "the PDF writer could not start");
    const FileWriteResult written = ReplaceFile(file, *document);
    if (!written.ok) return NotWritten(file, written.reason);
    result.ok = true;
    return result;
}

struct GuiForReport::State {
    int argc = 1;
    char name[16] = "velmora-report";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QGuiApplication> app;
};

GuiForReport::GuiForReport() : state_(std::make_unique<State>()) {
    if (QCoreApplication::instance()) return;
    // The build names the platform to use when none is set: "offscreen" where a
    // display may be missing, nothing where the native platform always works.
    constexpr const char* kDefaultPlatform = VELMORA_REPORT_QPA;
    if (*kDefaultPlatform && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", kDefaultPlatform);
    // A terminal without a desktop session has no XDG_RUNTIME_DIR: Qt then warns on
    // stderr and uses its own folder, which is all a report needs. The warning would
    // only confuse whoever reads the command's output, so it is left unsaid.
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
            if (previous) previous(type, context, text);
        });
    state_->app = std::make_unique<QGuiApplication>(state_->argc, state_->argv);
}

GuiForReport::~GuiForReport() = default;

}  // namespace velmora::report
