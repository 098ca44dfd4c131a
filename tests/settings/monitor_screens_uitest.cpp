// The Setting page as a person sees it: every group read from the virtual
// splicer, in English and in Chinese, with the shipped language files. Captions,
// values and button labels must fit where they stand. With VELMORA_SCREENSHOTS
// set to a folder, each view is also saved there as a PNG file to look at.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/app_config.h"
#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "sim/parameter_commands.h"
#include "sim/virtual_splicer.h"
#include "support/test_support.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;

// par/ of the source tree, found from this file's own path.
fs::path ShippedPar() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "par";
}

// Room a cell's text needs besides its glyphs: the item's margins on both sides.
constexpr int kCellMargins = 8;

struct Language {
    const char* tag;
    int commLanage;
};

class SettingPageScreens : public ::testing::TestWithParam<Language> {};

TEST_P(SettingPageScreens, EveryGroupFitsItsColumns) {
    const Language language = GetParam();
    test::TempDir dir;
    fs::copy(ShippedPar(), dir.path() / "par", fs::copy_options::recursive);
    dir.Write("par/Lan_Ver.ini",
              "[DlgPara]\r\nComm_Lanage=" + std::to_string(language.commLanage) + "\r\n");
    test::ScopedConfig config(LoadAppConfig(dir.path()));
    SetMessageBoxHook([](const QString& text, const QString&, MsgButtons, MsgIcon) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
        return MsgAnswer::Ok;
    });

    sim::SplicerOptions options;
    options.fast = true;
    sim::VirtualSplicer splicer(options);
    std::string error;
    ASSERT_TRUE(splicer.Start(&error)) << error;
    sim::InstallParameterCommands(splicer);

    Link link;
    {
        CVelmoraDlg dlg(link, splicer.PortPath());
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        CMonitorDlg& page = dlg.MonitorPage();
        for (CWBButton* button : {&page.ConnectButton(), &page.DisconnectButton(),
                                  &page.RefreshButton(), &page.ReadButton(), &page.AcceptButton()})
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        page.ConnectButton().click();
        ASSERT_TRUE(page.DisconnectButton().isEnabled());

        const char* out = std::getenv("VELMORA_SCREENSHOTS");
        if (out) QDir().mkpath(QString::fromLocal8Bit(out));
        CEditCombGridCtrl& grid = page.Grid();
        const QFontMetrics metrics(grid.font());
        for (int group = 0; group < page.GroupCombo().count(); ++group) {
            SCOPED_TRACE(group);
            page.GroupCombo().setCurrentIndex(group);
            emit page.GroupCombo().activated(group);
            QApplication::processEvents();
            ASSERT_GT(grid.GetRowCount(), 1);
            ASSERT_FALSE(grid.GetItemText(1, 1).isEmpty());
            for (int row = 0; row < grid.GetRowCount(); ++row) {
                for (int col = 0; col < 2; ++col) {
                    const QString text = grid.GetItemText(row, col);
                    EXPECT_LE(metrics.horizontalAdvance(text) + kCellMargins,
                              grid.GetColumnWidth(col))
                        << "row " << row << ": " << text.toStdString();
                }
            }
            if (out)
                dlg.grab().save(QStringLiteral("%1/setting_%2_group%3.png")
                                    .arg(QString::fromLocal8Bit(out), language.tag)
                                    .arg(group));
        }
        // The SysTime list open over the System group.
        ASSERT_TRUE(grid.EditCell(9, 1));
        auto* list = qobject_cast<QComboBox*>(grid.Editor());
        ASSERT_NE(list, nullptr);
        list->showPopup();
        QApplication::processEvents();
        QWidget* popup = list->view()->window();
        EXPECT_GE(popup->width(), list->width());
        if (out) {
            const QString stem =
                QStringLiteral("%1/setting_%2_list").arg(QString::fromLocal8Bit(out), language.tag);
            dlg.grab().save(stem + QStringLiteral("_editor.png"));
            popup->grab().save(stem + QStringLiteral("_open.png"));
        }
        list->hidePopup();
    }
    SetMessageBoxHook({});
}

INSTANTIATE_TEST_SUITE_P(Languages, SettingPageScreens,
                         ::testing::Values(Language{"en", 1}, Language{"zh", 0}),
                         [](const auto& info) { return std::string(info.param.tag); });

}  // namespace
}  // namespace velmora::ui
