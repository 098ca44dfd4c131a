#include "ui/app/ui_resources.h"

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterVelmoraResources() {
    Q_INIT_RESOURCE(velmora);
}

namespace velmora::ui {

void InitResources() {
    static std::once_flag once;
    std::call_once(once, RegisterVelmoraResources);
}

QIcon ProgramIcon() {
    InitResources();
    return QIcon(kProgramIconPath);
}

}  // namespace velmora::ui
