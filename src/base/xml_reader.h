#pragma once
// A small XML reader for the parts of a workbook: the document as a sequence of
// events (an element begins, text, an element ends), names without their namespace
// prefix, attribute values and text with the five predefined entities and character
// references decoded. What a workbook never holds is refused rather than
// interpreted: a DOCTYPE (and so any entity of its own), an unknown entity, tags
// that do not match, elements nested deeper than kMaxDepth.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

class XmlReader {
  public:
    enum class Event { Start, Text, End, Done, Error };
    static constexpr std::size_t kMaxDepth = 256;

    // `xml` must outlive the reader.
    explicit XmlReader(std::string_view xml) : xml_(xml) {}

    // The next event. An empty element gives Start then End; text is given only
    // when it is not blank. After Done or Error every call gives the same again.
    Event Next();

    // The element's name without its prefix (Start and End).
    std::string_view Name() const { return name_; }
    // An attribute of the element begun (Start), by its name without prefix.
    std::optional<std::string> Attribute(std::string_view name) const;
    // The text (Text), decoded.
    const std::string& Text() const { return text_; }
    // Why the document was refused (Error), in English.
    const std::string& Why() const { return why_; }
    std::size_t Depth() const { return open_.size(); }

  private:
    Event Fail(const char* why);
    Event StartTag();
    Event EndTag();

    std::string_view xml_;
    std::size_t at_ = 0;
    std::string_view name_;
    std::vector<std::pair<std::string_view, std::string_view>> attributes_;  // raw values
    std::string text_;
    std::string why_;
    std::vector<std::string_view> open_;  // the elements open, by their full names
    bool endPending_ = false;             // an empty element's End is due
    bool finished_ = false;
    bool failed_ = false;
};

}  // namespace velmora
