#pragma once
// Colours of the Qt layer: the page colour of this run and the shared control colours.
#include <QColor>
#include <cstdint>

#include "base/app_config.h"

namespace velmora::ui {

inline QColor ToQColor(std::uint32_t rgb) {
    return QColor(RedOf(rgb), GreenOf(rgb), BlueOf(rgb));
}

// Every page, and the tabs, are filled with this.
inline QColor PageQColour() {
    return ToQColor(Config().PageColour);
}

// Text of edit and static controls on the pages; other controls keep black text.
inline const QColor kControlTextBlue{0, 0, 255};

}  // namespace velmora::ui
