#include "history/history_texts.h"

#include <cstdio>

#include "base/language.h"
#include "base/path_text.h"
#include "protocol/outcome_texts.h"

namespace velmora {
namespace {

std::string Format(const Message& message, const std::string& a, const std::string& b = {}) {
    const std::string pattern = Say(message);
    std::string text(pattern.size() + a.size() + b.size() + 1, '\0');
    int n = std::snprintf(text.data(), text.size(), pattern.c_str(), a.c_str(), b.c_str());
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
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
    return Format(history_msg::FileExists, PathText(file));
}

std::string FileNotSavedText(const std::filesystem::path& file, const std::string& reason) {
    return Format(history_msg::FileNotSaved, PathText(file), reason);
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
    if (receipt.start.step == ReceiveStep::TooMany) return TooManyRecordsText(receipt.start.count);
    if (receipt.start.step == ReceiveStep::Download &&
        receipt.download.outcome == Outcome::Unexpected) {
        static constexpr Message kGarbled{"第 %d 条记录数据错误，本次接收无效",
                                          "Record %d arrived garbled; this download is refused"};
        static constexpr Message kSurplus{"熔接机发来的记录多于它所报的数量，本次接收无效",
                                          "The splicer sent more than the records it announced; "
                                          "this download is refused"};
        if (!receipt.download.garbledRecord) return Say(kSurplus);
        char text[200];
        std::snprintf(text, sizeof text, Say(kGarbled).c_str(),
                      static_cast<int>(*receipt.download.garbledRecord + 1));
        return text;
    }
    if (receipt.start.step == ReceiveStep::Download && receipt.download.stalled) {
        static constexpr Message kStalled{"熔接机在发送 %d / %d 条记录后停止发送",
                                          "The splicer stopped sending after %d of %d records"};
        char text[200];
        std::snprintf(text, sizeof text, Say(kStalled).c_str(),
                      static_cast<int>(receipt.download.recordsListed),
                      static_cast<int>(receipt.download.recordsAnnounced));
        return text;
    }
    const Outcome outcome = receipt.start.step == ReceiveStep::Download ? receipt.download.outcome
                                                                        : receipt.start.outcome;
    const Message* text = StandardFailureText(outcome);
    return text && outcome != Outcome::Cancelled ? Say(*text) : std::string();
}

}  // namespace velmora
