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

// Rows of splices to notice in a list: failed on the splicer, or beyond a limit
// of the job. Light, so that the text stays readable; the result column says which.
inline const QColor kFailedRowColour{255, 205, 205};
inline const QColor kOverLimitRowColour{255, 236, 179};

// Text of edit and static controls on the pages; other controls keep black text.
inline const QColor kControlTextBlue{0, 0, 255};

}  // namespace velmora::ui
