// The Image page as a person sees it, with the shipped language files: the
// list of the virtual splicer's images and a downloaded image in the frame, in
// English and in Chinese. With VELMORA_SCREENSHOTS set to a folder, each view
// is also saved there as a PNG file to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/app_config.h"
#include "app/message_box.h"
#include "app/ui_wait.h"
#include "app/velmora_dlg.h"
#include "sim/image_commands.h"
#include "support/test_support.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// par/ of the source tree, found from this file's own path.
fs::path ShippedPar() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "par";
}

struct Language {
    const char* tag;
    int commLanage;
};

class ImagePageScreens : public test::SplicerTest,
                         public ::testing::WithParamInterface<Language> {};

TEST_P(ImagePageScreens, ListAndDownloadedImageFit) {
    const Language language = GetParam();
    test::TempDir dir;
    fs::copy(ShippedPar(), dir.path() / "par", fs::copy_options::recursive);
    dir.Write("par/Lan_Ver.ini",
              "[DlgPara]\r\nComm_Lanage=" + std::to_string(language.commLanage) + "\r\n");
    english.reset();
    test::ScopedConfig config(LoadAppConfig(dir.path()));
    SetMessageBoxHook([](const QString& text, const QString&, MsgButtons, MsgIcon) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
        return MsgAnswer::Ok;
    });
    sim::InstallImageCommands(*splicer);
    ASSERT_TRUE(OpenLink());
    link.DeviceFolder = dir.path() / "FS" / "M2406A0153";

    {
        CVelmoraDlg dlg(link);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        dlg.TabCtrl().TabBar().setCurrentIndex(kImageTab);
        CImageDlg& page = dlg.ImagePage();
        CListCtrlEx& list = page.ImageList();
        ASSERT_EQ(list.GetItemCount(), sim::kDefaultImageCount);
        list.SelectRow(-1);  // no box for the row chosen below: its image is downloaded first
        page.DownLoadButton().click();
        ASSERT_TRUE(test::WaitUntil([&] { return !page.Downloading(); }, 10s));
        ASSERT_TRUE(page.Picture().ImageShown());

        // Everything a person reads fits where it stands.
        const QFontMetrics metrics(list.font());
        for (int row = 0; row < list.GetItemCount(); ++row)
            EXPECT_LE(metrics.horizontalAdvance(list.GetItemText(row, 1)) + 8,
                      list.GetColumnWidth(1));
        EXPECT_LE(list.GetColumnWidth(0) + list.GetColumnWidth(1), list.viewport()->width());
        EXPECT_GE(page.DownLoadButton().width(), page.DownLoadButton().sizeHint().width());
        EXPECT_FALSE(page.SaveButton().isVisible());
        EXPECT_GT(page.Picture().width(), list.width());

        if (const char* out = std::getenv("VELMORA_SCREENSHOTS")) {
            QDir().mkpath(QString::fromLocal8Bit(out));
            const QString path =
                QStringLiteral("%1/image_%2.png").arg(QString::fromLocal8Bit(out), language.tag);
            EXPECT_TRUE(dlg.grab().toImage().save(path)) << path.toStdString();
            dlg.resize(1000, 700);
            QApplication::processEvents();
            const QString large = QStringLiteral("%1/image_%2_large.png")
                                      .arg(QString::fromLocal8Bit(out), language.tag);
            EXPECT_TRUE(dlg.grab().toImage().save(large)) << large.toStdString();
        }
    }
    SetMessageBoxHook({});
}

INSTANTIATE_TEST_SUITE_P(Languages, ImagePageScreens,
                         ::testing::Values(Language{"en", 1}, Language{"zh", 0}),
                         [](const auto& info) { return std::string(info.param.tag); });

}  // namespace
}  // namespace velmora::ui
