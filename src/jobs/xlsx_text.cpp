#include "jobs/xlsx_text.h"

#include <algorithm>
#include <cctype>

#include "base/text_codec.h"

namespace velmora::jobs {
namespace {

constexpr std::size_t kMaxSheetName = 31;
// Longer cell texts are refused by the writer (and by spreadsheet programs).
constexpr std::size_t kMaxCellBytes = 32767;

// Where each UTF-8 character of `text` begins.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    return starts;
}

// At most `characters` characters of `text`, cut at a character boundary.
std::string FirstCharacters(std::string_view text, std::size_t characters) {
    const std::vector<std::size_t> starts = CharacterStarts(text);
    return std::string(starts.size() <= characters ? text : text.substr(0, starts[characters]));
}

// Each character of `text` as UTF-8 (a byte that is not one is U+FFFD): its code
// point, its bytes and the text from it on; until `each` returns false.
template <class Each>
void ForEachCharacter(std::string_view raw, Each each) {
    const std::string valid = ValidUtf8(raw);
    const std::string_view text = valid;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Character c = DecodeUtf8At(text.substr(i));
        if (!each(c.point, text.substr(i, c.length), text.substr(i))) return;
        i += c.length;
    }
}

// "_x0041_": the format's escape of a character, which a reader would decode.
bool StartsWithEscape(std::string_view text) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    return text.size() >= 7 && text.starts_with("_x") &&
           std::all_of(text.begin() + 2, text.begin() + 6, hex) && text[6] == '_';
}

}  // namespace

std::string CellText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCharacter(text, [&](char32_t c, std::string_view piece, std::string_view rest) {
        if (c == 0xFFFE) piece = "_xFFFE_";
        if (c == 0xFFFF) piece = "_xFFFF_";
        if (StartsWithEscape(rest)) piece = "_x005F_";
        if (out.size() + piece.size() > kMaxCellBytes) return false;
        out += piece;
        return true;
    });
    return out;
}

std::string PlainText(std::string_view text) {
    std::string out;
    ForEachCharacter(text, [&](char32_t c, std::string_view character, std::string_view) {
        out += NotInXml(c) ? std::string_view("\xEF\xBF\xBD") : character;
        return true;
    });
    return out;
}

std::string SheetName(std::string_view name, std::vector<std::string>& taken) {
    // What a sheet name may not hold, and what XML cannot, becomes '_'.
    std::string safe;
    ForEachCharacter(name, [&](char32_t c, std::string_view character, std::string_view rest) {
        const bool refused = NotInXml(c) || c == 0x7F ||
                             (c < 0x80 && std::string_view("[]:*?/\\").find(static_cast<char>(c)) !=
                                              std::string_view::npos);
        // A sheet name has no escape of its own, yet some readers decode "_xHHHH_" in
        // it: such a sequence is broken up.
        safe += refused ? std::string_view("_") : StartsWithEscape(rest) ? "-" : character;
        return true;
    });
    auto trimmed = [](std::string s) {
        while (!s.empty() && s.front() == '\'') s.erase(0, 1);
        while (!s.empty() && s.back() == '\'') s.pop_back();
        return s;
    };
    safe = trimmed(FirstCharacters(trimmed(safe), kMaxSheetName));
    if (safe.empty()) safe = "_";
    // Spreadsheet programs tell sheet names apart without regard to case, over all
    // of Unicode; "History" is Excel's own.
    auto isTaken = [&taken](const std::string& candidate) {
        const std::string folded = FoldCase(candidate);
        if (folded == "history") return true;
        return std::any_of(taken.begin(), taken.end(),
                           [&](const std::string& t) { return FoldCase(t) == folded; });
    };
    std::string unique = safe;
    for (int n = 2; isTaken(unique); ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        unique = trimmed(FirstCharacters(safe, kMaxSheetName - suffix.size())) + suffix;
    }
    taken.push_back(unique);
    return unique;
}

}  // namespace velmora::jobs
