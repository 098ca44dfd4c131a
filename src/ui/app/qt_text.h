#pragma once
// The core's UTF-8 texts as Qt strings.
#include <QString>
#include <filesystem>
#include <string>

#include "base/language.h"
#include "base/messages.h"

namespace velmora::ui {

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
// A message pair in this run's language.
inline QString Q(const Message& message) {
    return Q(Say(message));
}
// A caption from the language file, or its English default.
inline QString Q(const TextKey& key) {
    return Q(Text(key));
}

// A path from a file dialog and back, by UTF-16, so that a name of any language
// survives on Windows too (a narrow string there is the ANSI code page).
inline std::filesystem::path PathOf(const QString& file) {
    return std::filesystem::path(file.toStdU16String());
}
inline QString TextOf(const std::filesystem::path& file) {
    return QString::fromStdU16String(file.u16string());
}

}  // namespace velmora::ui
