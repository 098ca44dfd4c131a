#include "report/report_texts.h"

#include <cstdio>

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

std::string Fill(const std::string& pattern, const std::string& value) {
    // Only a "%s" is filled: a caption from a language file is never a format string.
    const std::size_t at = pattern.find("%s");
    if (at == std::string::npos) return pattern + " " + value;
    return pattern.substr(0, at) + value + pattern.substr(at + 2);
}

std::string Fill(const std::string& pattern, int first, int second) {
    std::string text = pattern;
    for (int value : {first, second}) {
        const std::size_t at = text.find("%d");
        if (at == std::string::npos) break;
        text.replace(at, 2, std::to_string(value));
    }
    return text;
}

std::string SayWith(const Message& message, const std::string& value) {
    return Fill(Say(message), value);
}

}  // namespace velmora::report
