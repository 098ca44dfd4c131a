#pragma once
// Conversions between the program's UTF-8 text and GBK, the code page of the
// splicer's names and of the Chinese language and export files. The two
// conversions are the platform's (text_codec_<platform>.cpp); the rest is common.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// GBK bytes to UTF-8. Undecodable bytes become U+FFFD, so nothing is dropped silently.
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 to GBK. Characters GBK cannot represent become '?'.
std::string Utf8ToGbk(std::string_view utf8);

// The first character of `utf8` that a GBK file cannot hold (it would not read back
// as itself), or "" when GBK holds every one.
std::string FirstNotInGbk(std::string_view utf8);

// Length of the UTF-8 sequence that starts with byte `c` (1 for a stray byte).
std::size_t Utf8SequenceLength(unsigned char c);

// True when the bytes are well-formed UTF-8 (plain ASCII included).
bool IsValidUtf8(std::string_view bytes);

// `bytes` with every byte that does not begin a well-formed UTF-8 sequence
// replaced by U+FFFD, so that text which claims to be UTF-8 is.
std::string ValidUtf8(std::string_view bytes);

// The code point of the well-formed UTF-8 character at the start of `utf8`, and
// its length in bytes; length 0 when the bytes there are not one.
struct Utf8Character {
    char32_t point = 0;
    std::size_t length = 0;
};
Utf8Character DecodeUtf8At(std::string_view utf8);
void AppendUtf8(std::string& out, char32_t point);

// What an XML 1.0 document cannot hold, not even as a character reference: control
// characters but tab, line feed and carriage return, U+FFFE and U+FFFF.
inline bool NotInXml(char32_t c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
}

// `text` as markup character data (XML, HTML): bytes that are not UTF-8 shown as
// U+FFFD, the five markup characters as entities, and each character `notHeld` names
// replaced by `inItsPlace` ("" leaves it out).
std::string EscapeMarkup(std::string_view text, bool (*notHeld)(char32_t),
                         std::string_view inItsPlace);

// `utf8` with every letter folded as Unicode's simple case folding does, so that
// names that differ only in case ("Route 7", "ROUTE 7", "Узел", "узел") fold alike.
// Bytes that are not UTF-8 stay as they are.
std::string FoldCase(std::string_view utf8);

// Longest prefix of at most maxBytes that does not split a GBK double-byte character.
std::string_view CutGbk(std::string_view gbk, std::size_t maxBytes);

// Longest prefix of at most maxBytes that does not split a UTF-8 sequence.
std::string_view CutUtf8(std::string_view utf8, std::size_t maxBytes);

// `text` on one line and harmless to a terminal: control bytes (ESC, BEL, CR, LF,
// TAB...), DEL and the backslash become \xNN. UnescapeControlBytes reverses it.
std::string EscapeControlBytes(std::string_view text);
std::string UnescapeControlBytes(std::string_view text);

// `path` as the C library's narrow functions take it (UTF-8 on POSIX, the system's
// code page on Windows); nothing when that code page cannot name it.
std::optional<std::string> CLibraryPathText(const std::filesystem::path& path);

}  // namespace velmora
