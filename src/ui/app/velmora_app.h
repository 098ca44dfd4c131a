#pragma once
// The application: fixes this run's settings from the working directory,
// starts the built-in virtual splicer when asked, owns the line, and runs the
// main window until it closes.
#include <QTranslator>
#include <memory>
#include <string>

#include "protocol/link.h"
#include "sim/virtual_splicer.h"

namespace velmora::ui {

// In a Chinese run (EnglishFlag other than 1), Qt's own texts (the standard
// buttons of message boxes, the file dialog) in Chinese: Qt's "qtbase_zh_CN"
// translation, installed on the application for as long as the returned object
// lives. Null in an English run or when the translation is not installed.
std::unique_ptr<QTranslator> InstallQtTranslations();

struct StartOptions {
    // Run a virtual splicer in this process; the Setting page lists its port first.
    bool demo = false;
};

class CVelmoraApp {
  public:
    CVelmoraApp() = default;
    CVelmoraApp(const CVelmoraApp&) = delete;
    CVelmoraApp& operator=(const CVelmoraApp&) = delete;

    // Runs the whole program inside an existing QApplication; returns the exit status.
    int InitInstance(const StartOptions& options);

  private:
    // The device of the demo splicer, or "" when it could not start.
    std::string StartDemoSplicer();

    // The splicer outlives the link, so the port closes before its far end goes.
    // The link opens the demo splicer's in-memory line for its port name.
    std::unique_ptr<QTranslator> qtTranslations_;
    std::unique_ptr<sim::VirtualSplicer> demo_;
    Link link_{sim::OpenerFor(demo_)};
};

}  // namespace velmora::ui
