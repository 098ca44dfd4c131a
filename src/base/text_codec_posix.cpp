// GBK conversion through iconv (glibc's converters).
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/path_text.h"
#include "base/text_codec.h"

namespace velmora {
namespace {

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

std::string Utf8ToGbk(std::string_view utf8) {
    return Convert(utf8, "GBK", "UTF-8", "?", true);
}

std::optional<std::string> CLibraryPathText(const std::filesystem::path& path) {
    return PathText(path);
}

}  // namespace velmora
