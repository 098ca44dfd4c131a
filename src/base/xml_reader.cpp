#include "base/xml_reader.h"

#include <cstdint>

namespace velmora {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBlank(std::string_view text) {
    for (char c : text)
        if (!IsSpace(c)) return false;
    return true;
}

std::string_view LocalName(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The character a reference names ("#65", "#x41"); nothing for one that is not a
// character XML may hold.
std::optional<std::uint32_t> CharacterReference(std::string_view ref) {
    if (ref.size() < 2 || ref[0] != '#') return std::nullopt;
    const bool hex = ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    const bool allowed =
        value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value <= 0xD7FF) ||
        (value >= 0xE000 && value <= 0xFFFD) || (value >= 0x10000 && value <= 0x10FFFF);
    return allowed ? std::optional(value) : std::nullopt;
}

// `raw` text or attribute value with its references replaced; false for an unknown one.
bool Decode(std::string_view raw, std::string& out) {
    out.clear();
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') {
            out += raw[i];
            continue;
        }
        const std::size_t end = raw.find(';', i);
        if (end == std::string_view::npos || end - i > 12) return false;
        const std::string_view ref = raw.substr(i + 1, end - i - 1);
        if (ref == "lt") {
            out += '<';
        } else if (ref == "gt") {
            out += '>';
        } else if (ref == "amp") {
            out += '&';
        } else if (ref == "quot") {
            out += '"';
        } else if (ref == "apos") {
            out += '\'';
        } else if (const auto c = CharacterReference(ref)) {
            AppendUtf8(out, *c);
        } else {
            return false;
        }
        i = end;
    }
    return true;
}

}  // namespace

XmlReader::Event XmlReader::Fail(const char* why) {
    failed_ = true;
    why_ = why;
    return Event::Error;
}

std::optional<std::string> XmlReader::Attribute(std::string_view name) const {
    for (const auto& [key, raw] : attributes_) {
        if (LocalName(key) != name) continue;
        std::string value;
        if (!Decode(raw, value)) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

XmlReader::Event XmlReader::StartTag() {
    std::size_t i = at_ + 1;
    const std::size_t nameStart = i;
    while (i < xml_.size() && !IsSpace(xml_[i]) && xml_[i] != '/' && xml_[i] != '>' &&
           xml_[i] != '<')
        ++i;
    const std::string_view name = xml_.substr(nameStart, i - nameStart);
    if (name.empty()) return Fail("an element without a name");
    attributes_.clear();
    bool empty = false;
    for (;;) {
        while (i < xml_.size() && IsSpace(xml_[i])) ++i;
        if (i >= xml_.size()) return Fail("the document ends inside a tag");
        if (xml_[i] == '>') break;
        if (xml_[i] == '/') {
            if (i + 1 >= xml_.size() || xml_[i + 1] != '>') return Fail("a damaged tag");
            empty = true;
            ++i;
            break;
        }
        const std::size_t keyStart = i;
        while (i < xml_.size() && !IsSpace(xml_[i]) && xml_[i] != '=' && xml_[i] != '>') ++i;
        const std::string_view key = xml_.substr(keyStart, i - keyStart);
        while (i < xml_.size() && IsSpace(xml_[i])) ++i;
        if (key.empty() || i >= xml_.size() || xml_[i] != '=') return Fail("a damaged attribute");
        ++i;
        while (i < xml_.size() && IsSpace(xml_[i])) ++i;
        if (i >= xml_.size() || (xml_[i] != '"' && xml_[i] != '\''))
            return Fail("a damaged attribute");
        const char quote = xml_[i++];
        const std::size_t close = xml_.find(quote, i);
        if (close == std::string_view::npos) return Fail("the document ends inside a tag");
        attributes_.emplace_back(key, xml_.substr(i, close - i));
        i = close + 1;
    }
    at_ = i + 1;
    if (open_.size() >= kMaxDepth) return Fail("elements nested too deep");
    open_.push_back(name);
    name_ = LocalName(name);
    endPending_ = empty;
    return Event::Start;
}

XmlReader::Event XmlReader::EndTag() {
    const std::size_t close = xml_.find('>', at_);
    if (close == std::string_view::npos) return Fail("the document ends inside a tag");
    std::string_view name = xml_.substr(at_ + 2, close - at_ - 2);
    while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
    if (open_.empty() || open_.back() != name) return Fail("an end tag that matches no element");
    open_.pop_back();
    name_ = LocalName(name);
    at_ = close + 1;
    return Event::End;
}

XmlReader::Event XmlReader::Next() {
    if (failed_) return Event::Error;
    if (finished_) return Event::Done;
    if (endPending_) {
        endPending_ = false;
        open_.pop_back();
        return Event::End;
    }
    while (at_ < xml_.size()) {
        const std::string_view rest = xml_.substr(at_);
        if (rest.starts_with("<?") || rest.starts_with("<!--")) {
            const std::string_view end = rest[1] == '?' ? "?>" : "-->";
            const std::size_t close = rest.find(end);
            if (close == std::string_view::npos) return Fail("the document ends inside a comment");
            at_ += close + end.size();
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            const std::size_t close = rest.find("]]>");
            if (close == std::string_view::npos) return Fail("the document ends inside CDATA");
            if (open_.empty()) return Fail("text outside the document's element");
            text_.assign(rest.substr(9, close - 9));
            at_ += close + 3;
            if (IsBlank(text_)) continue;
            return Event::Text;
        }
        if (rest.starts_with("<!")) return Fail("a DOCTYPE or declaration is not read");
        if (rest.starts_with("</")) return EndTag();
        if (rest[0] == '<') return StartTag();
        const std::size_t next = rest.find('<');
        const std::string_view raw = rest.substr(0, next);
        at_ += raw.size();
        if (IsBlank(raw)) continue;
        if (open_.empty()) return Fail("text outside the document's element");
        if (!Decode(raw, text_)) return Fail("an unknown entity or character reference");
        return Event::Text;
    }
    if (!open_.empty()) return Fail("the document ends inside an element");
    finished_ = true;
    return Event::Done;
}

}  // namespace velmora
