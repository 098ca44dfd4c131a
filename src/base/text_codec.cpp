#include "base/text_codec.h"

#include <algorithm>

#include "base/case_fold_table.h"

namespace velmora {

size_t Utf8SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if ((c >> 5) == 0x6) return 2;
    if ((c >> 4) == 0xE) return 3;
    if ((c >> 3) == 0x1E) return 4;
    return 1;
}

namespace {

// The length of the well-formed UTF-8 sequence at `i`, or 0: no overlong forms,
// no surrogates, nothing past U+10FFFF (what Qt and every decoder accept).
std::size_t WellFormedAt(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = byte(0);
    if (c < 0x80) return 1;
    std::size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    else
        return 0;
    if (i + len > s.size() || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((byte(k) & 0xC0) != 0x80) return 0;
    return len;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = WellFormedAt(s, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string ValidUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (const std::size_t len = WellFormedAt(s, i)) {
            out += s.substr(i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

Utf8Character DecodeUtf8At(std::string_view s) {
    if (s.empty()) return {};
    const std::size_t length = WellFormedAt(s, 0);
    const auto b = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[i]));
    };
    switch (length) {
        case 1:
            return {b(0), 1};
        case 2:
            return {((b(0) & 0x1F) << 6) | (b(1) & 0x3F), 2};
        case 3:
            return {((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F), 3};
        case 4:
            return {((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) |
                        (b(3) & 0x3F),
                    4};
        default:
            return {};
    }
}

void AppendUtf8(std::string& out, char32_t point) {
    const auto add = [&](char32_t bits) { out.push_back(static_cast<char>(bits)); };
    if (point < 0x80) {
        add(point);
    } else if (point < 0x800) {
        add(0xC0 | (point >> 6));
        add(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        add(0xE0 | (point >> 12));
        add(0x80 | ((point >> 6) & 0x3F));
        add(0x80 | (point & 0x3F));
    } else {
        add(0xF0 | (point >> 18));
        add(0x80 | ((point >> 12) & 0x3F));
        add(0x80 | ((point >> 6) & 0x3F));
        add(0x80 | (point & 0x3F));
    }
}

std::string FoldCase(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const Utf8Character c = DecodeUtf8At(s.substr(i));
        if (c.length == 0) {
            out += s[i++];
            continue;
        }
        i += c.length;
        char32_t folded = c.point;
        // The runs are in order of their first character: the one that may hold it.
        const auto run = std::upper_bound(
            case_fold::kRuns.begin(), case_fold::kRuns.end(), c.point,
            [](char32_t point, const case_fold::Run& r) { return point < r.first; });
        if (run != case_fold::kRuns.begin()) {
            const case_fold::Run& r = *(run - 1);
            if (c.point <= r.last && (c.point - r.first) % r.stride == 0)
                folded = static_cast<char32_t>(static_cast<std::int64_t>(c.point) + r.delta);
        }
        AppendUtf8(out, folded);
    }
    return out;
}

std::string FirstNotInGbk(std::string_view utf8) {
    if (GbkToUtf8(Utf8ToGbk(utf8)) == utf8) return {};
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t length = std::max<std::size_t>(DecodeUtf8At(utf8.substr(i)).length, 1);
        const std::string_view character = utf8.substr(i, length);
        if (GbkToUtf8(Utf8ToGbk(character)) != character) return std::string(character);
        i += length;
    }
    return std::string(utf8.substr(0, 1));  // the whole differs though no character does
}

std::string_view CutGbk(std::string_view gbk, std::size_t maxBytes) {
    size_t i = 0;
    while (i < gbk.size()) {
        unsigned char c = static_cast<unsigned char>(gbk[i]);
        size_t len = (c >= 0x81 && c <= 0xFE && i + 1 < gbk.size()) ? 2 : 1;
        if (i + len > maxBytes) break;
        i += len;
    }
    return gbk.substr(0, i);
}

std::string_view CutUtf8(std::string_view utf8, std::size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
    return utf8.substr(0, end);
}

std::string EscapeControlBytes(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            out += "\\x";
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeControlBytes(std::string_view text) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            digit(text[i + 2]) >= 0 && digit(text[i + 3]) >= 0) {
            out += static_cast<char>(digit(text[i + 2]) * 16 + digit(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string EscapeMarkup(std::string_view text, bool (*notHeld)(char32_t),
                         std::string_view inItsPlace) {
    const std::string valid = ValidUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t at = 0; at < valid.size();) {
        const Utf8Character c = DecodeUtf8At(std::string_view(valid).substr(at));
        switch (c.point) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (notHeld(c.point))
                    out += inItsPlace;
                else
                    out.append(valid, at, c.length);
        }
        at += c.length;
    }
    return out;
}

}  // namespace velmora
