#pragma once
// The main window on an in-memory virtual splicer that answers every command,
// message boxes answered and recorded instead of a person, the status panes, and
// helpers to connect, click and wait (every wait with an explicit margin).
#include <gtest/gtest.h>

#include <QTest>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/app_config.h"
#include "sim/firmware_commands.h"
#include "sim/image_commands.h"
#include "sim/parameter_commands.h"
#include "sim/record_commands.h"
#include "support/test_support.h"
#include "ui/app/message_box.h"
#include "ui/app/ui_wait.h"
#include "ui/app/velmora_dlg.h"

namespace velmora::test {

using Texts = std::vector<QString>;

inline constexpr auto kPageMargin = std::chrono::seconds(20);
inline constexpr int kPageRecords = 150;
inline constexpr int kPageImages = 4;
inline constexpr const char* kPageDevice = "M2406A0153";  // named by the splicer's serial

struct ShownBox {
    QString text;
    QString caption;
    ui::MsgButtons buttons;
};

class PageTest : public SplicerTest {
  protected:
    void SetUp() override {
        SplicerTest::SetUp();
        InstallCommands();
        language = std::make_unique<ScopedConfig>(1, workDir.path());
        ui::SetMessageBoxHook([this](const QString& text, const QString& caption,
                                     ui::MsgButtons buttons, ui::MsgIcon) {
            shown.push_back({text, caption, buttons});
            if (onBox) onBox();
            return buttons == ui::MsgButtons::YesNo ? answer : ui::MsgAnswer::Ok;
        });
        NewWindow();
    }
    void TearDown() override {
        dlg.reset();
        ui::SetMessageBoxHook({});
        language.reset();
        SplicerTest::TearDown();
    }

    // A fresh splicer (the window goes first), with every command installed again.
    void RestartSplicer(sim::SplicerOptions options) {
        dlg.reset();
        options.inMemory = true;
        Restart(options);
        InstallCommands();
    }
    void InstallCommands() {
        store = sim::InstallParameterCommands(*splicer);
        store->FreezeEnvironment(true);
        sim::InstallRecordCommands(*splicer, kPageRecords);
        sim::InstallImageCommands(*splicer, kPageImages);
        firmware =
            sim::InstallFirmwareCommands(*splicer, {.quiet = std::chrono::milliseconds(300)});
    }
    // A new main window, shown, listing the splicer's port first, whose files go
    // to deviceFolder.
    void NewWindow() {
        dlg.reset();
        dlg = std::make_unique<ui::CVelmoraDlg>(link, splicer->PortPath());
        dlg->Session().DeviceFolder = deviceFolder;
        dlg->Session().SerialNumber = sim::kSimSerialNumber;
        dlg->show();
    }
    void SelectTab(int tab) { dlg->TabCtrl().TabBar().setCurrentIndex(tab); }
    // The port opened as the Setting page would, the window showing it.
    bool Connect(int speed = 115200) {
        if (!OpenLink(speed)) return false;
        dlg->ShowConnectionState(true);
        return true;
    }
    bool WaitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds margin = kPageMargin) {
        return WaitUntil(done, margin);
    }

    Texts BoxTexts() const {
        Texts texts;
        for (const ShownBox& box : shown) texts.push_back(box.text);
        return texts;
    }
    // Each box as "text / caption".
    Texts Boxes() const {
        Texts texts;
        for (const ShownBox& box : shown) texts.push_back(box.text + " / " + box.caption);
        return texts;
    }

    TempDir workDir;
    const std::filesystem::path deviceFolder = workDir.path() / "FS" / kPageDevice;
    std::unique_ptr<ScopedConfig> language;
    std::shared_ptr<sim::ParameterStore> store;
    std::shared_ptr<sim::FirmwareLog> firmware;
    std::unique_ptr<ui::CVelmoraDlg> dlg;
    std::vector<ShownBox> shown;
    std::function<void()> onBox;  // runs as each box comes up
    ui::MsgAnswer answer = ui::MsgAnswer::Yes;
};

// The shipped language files copied to `folder`, `tag` ("en" or "zh") chosen,
// installed for as long as the returned object lives.
inline std::unique_ptr<ScopedConfig> UseShippedLanguage(const TempDir& folder,
                                                        const std::string& tag) {
    namespace fs = std::filesystem;
    fs::copy(fs::path(VELMORA_SOURCE_DIR) / "par", folder.path() / "par",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    folder.Write("par/Lan_Ver.ini",
                 std::string("[DlgPara]\r\nComm_Lanage=") + (tag == "en" ? "1" : "0") + "\r\n");
    return std::make_unique<ScopedConfig>(LoadAppConfig(folder.path()));
}

}  // namespace velmora::test
