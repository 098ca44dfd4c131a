// Renders the Result page after a download, with a record chosen, in English
// and in Chinese, so that a person can look at it. Writes PNG files only when
// VELMORA_SCREENSHOTS names a folder:
//   VELMORA_SCREENSHOTS=build/screenshots velmora_ui_tests --gtest_filter='HistoryScreenshots*'
#include <gtest/gtest.h>

#include <QDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/ui_wait.h"
#include "app/velmora_dlg.h"
#include "base/app_config.h"
#include "sim/record_commands.h"
#include "support/test_support.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The shipped language files, beside the tests in the source tree.
fs::path ShippedPar() {
    return fs::path(__FILE__).parent_path() / ".." / ".." / "par";
}

class HistoryScreenshots : public test::SplicerTest {};

TEST_F(HistoryScreenshots, ResultPageAfterADownload) {
    const char* out = std::getenv("VELMORA_SCREENSHOTS");
    if (!out || !*out) GTEST_SKIP() << "VELMORA_SCREENSHOTS not set";
    QDir().mkpath(QString::fromLocal8Bit(out));
    sim::InstallRecordCommands(*splicer, 150);
    ASSERT_TRUE(OpenLink());

    for (const auto& [tag, flag] : {std::pair{"en", "1"}, std::pair{"zh", "0"}}) {
        test::TempDir folder;
        fs::copy(ShippedPar(), folder.path() / "par", fs::copy_options::recursive);
        std::ofstream(folder.path() / "par" / "Lan_Ver.ini", std::ios::trunc)
            << "[DlgPara]\r\nComm_Lanage=" << flag << "\r\n";
        test::ScopedConfig config(LoadAppConfig(folder.path()));

        CVelmoraDlg dlg(link);
        dlg.Session().DeviceFolder = folder.path() / "FS" / "M2406A0153";
        dlg.show();
        dlg.TabCtrl().TabBar().setCurrentIndex(kHistoryTab);
        CHistoryDlg& page = dlg.HistoryPage();
        page.OnBnClickedReceive();
        ASSERT_TRUE(test::WaitUntil([&] { return !page.Downloading(); }, 10s));
        ASSERT_EQ(page.IndexList().GetItemCount(), 150);
        page.IndexList().SelectRow(146);
        page.IndexList().EnsureVisible(146);
        // A long caption in a narrow cell shows its ellipsis.
        page.ParamList().SetColumnWidth(0, 70);
        QApplication::processEvents();
        const QString file = QStringLiteral("%1/result_%2.png").arg(out, tag);
        EXPECT_TRUE(dlg.grab().toImage().save(file)) << file.toStdString();
    }
}

}  // namespace
}  // namespace velmora::ui
