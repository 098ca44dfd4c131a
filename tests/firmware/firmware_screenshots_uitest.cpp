// Renders the main window on its FirmWare page, with a file chosen, during a
// transfer, after it and after a dropped line, in English and in Chinese, to PNG
// files for a person to look at. Runs only when VELMORA_SCREENSHOTS names the
// folder to write to, e.g.
//   VELMORA_SCREENSHOTS=build/screenshots velmora_ui_tests --gtest_filter='FirmwareShots*'
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/app_config.h"
#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "firmware/firmware_dlg.h"
#include "protocol/command_catalogue.h"
#include "sim/firmware_commands.h"
#include "support/test_support.h"
#include "../app/ui_wait.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kMargin = 30s;
constexpr int kBaud = 256000;

// The shipped language files, beside the tests in the source tree.
fs::path ShippedPar() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "par";
}

// A working folder whose par/ is the shipped one, in the language of `commLanage`.
void PrepareWorkingFolder(const fs::path& folder, const char* commLanage) {
    fs::create_directories(folder / "par");
    fs::copy(ShippedPar(), folder / "par",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    QFile version(QString::fromStdString((folder / "par" / "Lan_Ver.ini").string()));
    ASSERT_TRUE(version.open(QIODevice::WriteOnly | QIODevice::Truncate));
    version.write(QByteArray("[DlgPara]\r\nComm_Lanage=") + commLanage + "\r\n");
}

class FirmwareShots : public ::testing::Test {
protected:
    void SetUp() override {
        const char* out = std::getenv("VELMORA_SCREENSHOTS");
        if (!out || !*out) GTEST_SKIP() << "VELMORA_SCREENSHOTS is not set";
        outDir = QDir(QString::fromLocal8Bit(out)).absolutePath();
        QDir().mkpath(outDir);
        SetMessageBoxHook([](const QString&, const QString&, MsgButtons buttons, MsgIcon) {
            return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
        });
    }
    void TearDown() override { SetMessageBoxHook({}); }

    void Save(CVelmoraDlg& dlg, const std::string& name) {
        QApplication::processEvents();
        const QString path = outDir + "/" + QString::fromStdString(name) + ".png";
        EXPECT_TRUE(dlg.grab().toImage().save(path)) << path.toStdString();
    }

    // One update of `size` bytes, shot with the file chosen, at the first
    // percentage, and at the end; `hangUpAfter` drops the line on the way.
    void ShootUpdate(const std::string& tag, std::size_t size, int hangUpAfter) {
        sim::SplicerOptions options;
        options.baud = kBaud;
        sim::VirtualSplicer splicer(options);
        sim::FirmwareSimOptions firmware;
        firmware.quiet = 300ms;
        auto received = sim::InstallFirmwareCommands(splicer, firmware);
        if (hangUpAfter >= 0)
            splicer.SetFault(cmd::FirmwareHandshake2, {sim::FaultKind::HangUp, hangUpAfter});
        ASSERT_TRUE(splicer.Start());
        Link link;
        ASSERT_TRUE(link.Port().OpenPort(splicer.PortPath(), kBaud));

        CVelmoraDlg dlg(link);
        dlg.show();
        dlg.ShowConnectionState(true);
        dlg.TabCtrl().TabBar().setCurrentIndex(kFirmWareTab);
        CFirmWareDlg& page = dlg.FirmWarePage();
        const fs::path file = scratch.Write("Velmora_V2.0.3_firmware.bin", std::string(size, 'x'));
        page.SetFileChooser([&](QWidget*) { return QString::fromStdString(file.string()); });
        page.OnBnClickedBrowse();
        if (hangUpAfter < 0) Save(dlg, "firmware_" + tag + "_chosen");

        page.OnBnClickedSend();
        ASSERT_TRUE(test::WaitUntil([&] { return page.InfoText().startsWith("Updating"); },
                                    kMargin));
        if (hangUpAfter < 0) Save(dlg, "firmware_" + tag + "_during");
        ASSERT_TRUE(test::WaitUntil([&] { return !page.UpdateRunning(); }, kMargin));
        Save(dlg, "firmware_" + tag + (hangUpAfter < 0 ? "_after" : "_failed"));
        dlg.close();
        EXPECT_TRUE(received->WaitForReceipts(1, kMargin));
    }

    QString outDir;
    test::TempDir scratch;
};

TEST_F(FirmwareShots, EnglishAndChinese) {
    for (const auto& [tag, commLanage] : {std::pair{"en", "1"}, std::pair{"zh", "0"}}) {
        SCOPED_TRACE(tag);
        const fs::path folder = scratch.path() / tag;
        PrepareWorkingFolder(folder, commLanage);
        test::ScopedConfig config(LoadAppConfig(folder));
        ShootUpdate(tag, 70000, -1);
        ShootUpdate(tag, 70000, 40000);
    }
}

}  // namespace
}  // namespace velmora::ui
