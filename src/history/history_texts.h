#pragma once
// How the Result page and velmora-cli word the history: captions from the
// language files and the messages of the download and the export.
#include <array>
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "history/csv_export.h"
#include "history/history_download.h"
#include "history/splice_record.h"

namespace velmora {

// Texts of the export, beside the common ones in msg.
namespace history_msg {
inline constexpr Message NoRecord{"没有历史记录", "There is no record"};
inline constexpr Message NoRecordCaption{"警告", "Info"};
inline constexpr Message FileExists{"%s 文件已经存在，是否覆盖",
                                    "%s File already exists, overwrite"};
inline constexpr Message FileSaved{"文件保存成功!", "File successfully!"};
}  // namespace history_msg

// The detail rows' captions from the language files, English defaults where empty.
std::array<std::string, kDetailRowCount> DetailCaptions();

// The overwrite question with the path in it, in the language of the run.
std::string FileExistsText(const std::filesystem::path& file);
// FileWriteProblemText for a caller that holds only the system's reason.
std::string FileNotSavedText(const std::filesystem::path& file, const std::string& reason);

// The question before a partial list is exported: how many of how many records.
std::string PartialExportQuestion(const CsvExport& job);
// The box after the export was written: where it went, and how partial it is.
std::string ExportSavedText(const CsvExport& job);

// The refusal of a count above kMaxRecordCount.
std::string TooManyRecordsText(int count);

// What to say of a Receive that did not end with every record (a stop on request
// included: how far it got), or "" when it did.
std::string ReceiptFailureText(const HistoryReceipt& receipt);

}  // namespace velmora
