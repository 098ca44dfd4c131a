// Test main of the Qt layer: one QApplication for all tests, offscreen unless told otherwise.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "ui/app/message_box.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // A modal box nobody answers would hang the suite: unless a test installs its
    // own hook, boxes are answered (OK, or No to a question) and logged.
    velmora::ui::SetFallbackMessageBoxHook([](const QString& text, const QString& caption,
                                              velmora::ui::MsgButtons buttons,
                                              velmora::ui::MsgIcon) {
        std::fprintf(stderr, "[message box answered by the test main] %s: %s\n",
                     caption.toUtf8().constData(), text.toUtf8().constData());
        return buttons == velmora::ui::MsgButtons::YesNo ? velmora::ui::MsgAnswer::No
                                                         : velmora::ui::MsgAnswer::Ok;
    });
    return RUN_ALL_TESTS();
}
