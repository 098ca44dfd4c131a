// The Setting page as a person sees it: every group read from the virtual
// splicer, in English and in Chinese, with the shipped language files. Captions,
// values and button labels must fit where they stand. With VELMORA_SCREENSHOTS
// set to a folder, each view is also saved there as a PNG file to look at.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTest>
#include <cstdlib>

#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "sim/parameter_commands.h"
#include "support/test_support.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;

// Room a cell's text needs besides its glyphs: the item's margins on both sides.
constexpr int kCellMargins = 8;

class SettingPageScreens : public test::SplicerTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(SettingPageScreens, EveryGroupFitsItsColumns) {
    const std::string tag = GetParam();
    test::TempDir dir;
    fs::copy(fs::path(__FILE__).parent_path() / ".." / ".." / "par", dir.path() / "par",
             fs::copy_options::recursive);
    dir.Write("par/Lan_Ver.ini",
              std::string("[DlgPara]\r\nComm_Lanage=") + (tag == "en" ? "1" : "0") + "\r\n");
    test::ScopedConfig config(LoadAppConfig(dir.path()));
    SetMessageBoxHook([](const QString& text, const QString&, MsgButtons, MsgIcon) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
        return MsgAnswer::Ok;
    });
    sim::InstallParameterCommands(*splicer);
    const char* out = std::getenv("VELMORA_SCREENSHOTS");
    const QString stem = QStringLiteral("%1/setting_%2")
                             .arg(QString::fromLocal8Bit(out), QString::fromStdString(tag));
    if (out) QDir().mkpath(QString::fromLocal8Bit(out));
    {
        CVelmoraDlg dlg(link, splicer->PortPath());
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        CMonitorDlg& page = dlg.MonitorPage();
        for (CWBButton* button : {&page.ConnectButton(), &page.DisconnectButton(),
                                  &page.RefreshButton(), &page.ReadButton(), &page.AcceptButton()})
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        page.ConnectButton().click();
        ASSERT_TRUE(page.DisconnectButton().isEnabled());

        CEditCombGridCtrl& grid = page.Grid();
        const QFontMetrics metrics(grid.font());
        for (int group = 0; group < page.GroupCombo().count(); ++group) {
            SCOPED_TRACE(group);
            page.GroupCombo().setCurrentIndex(group);
            emit page.GroupCombo().activated(group);
            QApplication::processEvents();
            ASSERT_FALSE(grid.GetItemText(1, 1).isEmpty());
            for (int row = 0; row < grid.GetRowCount(); ++row) {
                for (int col = 0; col < 2; ++col) {
                    const QString text = grid.GetItemText(row, col);
                    EXPECT_LE(metrics.horizontalAdvance(text) + kCellMargins,
                              grid.GetColumnWidth(col))
                        << "row " << row << ": " << text.toStdString();
                }
            }
            if (out) dlg.grab().save(stem + QStringLiteral("_group%1.png").arg(group));
        }
        // The SysTime list open over the System group, as wide as it needs.
        ASSERT_TRUE(grid.EditCell(9, 1));
        auto* list = qobject_cast<QComboBox*>(grid.Editor());
        ASSERT_NE(list, nullptr);
        list->showPopup();
        QApplication::processEvents();
        QWidget* popup = list->view()->window();
        EXPECT_GE(popup->width(), list->width());
        if (out) {
            dlg.grab().save(stem + QStringLiteral("_list_editor.png"));
            popup->grab().save(stem + QStringLiteral("_list_open.png"));
        }
        list->hidePopup();
    }
    SetMessageBoxHook({});
}

INSTANTIATE_TEST_SUITE_P(Languages, SettingPageScreens, ::testing::Values("en", "zh"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace velmora::ui
