// GBK conversion through the system's code page 936.
#include <windows.h>

#include <algorithm>
#include <string>

#include "base/text_codec.h"
#include "base/windows_error.h"

namespace velmora {
namespace {

constexpr UINT kGbk = 936;
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Decodes `bytes` as GBK; false when any of them is not a GBK character.
bool DecodeStrict(std::string_view bytes, std::wstring& wide) {
    if (bytes.empty()) return true;
    const int length = static_cast<int>(bytes.size());
    const int size =
        MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (size <= 0) return false;
    const std::size_t at = wide.size();
    wide.resize(at + static_cast<std::size_t>(size));
    return MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data() + at,
                               size) == size;
}

std::string Narrow(const std::wstring& wide) {
    return NarrowFromWide(wide.data(), static_cast<int>(wide.size()));
}

// One code point of well-formed UTF-8 starting at `s[0]` (its length already checked).
char32_t DecodeUtf8(std::string_view s) {
    const auto b = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[i]));
    };
    switch (s.size()) {
        case 1:
            return b(0);
        case 2:
            return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        case 3:
            return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        default:
            return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) |
                   (b(3) & 0x3F);
    }
}

// One UTF-16 character to GBK, or '?' when GBK has no such character.
void EncodeGbk(wchar_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
        return;
    }
    char bytes[4];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, &c, 1, bytes, sizeof bytes, "?",
                                      &usedDefault);
    if (n <= 0 || usedDefault) {
        out.push_back('?');
        return;
    }
    out.append(bytes, static_cast<std::size_t>(n));
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    std::wstring wide;
    if (DecodeStrict(gbk, wide)) return Narrow(wide);
    // Some bytes are not GBK: character by character, each bad byte one U+FFFD.
    std::string out;
    std::size_t i = 0;
    while (i < gbk.size()) {
        const auto c = static_cast<unsigned char>(gbk[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        wide.clear();
        if (c >= 0x81 && c <= 0xFE && i + 1 < gbk.size() && DecodeStrict(gbk.substr(i, 2), wide)) {
            out += Narrow(wide);
            i += 2;
            continue;
        }
        out += kReplacement;
        ++i;
    }
    return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        const std::size_t length = std::min(Utf8SequenceLength(c), utf8.size() - i);
        const std::string_view sequence = utf8.substr(i, length);
        i += length;
        if (length < 2 || !IsValidUtf8(sequence)) {
            out.push_back('?');
            continue;
        }
        const char32_t point = DecodeUtf8(sequence);
        if (point > 0xFFFF) {
            out.push_back('?');  // outside the BMP: GBK has none of these
            continue;
        }
        EncodeGbk(static_cast<wchar_t>(point), out);
    }
    return out;
}

std::optional<std::string> CLibraryPathText(const std::filesystem::path& path) {
    // The C library's narrow names are in the system's code page, which differs from
    // machine to machine: only a plain ASCII name means the same on every one.
    const std::wstring wide = path.wstring();
    if (std::any_of(wide.begin(), wide.end(), [](wchar_t c) { return c > 0x7F; }))
        return std::nullopt;
    return std::string(wide.begin(), wide.end());
}

}  // namespace velmora
