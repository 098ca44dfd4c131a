#pragma once
// One stored splice: the 34-byte record the splicer keeps per splice, inside a
// 38-byte frame of the download stream, and every text it is shown or exported as.
// Pure functions; the language is passed in, never read from the settings here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmora {

inline constexpr std::size_t kRecordSize = 34;
// 0x87, 0x64, length, the record, check.
inline constexpr std::size_t kRecordFrameSize = 38;
// Where the record starts inside its frame.
inline constexpr std::size_t kRecordOffsetInFrame = 3;

// Option tables are English only when the language flag is exactly 1.
enum class TableLanguage { Chinese, English };
TableLanguage TableLanguageFor(int englishFlag);

// Kept exactly as received; each field is read from its fixed offset on demand.
struct SpliceRecord {
    std::array<std::uint8_t, kRecordSize> bytes{};

    // The record that starts at offset 3 of `frame` (which holds at least 38 bytes).
    static SpliceRecord FromFrame(std::span<const std::uint8_t> frame);

    int yearOffset() const { return bytes[0]; }  // year - 2000
    int month() const { return bytes[1]; }
    int day() const { return bytes[2]; }
    int hour() const { return bytes[3]; }
    int minute() const { return bytes[4]; }
    int second() const { return bytes[5]; }
    int result() const { return bytes[6]; }  // 0 success, 1 failure
    int loss() const { return U16(8); }      // hundredths of a dB
    int lfAngle() const { return U16(10); }  // tenths of a degree
    int rfAngle() const { return U16(12); }
    int fiberType() const { return static_cast<std::int8_t>(bytes[14]); }  // from 0
    int spliceMode() const { return U16(16); }                             // from 1
    int alignType() const { return U16(18); }
    int alignSpace() const { return U16(20); }
    int arcLine() const { return static_cast<std::int16_t>(U16(22)); }
    int prefuseArcData() const { return U16(24); }
    int prefuseArcTime() const { return U16(26); }  // ms
    int arcData() const { return U16(28); }
    int arcTime() const { return U16(30); }  // ms
    int overLength() const { return U16(32); }

  private:
    // Little-endian: low byte first.
    int U16(std::size_t at) const { return bytes[at] | (bytes[at + 1] << 8); }
};

// The store the page lists and exports; row k of the index list is record k.
using RecordStore = std::vector<SpliceRecord>;

// Whether the record's time fields make a real date and time.
bool HasRealTime(const SpliceRecord& record);

// "2026-03-07 09:05:30": four-digit year, the other parts "0%d" below 10.
std::string TimeText(const SpliceRecord& record);
// Detail list: "Success"/"Failure", anything else "Unknown(n)".
std::string ResultListText(const SpliceRecord& record, TableLanguage language);
// CSV file: 0 is "Success", every other value "Failure".
std::string ResultCsvText(const SpliceRecord& record, TableLanguage language);
std::string LossText(const SpliceRecord& record);  // "0.15"
std::string AngleText(int tenths);                 // "0.5"
// Program names are the same in both languages; the language only words a value
// outside the table, shown as "Unknown(n)" / "未知(n)" instead of reading past it.
std::string FiberTypeText(const SpliceRecord& record, TableLanguage language);
std::string SpliceModeText(const SpliceRecord& record, TableLanguage language);
std::string AlignText(const SpliceRecord& record, TableLanguage language);
std::string NumberText(int value);       // "%d"
std::string MillisecondText(int value);  // "%d ms"

// The fifteen values of the detail list, in its row order (the order of
// keys::HistoryDetailRows): time, result, loss, splice mode, align type, align
// space, arc line, prefuse arc data and time, arc data and time, over length,
// fibre type, LF and RF angle.
inline constexpr std::size_t kDetailRowCount = 15;
std::array<std::string, kDetailRowCount> DetailTexts(const SpliceRecord& record,
                                                     TableLanguage language);

// One row of the index list. `position` stays with the row through sorting, so a
// chosen row always shows its own record.
struct IndexRow {
    std::size_t position;  // in the RecordStore
    std::string number;    // position + 1
    std::string time;
};
IndexRow MakeIndexRow(const RecordStore& store, std::size_t position);
std::vector<IndexRow> IndexRows(const RecordStore& store);

}  // namespace velmora
