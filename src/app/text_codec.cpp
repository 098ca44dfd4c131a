#include "app/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace velmora {
namespace {

// Length of the UTF-8 sequence that starts with byte c (1 for a stray byte).
size_t Utf8SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if ((c >> 5) == 0x6) return 2;
    if ((c >> 4) == 0xE) return 3;
    if ((c >> 3) == 0x1E) return 4;
    return 1;
}

// Runs iconv over the whole input. An invalid or unconvertible sequence is
// written as `replacement`; one character is skipped (a whole UTF-8 sequence
// when the input is UTF-8, else one byte).
std::string Convert(std::string_view input, const char* to, const char* from,
                    std::string_view replacement, bool inputIsUtf8) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(input);
    std::string out;
    std::vector<char> chunk(4096);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (inLeft > 0) {
        char* dst = chunk.data();
        size_t dstLeft = chunk.size();
        size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(chunk.data(), chunk.size() - dstLeft);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
        size_t skip = inputIsUtf8 ? Utf8SequenceLength(static_cast<unsigned char>(*in)) : 1;
        skip = std::min(skip, inLeft);
        out.append(replacement);
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    return Convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD", false);
}

std::string Utf8ToGbk(std::string_view utf8) { return Convert(utf8, "GBK", "UTF-8", "?", true); }

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = Utf8SequenceLength(c);
        if ((c >= 0x80 && len == 1) || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
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

}  // namespace velmora
