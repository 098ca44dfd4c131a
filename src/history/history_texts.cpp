#include "history/history_texts.h"

#include <cstdio>

#include "base/language.h"
#include "base/path_text.h"
#include "protocol/outcome_texts.h"

namespace velmora {
namespace {

constexpr Message kGarbled{"第 %s 条记录数据错误，本次接收无效",
                           "Record %s arrived garbled; this download is refused"};
constexpr Message kSurplus{
    "熔接机发来的记录多于它所报的数量，本次接收无效",
    "The splicer sent more than the records it announced; this download is refused"};
constexpr Message kStalled{"熔接机在发送 %s / %s 条记录后停止发送",
                           "The splicer stopped sending after %s of %s records"};
constexpr Message kCancelled{"接收已取消：已收到 %s / %s 条记录",
                             "Download cancelled after %s of %s records"};
constexpr Message kPartialQuestion{
    "上次接收未完成，只收到 %s / %s 条记录，导出的文件将不完整。是否仍然导出？",
    "The last download did not finish: only %s of %s records arrived, so the file will be "
    "incomplete. Export them anyway?"};
constexpr Message kPartialSaved{"（不完整：%s / %s 条记录）", "(incomplete: %s of %s records)"};

std::string Number(std::size_t n) {
    return std::to_string(n);
}

}  // namespace

std::array<std::string, kDetailRowCount> DetailCaptions() {
    static_assert(keys::HistoryDetailRows.size() == kDetailRowCount);
    std::array<std::string, kDetailRowCount> captions;
    for (std::size_t i = 0; i < kDetailRowCount; ++i)
        captions[i] = Text(keys::HistoryDetailRows[i]);
    return captions;
}

std::string FileExistsText(const std::filesystem::path& file) {
    return Say(history_msg::FileExists, {PathText(file)});
}

std::string FileNotSavedText(const std::filesystem::path& file, const std::string& reason) {
    return FileWriteProblemText(file, {false, reason});
}

std::string PartialExportQuestion(const CsvExport& job) {
    if (!job.partialOf) return {};
    return Say(kPartialQuestion, {Number(job.records.size()), Number(*job.partialOf)});
}

std::string ExportSavedText(const CsvExport& job) {
    // Where the file went, after the usual text.
    std::string text = Say(history_msg::FileSaved) + "\n" + PathText(job.file);
    if (job.partialOf)
        text += "\n" + Say(kPartialSaved, {Number(job.records.size()), Number(*job.partialOf)});
    return text;
}

std::string TooManyRecordsText(int count) {
    static constexpr Message kTooMany{
        "熔接机存有 %d 条记录，超出一次可接收的数量（最多 %d 条）",
        "The splicer holds %d records, more than can be received at once (at most %d)"};
    char text[200];
    std::snprintf(text, sizeof text, Say(kTooMany).c_str(), count, kMaxRecordCount);
    return text;
}

std::string ReceiptFailureText(const HistoryReceipt& receipt) {
    const ReceiveStart& start = receipt.start;
    const DownloadResult& download = receipt.download;
    if (start.step == ReceiveStep::TooMany) return TooManyRecordsText(start.count);
    if (start.step == ReceiveStep::NoRecords) return {};
    const bool downloading = start.step == ReceiveStep::Download;
    const Outcome outcome = downloading ? download.outcome : start.outcome;
    // How far a download got: the records listed of those announced.
    const std::string listed = Number(download.recordsListed);
    const std::string announced = Number(download.recordsAnnounced);
    if (downloading && outcome == Outcome::Unexpected)
        return download.garbledRecord ? Say(kGarbled, {Number(*download.garbledRecord + 1)})
                                      : Say(kSurplus);
    if (downloading && outcome == Outcome::NoAnswer && download.stalled)
        return Say(kStalled, {listed, announced});
    if (downloading && outcome == Outcome::Cancelled) return Say(kCancelled, {listed, announced});
    if (outcome == Outcome::Accepted) return {};
    // A count answer that is intact but not one.
    if (outcome == Outcome::Unexpected) return Say(msg::DataError);
    const Message* text = StandardFailureText(outcome);
    return text ? Say(*text) : std::string();
}

}  // namespace velmora
