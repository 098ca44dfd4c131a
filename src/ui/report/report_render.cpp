#include "ui/report/report_render.h"

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
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <vector>

#include "base/atomic_file.h"
#include "base/path_text.h"
#include "report/report_html.h"
#include "ui/report/diagram_painter.h"

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
constexpr double kHeaderHeight = 20;  // two lines of a caption
const std::size_t kRowsPerPage =
    static_cast<std::size_t>((kBottom - kTop - 20 - kHeaderHeight) / kRowHeight);
constexpr int kImageColumns = 2, kImageRows = 3;
constexpr std::size_t kImagesPerPage = kImageColumns * kImageRows;

const QColor kFailedFill(0xF6, 0xD5, 0xD5), kOutFill(0xFB, 0xEC, 0xC8);
const QColor kPassFill(0xD8, 0xF0, 0xD8), kPassInk(0x13, 0x5C, 0x13), kFailInk(0x8A, 0x11, 0x11);
const QColor kHeaderFill(0xEE, 0xF2, 0xF6), kBar(0x3B, 0x7D, 0xD8), kBarBeyond(0xD9, 0x82, 0x2B);
const QColor kPendingInk(0x5C, 0x4A, 0x13);

std::size_t PagesFor(std::size_t items, std::size_t perPage) {
    return (items + perPage - 1) / perPage;
}

// Lines a value may take on the verdict page, which must stay one page whatever the
// archive holds (a job name of thousands of characters, say).
constexpr int kJobLines = 3;
constexpr int kSplicerLines = 2;
constexpr std::size_t kSplicerEntries = 3;  // the last holding every other splicer
constexpr double kLineHeight = 15, kWrappedLineHeight = 12.5;
constexpr std::size_t kSplicersOnJobPage = 16;
// Failures listed on the job's page above its details; more take pages of their own.
constexpr std::size_t kFailuresOnJobPage = 12;
// Lines of the job's page when the details fit below the failures and splicers.
constexpr std::size_t kLinesOnJobPage = 14;
// Where the failures begin: below the title, the verdict and the job's name at its longest.
constexpr double kFailuresTop = kTop + 78 + kLineHeight + (kJobLines - 1) * kWrappedLineHeight + 6;
constexpr double kCaptionWidth = 190, kValueLeft = kLeft + 195, kValueWidth = kRight - kValueLeft;

// Column widths of the splice table, without and with the splicer column.
constexpr std::array<double, 9> kWidths{24, 81, 48, 42, 70, 70, 38, 38, 112};
constexpr std::array<double, 10> kWidthsWithSplicer{22, 60, 81, 42, 36, 52, 52, 34, 34, 110};

class PdfPages {
  public:
    PdfPages(QPdfWriter& writer, const Report& report, const Progress& progress,
             std::vector<MissingImage>* missing, std::stop_token stop)
        : writer_(writer),
          report_(report),
          progress_(progress),
          missing_(missing),
          stop_(std::move(stop)) {
        family_ = ReportFontFamily();
        pages_ = 1 + static_cast<int>(PagesFor(report.rows.size(), kRowsPerPage) +
                                      PagesFor(report.images.size(), kImagesPerPage));
        total_ = report.rows.size() + report.images.size();
        if (report.asBuilt) {
            // The job's page (and the failures' further pages) before the figures of
            // its records.
            pages_ += static_cast<int>(JobPages());
            total_ += report.asBuilt->failures.lines.size();
            if (!SplicersOnJobPage())
                pages_ += static_cast<int>(TablePages(report.asBuilt->bySplicer));
            total_ += report.asBuilt->bySplicer.lines.size();
            for (const TextTable& table : report.asBuilt->tables) {
                pages_ += static_cast<int>(TablePages(table));
                total_ += table.lines.size();
            }
            const std::size_t diagramPages = DiagramPageCount();
            pages_ += static_cast<int>(diagramPages);
            total_ += diagramPages;
        }
    }

    bool Paint() {
        if (!painter_.begin(&writer_)) return false;
        painter_.setRenderHint(QPainter::Antialiasing);
        if (report_.asBuilt) {
            JobPage();
            NextPage();
        }
        FirstPage();
        if (report_.asBuilt) {
            if (!SplicersOnJobPage()) {
                NextPage();
                TextTablePages(report_.asBuilt->bySplicer);
            }
            for (const TextTable& table : report_.asBuilt->tables) {
                if (Stopped()) break;
                NextPage();
                TextTablePages(table);
            }
            DiagramPages();
        }
        for (std::size_t at = 0; at < report_.rows.size() && !Stopped(); at += kRowsPerPage) {
            NextPage();
            TablePage(at, std::min(report_.rows.size(), at + kRowsPerPage));
        }
        for (std::size_t at = 0; at < report_.images.size() && !Stopped(); at += kImagesPerPage) {
            NextPage();
            ImagePage(at, std::min(report_.images.size(), at + kImagesPerPage));
        }
        PageNumber();
        return painter_.end() && !Stopped();
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

    bool Stopped() const { return stop_.stop_requested(); }

    // Measured on the PDF's own device (72 dots per inch), not the screen's.
    QFontMetricsF Metrics(const QFont& font) const { return QFontMetricsF(font, &writer_); }

    // `text` in lines of at most `width` points, broken between words where it can and
    // anywhere in a word longer than a line; at most `maxLines`, the last one cut
    // short with an ellipsis when the text goes on.
    QStringList Wrapped(const QString& text, const QFont& font, double width, int maxLines) const {
        QTextLayout layout(text, font, &writer_);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        QStringList lines;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (lines.size() + 1 == maxLines) {
                lines << Metrics(font).elidedText(text.mid(line.textStart()), Qt::ElideRight,
                                                  width);
                break;
            }
            lines << text.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        return lines;
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
                          Q(PageText(report_.captions[Caption::Page], page_, pages_)));
        const double width = (kRight - kLeft) * 0.75;
        painter_.drawText(
            QRectF(kLeft, kPageHeight - kMargin - 10, width, 12), Qt::AlignLeft | Qt::AlignVCenter,
            Metrics(painter_.font())
                .elidedText(Q(report_.TitleText()) + QStringLiteral(" - ") + Q(report_.job),
                            Qt::ElideRight, width));
        painter_.setPen(Qt::black);
    }

    // A caption and its value on the summary, the value in up to `maxLines` lines;
    // returns the next line's top. `part` indents a line that details the one above.
    double Line(double y, const QString& caption, const QString& value, int maxLines = 1,
                bool part = false) {
        const double indent = part ? 14 : 0;
        painter_.setFont(Font(10, !part));
        painter_.drawText(
            QRectF(kLeft + indent, y, kCaptionWidth - indent, kLineHeight),
            Qt::AlignLeft | Qt::AlignVCenter,
            Metrics(painter_.font()).elidedText(caption, Qt::ElideRight, kCaptionWidth - indent));
        painter_.setFont(Font(10));
        const QStringList lines = Wrapped(value, painter_.font(), kValueWidth, maxLines);
        for (qsizetype i = 0; i < lines.size(); ++i)
            painter_.drawText(QRectF(kValueLeft, y + static_cast<double>(i) * kWrappedLineHeight,
                                     kValueWidth, kLineHeight),
                              Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
        return y + kLineHeight +
               static_cast<double>(std::max<qsizetype>(lines.size(), 1) - 1) * kWrappedLineHeight;
    }

    // Title and verdict; the verdict's box also says how many of how many passed.
    double Verdict(const QString& counts) {
        double y = kTop;
        painter_.setFont(Font(20, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 28), Qt::AlignLeft | Qt::AlignVCenter,
                          Q(report_.TitleText()));
        y += 34;
        const Tone tone = report_.VerdictTone();
        const QRectF verdict(kLeft, y, kRight - kLeft, 34);
        painter_.fillRect(verdict, tone == Tone::Pass   ? kPassFill
                                   : tone == Tone::Fail ? kFailedFill
                                                        : kOutFill);
        painter_.setPen(tone == Tone::Pass   ? kPassInk
                        : tone == Tone::Fail ? kFailInk
                                             : kPendingInk);
        painter_.setFont(Font(16, true));
        painter_.drawText(verdict.adjusted(10, 0, -10, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          Q(report_.VerdictText()));
        painter_.drawText(verdict.adjusted(10, 0, -10, 0), Qt::AlignRight | Qt::AlignVCenter,
                          counts);
        painter_.setPen(Qt::black);
        return y + 44;
    }

    double LimitLines(double y) {
        y += 6;
        painter_.setFont(Font(11, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 16), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Limits));
        y += 18;
        y = Line(y, C(Caption::MaxLoss), Q(LossFigure(report_.limits.maxLoss)));
        y = Line(y, C(Caption::MaxAngle), Q(AngleFigure(report_.limits.maxAngle)));
        return Line(y, C(Caption::Written), Q(report_.written));
    }

    // A job's report opens with the job: its verdict and every failure that counts,
    // then its details and positions (on a page of their own after many failures).
    void JobPage() {
        const AsBuilt& built = *report_.asBuilt;
        double y = Verdict(Q(built.counts));
        y = Line(y, C(Caption::Job), Q(report_.job), kJobLines);
        const TextTable& failures = built.failures;
        if (FailuresOnJobPage()) {
            y = FailuresHeading(y + 6);
            if (!failures.lines.empty()) y = TableRows(failures, y, 0, failures.lines.size()) + 10;
        } else {
            const std::size_t first = std::min(FailuresOnFirstPage(), failures.lines.size());
            TableRows(failures, FailuresHeading(kFailuresTop), 0, first);
            for (std::size_t at = first; at < failures.lines.size() && !Stopped();
                 at += TableLines()) {
                NextPage();
                TableRows(failures, FailuresHeading(kTop), at,
                          std::min(failures.lines.size(), at + TableLines()));
            }
            NextPage();
            y = Line(kTop, C(Caption::Job), Q(report_.job), kJobLines);
        }
        for (const SummaryLine& line : built.summary) {
            if (y + kLineHeight * 8 > kBottom) break;  // room for the limits below
            y = Line(y, Q(line.caption), Q(line.value), line.part ? 1 : 3, line.part);
        }
        y = LimitLines(y) + 10;
        if (!SplicersOnJobPage() || built.bySplicer.lines.empty()) return;
        painter_.setFont(Font(11, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 16), Qt::AlignLeft | Qt::AlignVCenter,
                          Q(built.bySplicer.title));
        TableRows(built.bySplicer, y + 18, 0, built.bySplicer.lines.size());
    }

    // The title of the failures and its note (how many attempts were replaced); the
    // top of their lines.
    double FailuresHeading(double y) {
        const TextTable& failures = report_.asBuilt->failures;
        painter_.setFont(Font(11, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 16), Qt::AlignLeft | Qt::AlignVCenter,
                          Q(failures.title));
        painter_.setFont(Font(8.5));
        painter_.drawText(QRectF(kLeft, y + 18, kRight - kLeft, 12),
                          Qt::AlignLeft | Qt::AlignVCenter, Fitted(failures.note, kRight - kLeft));
        return y + 32;
    }

    bool FailuresOnJobPage() const {
        return report_.asBuilt->failures.lines.size() <= kFailuresOnJobPage;
    }
    // Failures' lines on the first page when they do not all fit with the details.
    static std::size_t FailuresOnFirstPage() {
        return static_cast<std::size_t>((kBottom - kFailuresTop - 32 - kHeaderHeight) / kRowHeight);
    }
    // The job's page, and the failures' pages and the page of details after it when
    // the failures are many.
    std::size_t JobPages() const {
        const std::size_t failures = report_.asBuilt->failures.lines.size();
        if (FailuresOnJobPage()) return 1;
        return 2 + PagesFor(failures - std::min(failures, FailuresOnFirstPage()), TableLines());
    }

    // The counts per splicer fit on the job's page but for a crowd of splicers (or of
    // failures above them).
    bool SplicersOnJobPage() const {
        const AsBuilt& built = *report_.asBuilt;
        const std::size_t failures = FailuresOnJobPage() ? built.failures.lines.size() : 0;
        return built.bySplicer.lines.size() <= kSplicersOnJobPage &&
               built.bySplicer.lines.size() + failures <= kLinesOnJobPage;
    }

    // Every splice's figures; in a job's report on its second page, under a heading.
    void FirstPage() {
        double y = kTop;
        if (report_.asBuilt) {
            painter_.setFont(Font(16, true));
            painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 24),
                              Qt::AlignLeft | Qt::AlignVCenter, C(Caption::Splices));
            y += 30;
        } else {
            y = Verdict(QStringLiteral("%1 / %2").arg(report_.passed).arg(report_.rows.size()));
        }
        y = Line(y, C(Caption::Job), Q(report_.job), kJobLines);
        // A few splicers, the last line holding all the rest (By splicer lists them all).
        const std::vector<SplicerLine>& splicers = report_.splicers;
        for (std::size_t i = 0; i < splicers.size() && i < kSplicerEntries; ++i) {
            QString text = Q(SplicerText(report_, splicers[i]));
            if (i + 1 == kSplicerEntries)
                for (std::size_t k = i + 1; k < splicers.size(); ++k)
                    text += QStringLiteral(", ") + Q(splicers[k].name);
            y = Line(y, C(Caption::Splicer), text, kSplicerLines);
        }
        y = Line(y, C(Caption::Period), Q(report_.period));
        y = Line(y, C(Caption::Splices), QString::number(report_.rows.size()));
        y = Line(y, C(Caption::Passed), QString::number(report_.passed));
        y = Line(y, C(Caption::Failed), QString::number(report_.failed));
        y = Line(y, C(Caption::MarkFailed), QString::number(report_.failedOnSplicer), 1, true);
        y = Line(y, C(Caption::MarkOverLoss), QString::number(report_.overLoss), 1, true);
        y = Line(y, C(Caption::MarkOverAngle), QString::number(report_.overAngle), 1, true);
        y = Line(y, C(Caption::LossMean), Q(MeanLossFigure(report_.loss.mean)));
        y = Line(y, C(Caption::LossMax), Q(LossFigure(report_.loss.max)));
        y = Line(y, C(Caption::LossP95), Q(LossFigure(report_.loss.p95)));
        y = LimitLines(y) + 10;

        painter_.setFont(Font(11, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 16), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Histogram));
        y += 18;
        HistogramChart(QRectF(kLeft, y, kRight - kLeft, 170));
        y += 180;

        const double third = (kRight - kLeft) / 3;
        Tallies(QRectF(kLeft, y, third - 10, kBottom - y), C(Caption::BySplicer),
                report_.bySplicer);
        Tallies(QRectF(kLeft + third, y, third - 10, kBottom - y), C(Caption::ByFiber),
                report_.byFiber);
        Tallies(QRectF(kLeft + 2 * third, y, third - 10, kBottom - y), C(Caption::ByProgram),
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
            painter_.drawText(QRectF(area.left(), y, area.width() - 40, 13),
                              Qt::AlignLeft | Qt::AlignVCenter, Fitted(t.name, area.width() - 40));
            painter_.drawText(QRectF(area.right() - 40, y, 40, 13),
                              Qt::AlignRight | Qt::AlignVCenter, QString::number(t.count));
            y += 13;
        }
    }

    // Texts too long for their column (program names, captions) are cut once per
    // distinct text and font.
    const QString& Fitted(const std::string& text, double width) {
        const QFont& font = painter_.font();
        const QString key = Q(text) + QChar(0) + QString::number(width) + QChar(0) +
                            QString::number(font.pointSizeF()) +
                            (font.bold() ? QLatin1Char('b') : QLatin1Char('r')) +
                            (font.italic() ? QLatin1Char('i') : QLatin1Char('n'));
        auto at = fitted_.find(key);
        if (at == fitted_.end())
            at = fitted_.insert(
                key, Metrics(painter_.font()).elidedText(Q(text), Qt::ElideRight, width - 4));
        return *at;
    }

    void TablePage(std::size_t from, std::size_t to) {
        double y = kTop;
        painter_.setFont(Font(12, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 18), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::SpliceTable));
        y += 20;
        painter_.fillRect(QRectF(kLeft, y, kRight - kLeft, kHeaderHeight), kHeaderFill);
        painter_.setFont(Font(7.5, true));
        // With more than one splicer each row names its own, after its number.
        const bool splicerColumn = report_.ManySplicers();
        const std::span<const double> widths = splicerColumn
                                                   ? std::span<const double>(kWidthsWithSplicer)
                                                   : std::span<const double>(kWidths);
        std::vector<const std::string*> headers{&report_.captions[Caption::Number]};
        if (splicerColumn) headers.push_back(&report_.captions[Caption::Splicer]);
        for (const std::string& column : report_.captions.columns) headers.push_back(&column);
        headers.push_back(&report_.captions[Caption::Mark]);
        double x = kLeft;
        for (std::size_t i = 0; i < headers.size(); ++i) {
            const QStringList lines = Wrapped(Q(*headers[i]), painter_.font(), widths[i] - 4, 2);
            painter_.drawText(QRectF(x + 2, y, widths[i] - 4, kHeaderHeight),
                              Qt::AlignLeft | Qt::AlignVCenter, lines.join(QLatin1Char('\n')));
            x += widths[i];
        }
        y += kHeaderHeight;
        painter_.setFont(Font(8));
        for (std::size_t k = from; k < to && !Stopped(); ++k) {
            const Row& row = report_.rows[k];
            if (row.mark != Mark::Pass)
                painter_.fillRect(QRectF(kLeft, y, kRight - kLeft, kRowHeight),
                                  row.mark == Mark::Failed ? kFailedFill : kOutFill);
            std::vector<const std::string*> cells{&row.number};
            if (splicerColumn) cells.push_back(&row.splicer);
            for (const std::string* cell : {&row.time, &row.result, &row.loss, &row.spliceMode,
                                            &row.fiberType, &row.lfAngle, &row.rfAngle})
                cells.push_back(cell);
            cells.push_back(&MarkText(report_, row.mark));
            DrawCells(y, widths, cells);
            y += kRowHeight;
            Step();
        }
        painter_.setPen(QColor(0xBB, 0xBB, 0xBB));
        painter_.drawLine(QPointF(kLeft, y), QPointF(kRight, y));
        painter_.setPen(Qt::black);
    }

    // Lines of a section's page: below its title, its note and its header.
    static std::size_t TableLines() {
        return static_cast<std::size_t>((kBottom - kTop - 20 - 14 - kHeaderHeight) / kRowHeight);
    }
    static std::size_t TablePages(const TextTable& table) {
        return std::max<std::size_t>(1, PagesFor(table.lines.size(), TableLines()));
    }

    // A section of a job's report over as many pages as it needs, its title and
    // header on each.
    void TextTablePages(const TextTable& table) {
        const std::size_t perPage = TableLines();
        for (std::size_t at = 0; at == 0 || at < table.lines.size(); at += perPage) {
            if (Stopped()) return;
            if (at > 0) NextPage();
            double y = kTop;
            painter_.setFont(Font(12, true));
            painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 18),
                              Qt::AlignLeft | Qt::AlignVCenter,
                              Metrics(painter_.font())
                                  .elidedText(Q(table.title), Qt::ElideRight, kRight - kLeft));
            y += 20;
            painter_.setFont(Font(8.5));
            painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 12),
                              Qt::AlignLeft | Qt::AlignVCenter, Fitted(table.note, kRight - kLeft));
            TableRows(table, y + 14, at, std::min(table.lines.size(), at + perPage));
        }
    }

    // The header and lines [from, to) of `table` from `y` down; returns the bottom.
    double TableRows(const TextTable& table, double y, std::size_t from, std::size_t to) {
        double total = 0;
        for (double w : table.widths) total += w;
        std::vector<double> widths;
        for (double w : table.widths) widths.push_back(w * (kRight - kLeft) / std::max(total, 1.0));
        painter_.fillRect(QRectF(kLeft, y, kRight - kLeft, kHeaderHeight), kHeaderFill);
        painter_.setFont(Font(7, true));
        double x = kLeft;
        for (std::size_t i = 0; i < table.headers.size() && i < widths.size(); ++i) {
            const QStringList lines =
                Wrapped(Q(table.headers[i]), painter_.font(), widths[i] - 4, 2);
            painter_.drawText(QRectF(x + 2, y, widths[i] - 4, kHeaderHeight),
                              Qt::AlignLeft | Qt::AlignVCenter, lines.join(QLatin1Char('\n')));
            x += widths[i];
        }
        y += kHeaderHeight;
        QFont plain = Font(6.5), minor = Font(6.5);
        minor.setItalic(true);
        std::vector<const std::string*> cells;
        for (std::size_t k = from; k < to && !Stopped(); ++k) {
            const TextTable::Line& line = table.lines[k];
            // A replaced attempt is not tinted: it no longer counts.
            if (line.mark != Mark::Pass && !line.minor)
                painter_.fillRect(QRectF(kLeft, y, kRight - kLeft, kRowHeight),
                                  line.mark == Mark::Failed ? kFailedFill : kOutFill);
            painter_.setFont(line.minor ? minor : plain);
            painter_.setPen(line.minor ? Qt::darkGray : Qt::black);
            cells.clear();
            for (const std::string& cell : line.cells) cells.push_back(&cell);
            DrawCells(y, widths, cells);
            y += kRowHeight;
            Step();
        }
        painter_.setPen(QColor(0xBB, 0xBB, 0xBB));
        painter_.drawLine(QPointF(kLeft, y), QPointF(kRight, y));
        painter_.setPen(Qt::black);
        return y;
    }

    // A tray's splice diagram a page, drawn across the page's width; a tray of more
    // rows than a page holds goes on over the pages it needs.
    static double DiagramScale() { return (kRight - kLeft) / jobs::kDiagramWidth; }
    static std::size_t DiagramRowsPerPage() {
        return jobs::DiagramRowsWithin((kBottom - kTop) / DiagramScale());
    }
    std::size_t DiagramPageCount() const {
        std::size_t pages = 0;
        for (const jobs::TrayDiagram& diagram : report_.asBuilt->diagrams)
            pages += std::max<std::size_t>(1, PagesFor(diagram.Rows(), DiagramRowsPerPage()));
        return pages;
    }
    void DiagramPages() {
        const std::size_t perPage = DiagramRowsPerPage();
        DiagramPainter canvas(painter_, family_);
        for (const jobs::TrayDiagram& diagram : report_.asBuilt->diagrams) {
            for (std::size_t first = 0; first == 0 || first < diagram.Rows(); first += perPage) {
                if (Stopped()) return;
                NextPage();
                painter_.save();
                painter_.translate(kLeft, kTop);
                painter_.scale(DiagramScale(), DiagramScale());
                jobs::DrawTrayDiagram(canvas, diagram, jobs::kDiagramWidth, {first, perPage});
                painter_.restore();
                Step();
            }
        }
    }

    void DrawCells(double y, std::span<const double> widths,
                   const std::vector<const std::string*>& cells) {
        double x = kLeft;
        for (std::size_t i = 0; i < cells.size() && i < widths.size(); ++i) {
            painter_.drawText(QRectF(x + 2, y, widths[i] - 4, kRowHeight),
                              Qt::AlignLeft | Qt::AlignVCenter, Fitted(*cells[i], widths[i]));
            x += widths[i];
        }
    }

    void ImagePage(std::size_t from, std::size_t to) {
        double y = kTop;
        painter_.setFont(Font(12, true));
        painter_.drawText(QRectF(kLeft, y, kRight - kLeft, 18), Qt::AlignLeft | Qt::AlignVCenter,
                          C(Caption::Images));
        y += 22;
        const double cellWidth = (kRight - kLeft) / kImageColumns;
        const double cellHeight = (kBottom - y) / kImageRows;
        for (std::size_t k = from; k < to && !Stopped(); ++k) {
            const Image& image = report_.images[k];
            const auto slot = static_cast<int>(k - from);
            const QRectF cell(kLeft + cellWidth * (slot % kImageColumns),
                              y + cellHeight * (slot / kImageColumns), cellWidth - 10,
                              cellHeight - 8);
            const QRectF picture = cell.adjusted(0, 0, 0, -16);
            ImageRead read = ReadImage(image);
            QImage decoded;
            if (read.problem == ImageProblem::None) {
                decoded.loadFromData(QByteArray::fromStdString(read.bytes));
                // The archived file itself, but no picture in it.
                if (decoded.isNull()) read.problem = ImageProblem::Unreadable;
            }
            painter_.setFont(Font(8.5));
            double captionTop = picture.bottom() + 2;
            if (decoded.isNull()) {
                const MissingImage missing{image.name, read.problem};
                if (missing_) missing_->push_back(missing);
                painter_.setPen(kFailInk);
                painter_.drawRect(picture);
                const QRectF inside = picture.adjusted(6, 6, -6, -6);
                const QStringList lines =
                    Wrapped(Q(MissingImageText(report_, missing)), painter_.font(), inside.width(),
                            static_cast<int>(inside.height() / 12));
                painter_.drawText(inside, Qt::AlignCenter, lines.join(QLatin1Char('\n')));
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
                              Qt::AlignLeft | Qt::AlignVCenter,
                              Fitted(image.caption, cell.width()));
            Step();
        }
    }

    QPdfWriter& writer_;
    const Report& report_;
    const Progress& progress_;
    std::vector<MissingImage>* missing_;
    std::stop_token stop_;
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

std::optional<std::string> PdfDocument(const Report& report, const Progress& progress,
                                       std::vector<MissingImage>* missingImages,
                                       std::stop_token stop) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Point));
        writer.setCreator(QStringLiteral("Velmora"));
        writer.setTitle(Q(report.TitleText() + " - " + report.job));
        PdfPages pages(writer, report, progress, missingImages, std::move(stop));
        if (!pages.Paint()) return std::nullopt;
    }
    return bytes.toStdString();
}

WriteResult WriteReport(const std::filesystem::path& file, const Report& report,
                        const Progress& progress, std::stop_token stop) {
    return WriteReportFile(file, report, PdfDocument, progress, std::move(stop));
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
