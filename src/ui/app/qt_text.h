#pragma once
// The core's UTF-8 texts as Qt strings.
#include <QString>
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

}  // namespace velmora::ui
