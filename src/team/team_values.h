#pragma once
// What the team archive's statements share (internal to src/team): the values of a
// statement kept alive with their texts, and bytea read back from its text form.
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

// A one-dimensional array of text or bytea elements in PostgreSQL's binary form: one
// value for a whole batch (`unnest($1::text[], $2::bytea[])`), which the server
// takes far faster than a statement of thousands of values. Elements are kept as
// they are, so text must be the server's encoding (UTF-8).
class ArrayValue {
  public:
    enum class Of : std::uint32_t { Bytes = 17, Text = 25 };  // the element type's id
    explicit ArrayValue(Of of) : of_(of) { bytes_.assign(kHeader, '\0'); }
    void Add(std::string_view element) {
        Put(static_cast<std::uint32_t>(element.size()));
        bytes_.append(element);
        ++count_;
    }
    void AddBytes(std::span<const std::uint8_t> element) {
        Add(std::string_view(reinterpret_cast<const char*>(element.data()), element.size()));
    }
    void AddOptional(const std::optional<std::string>& element) {
        if (element) return Add(std::string_view(*element));
        Put(0xFFFFFFFFu);  // length -1: NULL
        nulls_ = true;
        ++count_;
    }
    // The array, once every element is in; a binary value viewing this object.
    Value Done() {
        std::string header;
        for (const std::uint32_t field :
             {1u, nulls_ ? 1u : 0u, static_cast<std::uint32_t>(of_), count_, 1u})
            Put(field, header);
        bytes_.replace(0, kHeader, header);
        return {Value::Kind::Bytes, bytes_};
    }

  private:
    // Dimensions, flags, element type, then the one dimension's size and lower bound.
    static constexpr std::size_t kHeader = 20;
    void Put(std::uint32_t field) { Put(field, bytes_); }
    static void Put(std::uint32_t field, std::string& to) {
        for (int shift = 24; shift >= 0; shift -= 8)
            to.push_back(static_cast<char>((field >> shift) & 0xFF));  // network byte order
    }
    std::string bytes_;
    Of of_;
    std::uint32_t count_ = 0;
    bool nulls_ = false;
};

// bytea's text form ("\x" then two hex digits a byte) into `out`, as much as fits.
inline std::size_t HexDecodeInto(std::string_view text, std::span<std::uint8_t> out) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::size_t n = 0;
    for (std::size_t i = 2; i + 1 < text.size() && n < out.size(); i += 2)
        out[n++] = static_cast<std::uint8_t>(digit(text[i]) * 16 + digit(text[i + 1]));
    return n;
}

inline std::string HexDecoded(const std::string& text) {
    std::string out(text.size() < 2 ? 0 : (text.size() - 2) / 2, '\0');
    HexDecodeInto(text, {reinterpret_cast<std::uint8_t*>(out.data()), out.size()});
    return out;
}

}  // namespace velmora::team
