#include "ui/app/ui_pump.h"

#include <QCoreApplication>

namespace velmora::ui {

Pump UiPump() {
    return [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
}

}  // namespace velmora::ui
