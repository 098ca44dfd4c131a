#include "report/report_texts.h"

#include "history/splice_record.h"

namespace velmora::report {

Captions LoadCaptions() {
    Captions captions;
    for (std::size_t i = 0; i < kCaptionKeys.size(); ++i) captions.text[i] = Text(kCaptionKeys[i]);
    // The Result page's detail rows: 0 time, 1 result, 2 loss, 3 splice mode,
    // 12 fibre type, 13 LF angle, 14 RF angle.
    static_assert(keys::HistoryDetailRows.size() == kDetailRowCount);
    constexpr std::array<std::size_t, 7> kColumnRows{0, 1, 2, 3, 12, 13, 14};
    for (std::size_t i = 0; i < kColumnRows.size(); ++i)
        captions.columns[i] = Text(keys::HistoryDetailRows[kColumnRows[i]]);
    return captions;
}

std::string FillCaption(const std::string& caption, std::string_view value) {
    if (caption.find("%s") == std::string::npos) return caption + " " + std::string(value);
    return FillText(caption, {value});
}

std::string PageText(const std::string& caption, int page, int pages) {
    std::string text = caption;
    for (int value : {page, pages}) {
        const std::size_t at = text.find("%d");
        if (at == std::string::npos) break;
        text.replace(at, 2, std::to_string(value));
    }
    return text;
}

}  // namespace velmora::report
