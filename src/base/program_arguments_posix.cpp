// The arguments in the terminal's encoding, the codeset of the locale the
// environment sets (LC_ALL, LC_CTYPE, LANG), converted with iconv. The C locale's
// ASCII is taken as UTF-8, which it is a part of: a program started with no locale
// (a script, a service) still takes UTF-8 names.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>

#include "base/path_text.h"
#include "base/program_arguments.h"
#include "base/text_codec.h"

namespace velmora {
namespace {

std::string LocaleEncoding() {
    const locale_t own = newlocale(LC_CTYPE_MASK, "", locale_t{});
    if (own == locale_t{}) return "UTF-8";  // a locale the system does not have
    std::string name = nl_langinfo_l(CODESET, own);
    freelocale(own);
    return name;
}

const std::string& TerminalEncoding() {
    static const std::string encoding = LocaleEncoding();
    return encoding;
}

bool IsUtf8Family(std::string_view encoding) {
    return encoding == "UTF-8" || encoding == "utf8" || encoding == "ANSI_X3.4-1968" ||
           encoding == "ASCII" || encoding.empty();
}

// `text` from one encoding to another, or nothing when a byte cannot be converted.
std::optional<std::string> Convert(std::string_view text, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char chunk[1024];
    bool ok = true;
    while (ok) {
        char* dst = chunk;
        std::size_t dstLeft = sizeof chunk;
        const std::size_t rc = iconv(cd, inLeft ? &in : nullptr, &inLeft, &dst, &dstLeft);
        out.append(chunk, sizeof chunk - dstLeft);
        if (rc == static_cast<std::size_t>(-1) && errno == E2BIG) continue;
        ok = rc != static_cast<std::size_t>(-1);
        if (inLeft == 0) break;
    }
    iconv_close(cd);
    return ok ? std::optional(std::move(out)) : std::nullopt;
}

}  // namespace

ProgramArgumentsRead ProgramArguments(int argc, char** argv) {
    ProgramArgumentsRead read;
    const bool utf8 = IsUtf8Family(TerminalEncoding());
    read.encoding = utf8 ? "UTF-8" : TerminalEncoding();
    for (int i = 1; i < argc; ++i) {
        const std::string_view bytes = argv[i];
        std::optional<std::string> text = utf8 ? std::optional<std::string>(bytes)
                                               : Convert(bytes, "UTF-8", read.encoding.c_str());
        if (!text || !IsValidUtf8(*text)) {
            if (!read.unreadable) read.unreadable = read.arguments.size();
            text = std::string(bytes);
        }
        read.arguments.push_back(std::move(*text));
    }
    return read;
}

std::filesystem::path PathFromArgument(std::string_view utf8) {
    const std::string& encoding = TerminalEncoding();
    if (!IsUtf8Family(encoding)) {
        if (const auto native = Convert(utf8, encoding.c_str(), "UTF-8"))
            return std::filesystem::path(*native);
    }
    return PathFromText(utf8);
}

}  // namespace velmora
