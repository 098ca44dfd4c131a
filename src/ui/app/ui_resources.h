#pragma once
// The program's own bitmaps, compiled into the Qt layer.
#include <QIcon>
#include <QImage>
#include <QString>

namespace velmora::ui {

// Registers the compiled-in resources; a static library's resources are not
// registered on their own. Safe to call any number of times.
void InitResources();

inline const QString kProgramIconPath = QStringLiteral(":/velmora/velmora.png");
inline const QString kConnectedIconPath = QStringLiteral(":/velmora/connected.png");
inline const QString kDisconnectedIconPath = QStringLiteral(":/velmora/disconnected.png");
// The button skin: five equal frames side by side, magenta where the page shows through.
inline const QString kButtonSkinPath = QStringLiteral(":/velmora/button_skin.png");

QIcon ProgramIcon();

}  // namespace velmora::ui
