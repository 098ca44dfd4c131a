#include "base/messages.h"

#include "base/app_config.h"
#include "base/path_text.h"

namespace velmora {

std::string Say(const Message& message) {
    return Config().EnglishMessages() ? message.english : message.chinese;
}

std::string FillText(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    auto next = values.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
            next != values.end()) {
            out += *next++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string FillNumbered(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const std::size_t n =
            i + 1 < pattern.size() ? static_cast<std::size_t>(pattern[i + 1] - '0') : 0;
        if (pattern[i] == '%' && n >= 1 && n <= 9 && n <= values.size()) {
            out += *(values.begin() + (n - 1));
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string Say(const Message& message, std::initializer_list<std::string_view> values) {
    return FillText(Say(message), values);
}

std::string FileReadProblemText(const std::filesystem::path& file, const FileReadResult& result) {
    const std::string name = PathText(file);
    switch (result.problem) {
        case FileReadProblem::None:
            return {};
        case FileReadProblem::Missing:
            return Say(msg::FileMissing, {name});
        case FileReadProblem::NotAFile:
            return Say(msg::FileNotAFile, {name});
        case FileReadProblem::TooLarge:
            return Say(msg::FileTooLarge, {name});
        case FileReadProblem::Unreadable:
            return Say(msg::FileUnreadable, {name, result.systemReason});
    }
    return {};
}

std::string FileWriteProblemText(const std::filesystem::path& file, const FileWriteResult& result) {
    if (result.ok) return {};
    return Say(msg::FileNotSaved, {PathText(file), result.reason});
}

}  // namespace velmora
