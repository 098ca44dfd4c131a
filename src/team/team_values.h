#pragma once
// What the team archive's statements share (internal to src/team): the values of a
// statement kept alive with their texts, and bytea read back from its text form.
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "team/team_client.h"

namespace velmora::team {

// Values of one statement, kept alive with the texts they point into.
class Values {
  public:
    // "$n" of the value added; texts are kept in a list, so views stay valid.
    std::string Add(Value value) {
        values_.push_back(value);
        return "$" + std::to_string(values_.size());
    }
    std::string Text(std::string text) {
        return Add(Value::Text(texts_.emplace_back(std::move(text))));
    }
    std::string Optional(const std::optional<std::string>& text) {
        return text ? Text(*text) : Add(Value::Null());
    }
    std::span<const Value> All() const { return values_; }

  private:
    std::vector<Value> values_;
    std::deque<std::string> texts_;
};

inline std::string HexDecoded(const std::string& text) {
    // bytea's text form: "\x" then two hex digits a byte.
    std::string out;
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 2; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1])));
    return out;
}

}  // namespace velmora::team
