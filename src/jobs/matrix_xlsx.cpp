#include "jobs/matrix_xlsx.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <random>

#include "base/c_numbers.h"
#include "base/console_output.h"
#include "base/file_read.h"
#include "base/path_text.h"
#include "base/text_codec.h"
#include "jobs/xlsx_text.h"
#include "jobs/xlsxwriter_api.h"

namespace velmora::jobs {
namespace {

namespace fs = std::filesystem;
using C = MatrixColumn;

// The writer's functions. Write makes sure they are loaded before anything here runs.
const XlsxWriterApi& Lxw() {
    std::string unused;
    return *XlsxWriter(unused);
}

// Light text on dark fills, dark text on light ones.
bool IsDark(std::uint32_t rgb) {
    const double luminance =
        0.299 * ((rgb >> 16) & 0xFF) + 0.587 * ((rgb >> 8) & 0xFF) + 0.114 * (rgb & 0xFF);
    return luminance < 140;
}

// The formats of one workbook, made once each.
struct Formats {
    lxw_format* title = nullptr;
    lxw_format* caption = nullptr;
    lxw_format* header = nullptr;
    lxw_format* text = nullptr;
    lxw_format* integer = nullptr;
    lxw_format* loss = nullptr;
    lxw_format* angle = nullptr;
    lxw_format* degrees = nullptr;
    lxw_format* time = nullptr;
    lxw_format* failed = nullptr;
    lxw_format* over = nullptr;
    lxw_format* pass = nullptr;
    lxw_format* fail = nullptr;
    std::array<lxw_format*, kColourCount> colour{};  // the fibre's colour, named
    std::array<lxw_format*, kColourCount> tube{};    // the tube's number, shown with its colour

    Formats(lxw_workbook* book, const MatrixCaptions& captions) {
        auto make = [book](auto&& setUp) {
            lxw_format* format = Lxw().workbook_add_format(book);
            setUp(format);
            return format;
        };
        auto bordered = [](lxw_format* f) { Lxw().format_set_border(f, LXW_BORDER_THIN); };
        title = make([](lxw_format* f) {
            Lxw().format_set_bold(f);
            Lxw().format_set_font_size(f, 14);
        });
        caption = make([](lxw_format* f) { Lxw().format_set_bold(f); });
        header = make([&](lxw_format* f) {
            Lxw().format_set_bold(f);
            Lxw().format_set_bg_color(f, 0xEEF2F6);
            Lxw().format_set_text_wrap(f);
            bordered(f);
        });
        text = make(bordered);
        integer = make([&](lxw_format* f) {
            Lxw().format_set_num_format(f, "0");
            bordered(f);
        });
        loss = make([&](lxw_format* f) {
            Lxw().format_set_num_format(f, "0.00");
            bordered(f);
        });
        angle = make([&](lxw_format* f) { Lxw().format_set_num_format(f, "0.0"); });
        degrees = make([&](lxw_format* f) { Lxw().format_set_num_format(f, "0.000000"); });
        time = make([&](lxw_format* f) {
            Lxw().format_set_num_format(f, "yyyy-mm-dd hh:mm:ss");
            bordered(f);
        });
        failed = make([&](lxw_format* f) {
            Lxw().format_set_bg_color(f, 0xF6D5D5);
            bordered(f);
        });
        over = make([&](lxw_format* f) {
            Lxw().format_set_bg_color(f, 0xFBECC8);
            bordered(f);
        });
        pass = make([](lxw_format* f) {
            Lxw().format_set_bold(f);
            Lxw().format_set_font_color(f, 0x135C13);
        });
        fail = make([](lxw_format* f) {
            Lxw().format_set_bold(f);
            Lxw().format_set_font_color(f, 0x8A1111);
        });
        for (std::size_t i = 0; i < kColourCount; ++i) {
            const auto c = static_cast<FibreColour>(i);
            const std::uint32_t rgb = ColourRgb(c);
            auto filled = [&](lxw_format* f) {
                Lxw().format_set_pattern(f, LXW_PATTERN_SOLID);
                Lxw().format_set_bg_color(f, rgb);
                Lxw().format_set_font_color(f, IsDark(rgb) ? 0xFFFFFF : 0x000000);
                bordered(f);
            };
            colour[i] = make(filled);
            // The number stays a number; the format shows it with its colour's name.
            std::string name = PlainText(captions.Colour(c));
            std::erase(name, '"');
            const std::string numberFormat = "0\" " + name + "\"";
            tube[i] = make([&](lxw_format* f) {
                filled(f);
                Lxw().format_set_num_format(f, numberFormat.c_str());
            });
        }
    }
};

// A worksheet's cells, and the first failure of the writer among them.
class Sheet {
  public:
    Sheet(lxw_worksheet* sheet, lxw_error& error) : sheet_(sheet), error_(error) {}

    void Text(lxw_row_t row, lxw_col_t col, std::string_view text, lxw_format* format = nullptr) {
        Keep(Lxw().worksheet_write_string(sheet_, row, col, CellText(text).c_str(), format));
    }
    void Number(lxw_row_t row, lxw_col_t col, double value, lxw_format* format = nullptr) {
        Keep(Lxw().worksheet_write_number(sheet_, row, col, value, format));
    }
    void Blank(lxw_row_t row, lxw_col_t col, lxw_format* format) {
        Keep(Lxw().worksheet_write_blank(sheet_, row, col, format));
    }
    // The splice's time as a date where it is one, else its text as the splicer gave it.
    void Time(lxw_row_t row, lxw_col_t col, const SpliceRecord& r, lxw_format* date,
              lxw_format* text) {
        if (!HasRealTime(r)) return Text(row, col, TimeText(r), text);
        lxw_datetime when{2000 + r.yearOffset(),          r.month(), r.day(), r.hour(), r.minute(),
                          static_cast<double>(r.second())};
        Keep(Lxw().worksheet_write_datetime(sheet_, row, col, &when, date));
    }
    lxw_worksheet* get() const { return sheet_; }

  private:
    void Keep(lxw_error error) {
        if (error != LXW_NO_ERROR && error_ == LXW_NO_ERROR) error_ = error;
    }
    lxw_worksheet* sheet_;
    lxw_error& error_;
};

double Hundredths(int value) {
    return value / 100.0;
}

lxw_format* ResultFormat(const Formats& f, Mark mark) {
    if (mark == Mark::Pass) return f.text;
    return mark == Mark::Failed ? f.failed : f.over;
}

// Splicer, number, time, loss and verdict of each splice, under a caption and a header.
lxw_row_t SpliceList(Sheet& sheet, lxw_row_t row, const std::string& title,
                     const std::vector<MatrixSplice>& splices, const MatrixCaptions& c,
                     const Formats& f) {
    sheet.Text(row, 0, title, f.caption);
    sheet.Number(row++, 1, static_cast<double>(splices.size()), f.integer);
    if (splices.empty()) return row;
    const std::array<const std::string*, 5> header{&c[C::Splicer], &c[C::Number], &c[C::Time],
                                                   &c[C::Loss], &c[C::Result]};
    for (std::size_t k = 0; k < header.size(); ++k)
        sheet.Text(row, static_cast<lxw_col_t>(k), *header[k], f.header);
    ++row;
    for (const MatrixSplice& s : splices) {
        sheet.Text(row, 0, s.splicer, f.text);
        sheet.Number(row, 1, static_cast<double>(s.number), f.integer);
        sheet.Time(row, 2, s.record, f.time, f.text);
        sheet.Number(row, 3, Hundredths(s.record.loss()), f.loss);
        sheet.Text(row, 4, c.Mark(s.mark), ResultFormat(f, s.mark));
        ++row;
    }
    return row + 1;
}

void SummarySheet(Sheet& sheet, const SpliceMatrix& m, const std::vector<std::string>& sheetNames,
                  const MatrixCaptions& c, const Formats& f) {
    lxw_worksheet* ws = sheet.get();
    Lxw().worksheet_set_column(ws, 0, 0, 26, nullptr);
    Lxw().worksheet_set_column(ws, 1, 1, 22, nullptr);
    Lxw().worksheet_set_column(ws, 2, 12, 13, nullptr);
    const JobDetails& job = m.job.details;
    sheet.Text(0, 0, c.title + " - " + job.name, f.title);
    lxw_row_t row = 2;
    for (const auto& [caption, value] : {std::pair{&c.job, &job.name},
                                         {&c.customer, &job.customer},
                                         {&c.contractor, &job.contractor},
                                         {&c.technicians, &job.technicians},
                                         {&c.notes, &job.notes}}) {
        sheet.Text(row, 0, *caption, f.caption);
        sheet.Text(row++, 1, *value);
    }
    const JobVerdict verdict = JudgeJob(m);
    sheet.Text(row, 0, c.verdict, f.caption);
    sheet.Text(row++, 1, c.Verdict(verdict),
               verdict.state == JobState::Passed   ? f.pass
               : verdict.state == JobState::Failed ? f.fail
                                                   : f.caption);
    sheet.Text(row, 0, c.maxLoss, f.caption);
    sheet.Number(row++, 1, Hundredths(m.limits.maxLoss), f.loss);
    sheet.Text(row, 0, c.maxAngle, f.caption);
    sheet.Number(row++, 1, m.limits.maxAngle / 10.0, f.angle);
    ++row;

    // Counts per closure, then the job's.
    const std::array<const std::string*, 12> header{
        &c.closure,   &c.location,  &c.latitude, &c.longitude,
        &c.positions, &c.spliced,   &c.passed,   &c.Mark(Mark::Failed),
        &c.overLimit, &c.respliced, &c.planned,  &c.replacedCount};
    for (std::size_t k = 0; k < header.size(); ++k)
        sheet.Text(row, static_cast<lxw_col_t>(k), *header[k], f.header);
    ++row;
    auto counts = [&](lxw_row_t at, const MatrixCounts& n) {
        const std::array<std::size_t, 8> values{n.positions,
                                                n.spliced,
                                                n.passed,
                                                n.failed,
                                                n.overLimit,
                                                n.respliced,
                                                n.positions - n.spliced,
                                                n.replaced};
        for (std::size_t k = 0; k < values.size(); ++k)
            sheet.Number(at, static_cast<lxw_col_t>(4 + k), static_cast<double>(values[k]),
                         f.integer);
    };
    for (std::size_t i = 0; i < m.closures.size(); ++i) {
        const ClosureDetails& closure = m.closures[i].closure.details;
        sheet.Text(row, 0,
                   sheetNames[i + 1] == closure.name
                       ? closure.name
                       : closure.name + "  (" + sheetNames[i + 1] + ")",
                   f.text);
        sheet.Text(row, 1, closure.location, f.text);
        if (closure.point) {
            sheet.Number(row, 2, closure.point->latitude, f.degrees);
            sheet.Number(row, 3, closure.point->longitude, f.degrees);
        } else {
            sheet.Blank(row, 2, f.text);
            sheet.Blank(row, 3, f.text);
        }
        counts(row++, m.closures[i].counts);
    }
    sheet.Text(row, 0, c.total, f.header);
    counts(row++, m.totals);
    ++row;
    row = SpliceList(sheet, row, c.unplaced, m.unplaced, c, f);
    SpliceList(sheet, row, c.testSplices, m.testSplices, c, f);
}

// One cell of a closure's sheet, written as its column formats it.
void WriteCell(Sheet& sheet, lxw_row_t row, const MatrixColumnInfo& column, const MatrixCell& cell,
               const Formats& f) {
    const auto col = static_cast<lxw_col_t>(column.column);
    const auto colour = static_cast<std::size_t>(cell.colour);
    const bool empty = cell.text.empty() && !cell.number;
    switch (column.format) {
        case CellFormat::Integer:
        case CellFormat::Loss:
        case CellFormat::Tube:
            if (!cell.number) return sheet.Blank(row, col, f.text);
            return sheet.Number(row, col, *cell.number,
                                column.format == CellFormat::Integer ? f.integer
                                : column.format == CellFormat::Loss  ? f.loss
                                                                     : f.tube[colour]);
        case CellFormat::Colour:
            return sheet.Text(row, col, cell.text, f.colour[colour]);
        case CellFormat::Mark:
            if (!cell.splice) return sheet.Blank(row, col, f.text);
            return sheet.Text(row, col, cell.text, ResultFormat(f, cell.splice->mark));
        case CellFormat::Time:
            if (!cell.splice) return sheet.Blank(row, col, f.text);
            return sheet.Time(row, col, cell.splice->record, f.time, f.text);
        case CellFormat::Text:
            break;
    }
    if (empty) return sheet.Blank(row, col, f.text);
    sheet.Text(row, col, cell.text, f.text);
}

void ClosureSheet(Sheet& sheet, const MatrixClosure& closure, const MatrixCaptions& c,
                  const Formats& f) {
    lxw_worksheet* ws = sheet.get();
    for (const MatrixColumnInfo& column : MatrixColumns()) {
        const auto col = static_cast<lxw_col_t>(column.column);
        Lxw().worksheet_set_column(ws, col, col, column.width, nullptr);
        sheet.Text(0, col, c[column.column], f.header);
    }
    lxw_row_t row = 1;
    for (const MatrixRow& r : closure.rows) {
        for (const MatrixColumnInfo& column : MatrixColumns())
            WriteCell(sheet, row, column, column.read(r, c), f);
        ++row;
    }
    Lxw().worksheet_freeze_panes(ws, 1, 0);
    Lxw().worksheet_autofilter(ws, 0, 0, std::max<lxw_row_t>(row - 1, 1),
                               static_cast<lxw_col_t>(kMatrixColumns - 1));
}

// The writer's failure in the program's words: what the system said where a file
// could not be made or written (a full disk, say), else what the writer calls it.
std::string WriterError(lxw_error error, int systemError) {
    switch (error) {
        case LXW_ERROR_CREATING_XLSX_FILE:
        case LXW_ERROR_CREATING_TMPFILE:
        case LXW_ERROR_READING_TMPFILE:
        case LXW_ERROR_ZIP_FILE_OPERATION:
        case LXW_ERROR_ZIP_FILE_ADD:
        case LXW_ERROR_ZIP_CLOSE:
            if (systemError != 0) return std::strerror(systemError);
            break;
        default:
            break;
    }
    return std::string("the spreadsheet writer failed: ") + Lxw().lxw_strerror(error);
}

// The workbook, written by the writer into the file `scratch`, which it makes anew.
FileWriteResult WriteWorkbook(const fs::path& scratch, const SpliceMatrix& matrix,
                              const MatrixCaptions& captions) {
    const std::string scratchName = PathText(scratch);
    // The writer's own temporary files go beside the workbook rather than to the
    // system's temporary folder, which may be small or full. It opens them by the C
    // library's narrow names: a folder the system's code page cannot name (Windows)
    // leaves them in the temporary folder.
    std::optional<std::string> tmpdir =
        CLibraryPathText(scratch.has_parent_path() ? scratch.parent_path() : ".");
    lxw_error error = LXW_NO_ERROR;
    int systemError = 0;
    {
        // The writer prints numbers with printf: a decimal point whatever the locale.
        const CNumbersOnThisThread cNumbers;
        // It prints its failures too; the program tells them in its own words.
        const StandardErrorSilenced quiet;
        lxw_workbook_options options{};
        if (tmpdir) options.tmpdir = tmpdir->data();
        lxw_workbook* book = Lxw().workbook_new_opt(scratchName.c_str(), &options);
        if (!book) return {false, "the spreadsheet writer could not start"};
        std::vector<std::string> names;
        SheetName(captions.summary, names);
        for (const MatrixClosure& closure : matrix.closures)
            SheetName(closure.closure.details.name, names);
        lxw_doc_properties properties{};
        const std::string title = PlainText(captions.title + " - " + matrix.job.details.name);
        properties.title = const_cast<char*>(title.c_str());
        Lxw().workbook_set_properties(book, &properties);
        const Formats formats(book, captions);
        std::vector<lxw_worksheet*> sheets;
        for (const std::string& name : names) {
            lxw_worksheet* sheet = Lxw().workbook_add_worksheet(book, name.c_str());
            if (!sheet) error = LXW_ERROR_SHEETNAME_ALREADY_USED;
            sheets.push_back(sheet);
        }
        if (error == LXW_NO_ERROR) {
            Sheet summary(sheets[0], error);
            SummarySheet(summary, matrix, names, captions, formats);
            for (std::size_t i = 0; i < matrix.closures.size(); ++i) {
                Sheet sheet(sheets[i + 1], error);
                ClosureSheet(sheet, matrix.closures[i], captions, formats);
            }
        }
        errno = 0;
        const lxw_error closed = Lxw().workbook_close(book);  // writes the file, frees the book
        systemError = errno;
        if (error == LXW_NO_ERROR) error = closed;
    }
    if (error != LXW_NO_ERROR) return {false, WriterError(error, systemError)};
    return {true, {}};
}

// A workbook the writer made is read back whole up to this size (4 GiB, ZIP's own bound).
constexpr std::uintmax_t kMaxWorkbookBytes = std::uintmax_t{1} << 32;

// The writer opens its file by the C library's narrow name (the system's code page on
// Windows): a scratch file it cannot name so is written in the temporary folder first
// and its bytes copied into `scratch`.
FileWriteResult WriteNamedWorkbook(const fs::path& scratch, const SpliceMatrix& matrix,
                                   const MatrixCaptions& captions) {
    if (CLibraryPathText(scratch)) return WriteWorkbook(scratch, matrix, captions);
    std::error_code ec;
    const fs::path temporary =
        fs::temp_directory_path(ec) /
        ("velmora-matrix-" + std::to_string(std::random_device{}()) + ".xlsx");
    FileWriteResult written = WriteWorkbook(temporary, matrix, captions);
    if (written.ok) {
        const FileReadResult read = ReadWholeFile(temporary, kMaxWorkbookBytes);
        std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
        out.write(read.bytes.data(), static_cast<std::streamsize>(read.bytes.size()));
        out.close();
        if (!read.ok() || !out) written = {false, "the spreadsheet could not be copied"};
    }
    fs::remove(temporary, ec);
    return written;
}

FileWriteResult Write(const fs::path& target, const SpliceMatrix& matrix,
                      const MatrixCaptions& captions) {
    std::string notLoaded;
    if (!XlsxWriter(notLoaded)) return {false, notLoaded};
    return PreparedFile(target,
                        [&](const fs::path& scratch) {
                            return WriteNamedWorkbook(scratch, matrix, captions);
                        })
        .Commit();
}

}  // namespace

FileWriteResult WriteMatrixXlsx(const fs::path& file, const SpliceMatrix& matrix,
                                const MatrixCaptions& captions) {
    try {
        return Write(file, matrix, captions);
    } catch (const std::exception& e) {
        // Out of memory, say: told like any other failure.
        return {false, e.what()};
    }
}

}  // namespace velmora::jobs
