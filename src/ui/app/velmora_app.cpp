#include "ui/app/velmora_app.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <filesystem>

#include "base/app_config.h"
#include "sim/splicer_contents.h"
#include "ui/app/ui_resources.h"
#include "ui/app/velmora_dlg.h"

namespace velmora::ui {

std::unique_ptr<QTranslator> InstallQtTranslations() {
    if (Config().EnglishFlag == 1) return nullptr;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    QCoreApplication::installTranslator(translator.get());
    return translator;
}

int CVelmoraApp::InitInstance(const StartOptions& options) {
    // The language and page colour are fixed here, once, before any window exists.
    InstallConfig(LoadAppConfig(FindRunFolders()));
    qtTranslations_ = InstallQtTranslations();

    InitResources();
    QApplication::setWindowIcon(ProgramIcon());

    const std::string demoPort = options.demo ? StartDemoSplicer() : std::string();
    CVelmoraDlg dlg(link_, demoPort);
    dlg.show();
    return QApplication::exec();
}

std::string CVelmoraApp::StartDemoSplicer() {
    sim::SplicerOptions options;
    options.baud = 115200;
    // In this process over an in-memory line: no pseudo-terminal needed, on any platform.
    options.inMemory = true;
    demo_ = std::make_unique<sim::VirtualSplicer>(options);
    sim::InstallAllCommands(*demo_);
    std::string error;
    if (!demo_->Start(&error)) {
        std::fprintf(stderr, "velmora: the virtual splicer could not start: %s\n", error.c_str());
        demo_.reset();
        return {};
    }
    std::fprintf(stderr, "velmora: virtual splicer at 115200 bit/s on %s\n",
                 demo_->PortPath().c_str());
    return demo_->PortPath();
}

}  // namespace velmora::ui
