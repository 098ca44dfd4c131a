#include "jobs/plan_file.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "base/file_read.h"
#include "base/language.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "base/text_codec.h"
#include "base/xml_reader.h"
#include "base/zip_reader.h"

namespace velmora::jobs {
namespace {

// No plan the program reads comes near these: bounds for what a file may claim.
constexpr std::uintmax_t kMaxPlanFileBytes = 64ull << 20;
constexpr std::size_t kMaxPartBytes = 128u << 20;      // one part of a workbook, inflated
constexpr std::size_t kMaxWorkbookBytes = 256u << 20;  // all the parts read, inflated
constexpr std::size_t kMaxColumn = 16384;              // XFD, a spreadsheet's last column

// The plan's columns, in the order of PlannedPosition's fields.
enum Field { kClosure, kTray, kPosition, kCableA, kFibreA, kCableB, kFibreB, kFields };
constexpr std::array<const TextKey*, kFields> kFieldCaptions{
    &keys::job_files::Closure,   &keys::job_files::ColTray,   &keys::job_files::ColPosition,
    &keys::job_files::ColCableA, &keys::job_files::ColFibreA, &keys::job_files::ColCableB,
    &keys::job_files::ColFibreB};

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

std::string Folded(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

// A header's columns of the plan's fields, found by caption (the run's language or
// English, ignoring case and blanks around it); -1 where a field has none.
std::array<int, kFields> FindColumns(const std::vector<std::string>& header) {
    std::array<int, kFields> at;
    at.fill(-1);
    for (int field = 0; field < kFields; ++field) {
        const std::string local = Folded(Text(*kFieldCaptions[field]));
        const std::string english = Folded(kFieldCaptions[field]->english);
        for (std::size_t column = 0; column < header.size() && at[field] < 0; ++column) {
            const std::string name = Folded(Trimmed(header[column]));
            if (name == local || name == english) at[field] = static_cast<int>(column);
        }
    }
    return at;
}

// A whole number of at least 1, as a cell holds it ("12", or "12.0" from a number
// cell); nothing for anything else.
std::optional<int> WholeNumber(const std::string& text) {
    std::string_view digits = text;
    if (const auto point = digits.find('.'); point != std::string_view::npos) {
        if (digits.substr(point + 1).find_first_not_of('0') != std::string_view::npos)
            return std::nullopt;
        digits = digits.substr(0, point);
    }
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != digits.npos)
        return std::nullopt;
    const int value = std::stoi(std::string(digits));
    return value >= 1 ? std::optional(value) : std::nullopt;
}

// The rows of one table (a CSV file, a sheet) after its header, into `reading`;
// false once a problem is found. A sheet without a closure column is of the closure
// its name says.
bool TakeRows(const std::vector<std::string>& header,
              const std::vector<std::pair<std::size_t, std::vector<std::string>>>& rows,
              const std::string& sheet, std::size_t headerRow, PlanReading& reading) {
    const std::array<int, kFields> at = FindColumns(header);
    const bool closureOfSheet = !sheet.empty() && at[kClosure] < 0;
    for (int field = closureOfSheet ? kTray : kClosure; field < kFields; ++field) {
        if (at[field] >= 0) continue;
        reading.problem = PlanProblem::MissingColumn;
        reading.at = {sheet, headerRow, closureOfSheet};
        reading.detail = Text(*kFieldCaptions[field]);
        return false;
    }
    for (const auto& [number, cells] : rows) {
        const bool blank = std::all_of(cells.begin(), cells.end(),
                                       [](const std::string& c) { return Trimmed(c).empty(); });
        if (blank) continue;
        const PlanSource source{sheet, number, closureOfSheet};
        std::array<std::string, kFields> values;
        for (int field = 0; field < kFields; ++field) {
            if (field == kClosure && closureOfSheet) {
                values[field] = sheet;
                continue;
            }
            const auto column = static_cast<std::size_t>(at[field]);
            values[field] = column < cells.size() ? Trimmed(cells[column]) : std::string();
            if (values[field].empty()) {
                reading.problem = PlanProblem::EmptyCell;
                reading.at = source;
                reading.detail = Text(*kFieldCaptions[field]);
                return false;
            }
        }
        std::array<int, kFields> numbers{};
        for (int field : {kTray, kPosition, kFibreA, kFibreB}) {
            const std::optional<int> n = WholeNumber(values[field]);
            if (!n) {
                reading.problem = PlanProblem::BadNumber;
                reading.at = source;
                reading.detail = Text(*kFieldCaptions[field]);
                reading.value = values[field];
                return false;
            }
            numbers[field] = *n;
        }
        if (reading.plan.positions.size() >= kMaxPlanPositions) {
            reading.problem = PlanProblem::TooManyPositions;
            return false;
        }
        reading.plan.positions.push_back({values[kClosure], numbers[kTray], numbers[kPosition],
                                          values[kCableA], numbers[kFibreA], values[kCableB],
                                          numbers[kFibreB]});
        reading.plan.sources.push_back(source);
    }
    return true;
}

// ---- CSV ----

// The records of a CSV file: fields split at commas, quoted fields (a doubled quote
// inside one stands for a quote) may hold commas and line breaks; CR LF or LF ends
// a record.
std::vector<std::vector<std::string>> CsvRecords(std::string_view text) {
    std::vector<std::vector<std::string>> records(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            records.back().push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            records.back().push_back(std::move(field));
            field.clear();
            records.emplace_back();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !records.back().empty()) records.back().push_back(std::move(field));
    if (records.back().empty()) records.pop_back();
    return records;
}

PlanReading ReadCsv(std::string_view bytes) {
    PlanReading reading;
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    // UTF-8 as the program reads text; else GBK, as it writes a Chinese run's files.
    const std::string text = IsValidUtf8(bytes) ? std::string(bytes) : GbkToUtf8(bytes);
    std::vector<std::vector<std::string>> records = CsvRecords(text);
    std::size_t header = 0;
    while (header < records.size() &&
           std::all_of(records[header].begin(), records[header].end(),
                       [](const std::string& c) { return Trimmed(c).empty(); }))
        ++header;
    if (header == records.size()) {
        reading.problem = PlanProblem::NoPositions;
        return reading;
    }
    std::vector<std::pair<std::size_t, std::vector<std::string>>> rows;
    for (std::size_t i = header + 1; i < records.size(); ++i)
        rows.emplace_back(i + 1, std::move(records[i]));
    if (TakeRows(records[header], rows, "", header + 1, reading) && reading.plan.positions.empty())
        reading.problem = PlanProblem::NoPositions;
    return reading;
}

// ---- XLSX ----

// A workbook's parts, read within one budget for all of them.
class Workbook {
  public:
    explicit Workbook(const ZipReader& zip) : zip_(zip) {}

    std::optional<std::string> Part(const std::string& name, std::string& why) {
        auto part = zip_.Read(name, std::min(kMaxPartBytes, budget_), &why);
        if (part) budget_ -= part->size();
        return part;
    }
    bool Has(const std::string& name) const { return zip_.Has(name); }

  private:
    const ZipReader& zip_;
    std::size_t budget_ = kMaxWorkbookBytes;
};

// Runs `onEvent` for every event of `xml` but the last; false, with `why`, for a
// document the reader refuses.
template <class OnEvent>
bool Walk(std::string_view xml, std::string& why, OnEvent onEvent) {
    XmlReader reader(xml);
    for (XmlReader::Event e = reader.Next(); e != XmlReader::Event::Done; e = reader.Next()) {
        if (e == XmlReader::Event::Error) {
            why = "a part of the workbook is not well-formed XML: " + reader.Why();
            return false;
        }
        onEvent(e, reader);
    }
    return true;
}

// The shared strings: each <si>'s text runs, its phonetic guides (<rPh>) left out.
bool SharedStrings(std::string_view xml, std::vector<std::string>& strings, std::string& why) {
    bool inPhonetic = false, inText = false;
    return Walk(xml, why, [&](XmlReader::Event e, const XmlReader& r) {
        if (e == XmlReader::Event::Start) {
            if (r.Name() == "si") strings.emplace_back();
            if (r.Name() == "rPh") inPhonetic = true;
            if (r.Name() == "t") inText = true;
        } else if (e == XmlReader::Event::End) {
            if (r.Name() == "rPh") inPhonetic = false;
            if (r.Name() == "t") inText = false;
        } else if (inText && !inPhonetic && !strings.empty()) {
            strings.back() += r.Text();
        }
    });
}

// "C12" to column 2 (0 the first); nothing for a reference that is not one.
std::optional<std::size_t> ColumnOf(std::string_view reference) {
    std::size_t column = 0, letters = 0;
    for (char c : reference) {
        if (c < 'A' || c > 'Z') break;
        column = column * 26 + static_cast<std::size_t>(c - 'A' + 1);
        if (++letters > 3) return std::nullopt;
    }
    if (letters == 0 || column > kMaxColumn) return std::nullopt;
    return column - 1;
}

// A shared string's index ("0", "12"); nothing for anything else.
std::optional<std::size_t> Index(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    return static_cast<std::size_t>(std::stoul(text));
}

using SheetRows = std::vector<std::pair<std::size_t, std::vector<std::string>>>;

// A sheet's rows, each with its number and its cells' texts by column.
bool SheetCells(std::string_view xml, const std::vector<std::string>& strings, SheetRows& rows,
                std::string& why) {
    std::string type, value;
    std::size_t column = 0;
    bool inValue = false, inCell = false, bad = false;
    const bool read = Walk(xml, why, [&](XmlReader::Event e, const XmlReader& r) {
        if (bad) return;
        if (e == XmlReader::Event::Start && r.Name() == "row") {
            const std::size_t next = rows.empty() ? 1 : rows.back().first + 1;
            rows.emplace_back(Index(r.Attribute("r").value_or("")).value_or(next),
                              std::vector<std::string>{});
            column = 0;
        } else if (e == XmlReader::Event::Start && r.Name() == "c" && !rows.empty()) {
            if (const auto reference = r.Attribute("r")) {
                const auto at = ColumnOf(*reference);
                if (!at) bad = true;
                column = at.value_or(0);
            }
            type = r.Attribute("t").value_or("n");
            value.clear();
            inCell = true;
        } else if (e == XmlReader::Event::Start && inCell && (r.Name() == "v" || r.Name() == "t")) {
            inValue = true;
        } else if (e == XmlReader::Event::Text && inValue) {
            value += r.Text();
        } else if (e == XmlReader::Event::End && (r.Name() == "v" || r.Name() == "t")) {
            inValue = false;
        } else if (e == XmlReader::Event::End && r.Name() == "c" && inCell) {
            inCell = false;
            if (type == "s") {
                const std::optional<std::size_t> index = Index(value);
                if (!index || *index >= strings.size()) {
                    bad = true;
                    return;
                }
                value = strings[*index];
            }
            std::vector<std::string>& cells = rows.back().second;
            if (cells.size() <= column) cells.resize(column + 1);
            cells[column] = value;
            ++column;
        }
    });
    if (read && bad) why = "a cell of the workbook refers to nothing it holds";
    return read && !bad;
}

// The workbook's sheets in order, each with the part that holds it.
bool Sheets(Workbook& book, std::vector<std::pair<std::string, std::string>>& sheets,
            std::string& why) {
    const auto workbook = book.Part("xl/workbook.xml", why);
    const auto relations = workbook ? book.Part("xl/_rels/workbook.xml.rels", why) : std::nullopt;
    if (!relations) return false;
    std::map<std::string, std::string> targets;
    if (!Walk(*relations, why, [&](XmlReader::Event e, const XmlReader& r) {
            if (e != XmlReader::Event::Start || r.Name() != "Relationship") return;
            targets[r.Attribute("Id").value_or("")] = r.Attribute("Target").value_or("");
        }))
        return false;
    return Walk(*workbook, why, [&](XmlReader::Event e, const XmlReader& r) {
        if (e != XmlReader::Event::Start || r.Name() != "sheet") return;
        std::string target = targets[r.Attribute("id").value_or("")];
        // Relative to xl/, or from the root of the package.
        target = target.starts_with('/') ? target.substr(1) : "xl/" + target;
        sheets.emplace_back(r.Attribute("name").value_or(""), target);
    });
}

PlanReading ReadXlsx(std::string_view bytes) {
    PlanReading reading;
    auto unreadable = [&reading](std::string why) {
        reading.problem = PlanProblem::Unreadable;
        reading.detail = std::move(why);
        return reading;
    };
    std::string why;
    const std::optional<ZipReader> zip = ZipReader::Open(bytes, &why);
    if (!zip) return unreadable(why);
    Workbook book(*zip);
    std::vector<std::pair<std::string, std::string>> sheets;
    if (!Sheets(book, sheets, why)) return unreadable(why);
    std::vector<std::string> strings;
    if (book.Has("xl/sharedStrings.xml")) {
        const auto shared = book.Part("xl/sharedStrings.xml", why);
        if (!shared || !SharedStrings(*shared, strings, why)) return unreadable(why);
    }
    bool anySheet = false;
    for (const auto& [name, part] : sheets) {
        reading.plan.sheets.push_back(name);
        const auto xml = book.Part(part, why);
        SheetRows rows;
        if (!xml || !SheetCells(*xml, strings, rows, why)) return unreadable(why);
        if (rows.empty()) continue;
        const std::array<int, kFields> at = FindColumns(rows.front().second);
        if (at[kTray] < 0 || at[kPosition] < 0) continue;  // not a sheet of positions
        anySheet = true;
        const std::vector<std::string> header = std::move(rows.front().second);
        const std::size_t headerRow = rows.front().first;
        rows.erase(rows.begin());
        if (!TakeRows(header, rows, name, headerRow, reading)) return reading;
    }
    if (!anySheet) {
        reading.problem = PlanProblem::NotAPlan;
    } else if (reading.plan.positions.empty()) {
        reading.problem = PlanProblem::NoPositions;
    }
    return reading;
}

}  // namespace

PlanReading ReadPlan(std::string_view bytes, bool xlsx) {
    return xlsx ? ReadXlsx(bytes) : ReadCsv(bytes);
}

PlanReading ReadPlanFile(const std::filesystem::path& file) {
    const FileReadResult read = ReadWholeFile(file, kMaxPlanFileBytes);
    if (!read.ok()) {
        PlanReading reading;
        reading.problem = PlanProblem::Unreadable;
        reading.detail = FileReadProblemText(file, read);
        return reading;
    }
    return ReadPlan(read.bytes, Folded(PathText(file.extension())) == ".xlsx");
}

std::string PlanSourceText(const PlanSource& source, const std::string& what) {
    if (source.sheet.empty())
        return FillNumbered(Text(keys::job_plan::Row), {std::to_string(source.row), what});
    return FillNumbered(Text(keys::job_plan::SheetRow),
                        {source.sheet, std::to_string(source.row), what});
}

std::string PlanProblemText(const PlanReading& reading, const std::filesystem::path& file) {
    namespace k = keys::job_plan;
    const std::string name = PathText(file);
    switch (reading.problem) {
        case PlanProblem::None:
            return {};
        case PlanProblem::Unreadable:
            return FillNumbered(Text(k::Unreadable), {name, reading.detail});
        case PlanProblem::NotAPlan:
            return FillNumbered(Text(k::NotAPlan), {name});
        case PlanProblem::MissingColumn:
            return PlanSourceText(reading.at,
                                  FillNumbered(Text(k::MissingColumn), {reading.detail}));
        case PlanProblem::EmptyCell:
            return PlanSourceText(reading.at, FillNumbered(Text(k::EmptyCell), {reading.detail}));
        case PlanProblem::BadNumber:
            return PlanSourceText(
                reading.at, FillNumbered(Text(k::BadNumber), {reading.detail, reading.value}));
        case PlanProblem::NoPositions:
            return FillNumbered(Text(k::NoPositions), {name});
        case PlanProblem::TooManyPositions:
            break;
    }
    return FillNumbered(Text(k::TooMany), {name, std::to_string(kMaxPlanPositions)});
}

}  // namespace velmora::jobs
