#pragma once
// Export of the downloaded records to a comma-separated file for a spreadsheet:
// where it goes, its name, its exact lines, and writing it without ever leaving
// a half-written file in place of a good one.
#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "base/atomic_file.h"
#include "history/splice_record.h"

namespace velmora {

// The CSV folder of the connected splicer: DeviceFolder/CSV. Before any splicer
// is known (DeviceFolder empty) exports go to AppDirectory/CSV instead, never to
// a folder at the root of the file system.
std::filesystem::path CsvFolder(const std::filesystem::path& deviceFolder,
                                const std::filesystem::path& appDirectory);

// Creates DeviceFolder/CSV when it is missing; does nothing while no splicer is
// known. True when the folder exists afterwards.
bool EnsureCsvFolder(const std::filesystem::path& deviceFolder);

// "20261205.csv": four-digit year, two-digit month and day.
std::string CsvFileName(std::chrono::year_month_day date);
std::chrono::year_month_day LocalToday();
std::filesystem::path CsvExportPath(const std::filesystem::path& deviceFolder,
                                    const std::filesystem::path& appDirectory,
                                    std::chrono::year_month_day date);

// The header line: an empty cell, then the fifteen detail captions; "," after the
// first two cells and ", " after the others. UTF-8, ends in CR LF.
std::string CsvHeaderLine(const std::array<std::string, kDetailRowCount>& captions);

// One record's line, numbered position + 1, in the header's column order, with the
// blanks the file has always had (two before the fibre type, none before the LF
// angle) and a comma at the end. UTF-8, ends in CR LF.
std::string CsvRecordLine(std::size_t position, const SpliceRecord& record, TableLanguage language);

// The whole file as written: header and record lines, in GBK when the tables are Chinese.
std::string CsvDocument(const RecordStore& store,
                        const std::array<std::string, kDetailRowCount>& captions,
                        TableLanguage language,
                        const std::function<void(int percent)>& progress = {});

// The same document built as the records arrive, so that a program waiting for a
// download has it ready at its end: Add the records in their order, then Take.
class CsvBuilder {
  public:
    CsvBuilder(const std::array<std::string, kDetailRowCount>& captions, TableLanguage language);
    void Add(std::span<const SpliceRecord> records);
    std::size_t Count() const { return count_; }
    // The document as CsvDocument makes it for the records added.
    std::string Take() && { return std::move(text_); }

  private:
    TableLanguage language_;
    std::string text_;
    std::size_t count_ = 0;
};

// One export as every front end runs it: the records, where they go, in which
// captions and language, and whether they are all the splicer announced.
struct CsvExport {
    std::filesystem::path file;
    RecordStore records;
    std::array<std::string, kDetailRowCount> captions;
    TableLanguage language = TableLanguage::English;
    // Set when the records are what a download that did not end whole left (cut
    // short, garbled or cancelled): the number the splicer announced. Such a list
    // is exported only knowingly, and said to be partial.
    std::optional<std::size_t> partialOf;
};

// Writes the export to its file, replacing it only once the new one is complete (a
// temporary file beside it, then a rename); creates the folder if needed. On
// failure nothing is left behind and the result says what the system reported.
// Never throws: pages call it on their workers.
FileWriteResult WriteCsvExport(const CsvExport& job,
                               const std::function<void(int percent)>& progress = {});
// The first step of the same for a document made before (CsvDocument): the folder
// made and the file written beside its place (PreparedFile), for a program that
// does it while it still waits for the download's verdict, and commits it or not.
PreparedFile PrepareCsvDocument(const std::filesystem::path& file, const std::string& document);

}  // namespace velmora
