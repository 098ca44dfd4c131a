// The pages as a person sees them with the shipped language files, in English
// and in Chinese: what is read must fit where it stands, even in the smallest
// window. With VELMORA_SCREENSHOTS
// naming a folder, each view is also saved there as a PNG file to look at:
//   VELMORA_SCREENSHOTS=build/screenshots velmora_ui_tests --gtest_filter='Screens*'
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <cstdlib>

#include "jobs/job_store.h"
#include "support/page_fixture.h"
#include "ui/report/report_dlg.h"

namespace velmora::ui {
namespace {

using test::kPageImages;
using test::kPageRecords;

// Room a cell's text needs besides its glyphs: the item's margins on both sides.
constexpr int kCellMargins = 8;

class Screens : public test::PageTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        PageTest::SetUp();
        shipped = test::UseShippedLanguage(par, GetParam());
        NewWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    void TearDown() override {
        dlg.reset();
        shipped.reset();
        PageTest::TearDown();
    }
    void Save(QWidget& widget, const QString& name) {
        const char* out = std::getenv("VELMORA_SCREENSHOTS");
        if (!out || !*out) return;
        QDir().mkpath(QString::fromLocal8Bit(out));
        const QString file = QStringLiteral("%1/%2_%3.png").arg(out, name, GetParam());
        EXPECT_TRUE(widget.grab().toImage().save(file)) << file.toStdString();
    }
    test::TempDir par;
    std::unique_ptr<test::ScopedConfig> shipped;
};

// Every tab, its buttons and its labels fit in the window at its smallest; so do
// the captions and texts of the Archive tab's columns (a list scrolls sideways).
TEST_P(Screens, TheSmallestWindowCutsNothingOff) {
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(par.path()));
        ASSERT_TRUE(opened.archive);
        std::vector<SpliceRecord> records;
        for (int i = 0; i < 12; ++i) records.push_back({sim::SampleRecord(i * 7)});
        const archive::SplicerIdentity splicer{"M2406A0153", "VM2406A0153"};
        ASSERT_TRUE(opened.archive->StoreDownload(splicer, records, "Riverside cable 3").ok());
        const auto bytes = EncodeSpliceParams(ParameterRecords{}.splice);
        const std::vector<archive::GroupBytes> groups{
            {archive::RecordKind::Splice, {bytes.begin(), bytes.end()}}};
        ASSERT_TRUE(
            opened.archive->StoreSnapshot(splicer, archive::reason::BeforeFirmware, groups).ok());
    }
    dlg->resize(1, 1);
    QApplication::processEvents();
    CMyTabBar& bar = dlg->TabCtrl().TabBar();
    EXPECT_LE(bar.tabRect(bar.count() - 1).right(), bar.width());
    for (int tab = 0; tab < bar.count(); ++tab) {
        SCOPED_TRACE(tab);
        SelectTab(tab);
        QApplication::processEvents();
        for (QAbstractButton* button : dlg->findChildren<QAbstractButton*>()) {
            if (!button->isVisible()) continue;
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        }
        for (QLabel* label : dlg->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->wordWrap() || label->text().isEmpty()) continue;
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        }
    }
    CArchiveDlg& archive = dlg->ArchivePage();
    ASSERT_TRUE(WaitFor([&] { return dlg->Archiver().Idle() && !archive.Busy(); }));
    ASSERT_EQ(archive.RecordList().GetItemCount(), 12);
    for (CListCtrlEx* list :
         {&archive.RecordList(), &archive.SnapshotList(), &archive.DifferenceList()}) {
        const QFontMetrics metrics(list->font());
        for (int column = 0; column < list->GetColumnCount(); ++column) {
            EXPECT_GE(list->columnWidth(column), list->header()->sectionSizeHint(column))
                << list->model()->headerData(column, Qt::Horizontal).toString().toStdString();
            for (int row = 0; row < list->GetItemCount(); ++row)
                EXPECT_LE(metrics.horizontalAdvance(list->GetItemText(row, column)) + kCellMargins,
                          list->columnWidth(column))
                    << list->GetItemText(row, column).toStdString();
        }
    }
    // The filter bar: the Result box shows its longest choice whole.
    SelectTab(kArchiveTab);
    QApplication::processEvents();
    EXPECT_GE(archive.ResultCombo().width(), archive.ResultCombo().sizeHint().width());
    Save(*dlg, "archive_smallest");
    dlg->resize(1280, 720);
    QApplication::processEvents();
    Save(*dlg, "archive_1280x720");
}

TEST_P(Screens, SettingGroupsFitTheirColumns) {
    CMonitorDlg& page = dlg->MonitorPage();
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
        for (int row = 0; row <= grid.rowCount(); ++row) {
            for (int col = 0; col < 2; ++col) {
                const QString text = grid.GetItemText(row, col);
                EXPECT_LE(metrics.horizontalAdvance(text) + kCellMargins, grid.columnWidth(col))
                    << "row " << row << ": " << text.toStdString();
            }
        }
        Save(*dlg, QStringLiteral("setting_group%1").arg(group));
    }
    // The SysTime list open over the System group, as wide as it needs.
    grid.setCurrentCell(8, 1);
    QTest::keyClick(&grid, Qt::Key_F2);
    auto* list = qobject_cast<QComboBox*>(grid.indexWidget(grid.currentIndex()));
    ASSERT_NE(list, nullptr);
    list->showPopup();
    QApplication::processEvents();
    QWidget* popup = list->view()->window();
    for (int i = 0; i < list->count(); ++i)
        EXPECT_LE(metrics.horizontalAdvance(list->itemText(i)) + kCellMargins, popup->width());
    Save(*dlg, "setting_list_editor");
    Save(*popup, "setting_list_open");
    list->hidePopup();
    EXPECT_TRUE(shown.empty());
}

TEST_P(Screens, ResultPageAfterADownload) {
    ASSERT_TRUE(OpenLink());
    SelectTab(kHistoryTab);
    CHistoryDlg& page = dlg->HistoryPage();
    page.OnBnClickedReceive();
    ASSERT_TRUE(WaitFor([&] { return !page.Downloading(); }));
    ASSERT_EQ(page.IndexList().GetItemCount(), kPageRecords);
    page.IndexList().SelectRow(146);
    page.IndexList().EnsureVisible(146);
    // A long caption in a narrow cell shows its ellipsis.
    page.ParamList().SetColumnWidth(0, 70);
    QApplication::processEvents();
    Save(*dlg, "result");
    EXPECT_TRUE(shown.empty());
}

TEST_P(Screens, ImageListAndPictureFit) {
    ASSERT_TRUE(OpenLink());
    SelectTab(kImageTab);
    CImageDlg& page = dlg->ImagePage();
    CListCtrlEx& list = page.ImageList();
    ASSERT_EQ(list.GetItemCount(), kPageImages);
    page.DownLoadButton().click();
    ASSERT_TRUE(WaitFor([&] { return !page.Downloading(); }));
    ASSERT_TRUE(page.Picture().ImageShown());

    const QFontMetrics metrics(list.font());
    for (int row = 0; row < list.GetItemCount(); ++row)
        EXPECT_LE(metrics.horizontalAdvance(list.GetItemText(row, 1)) + kCellMargins,
                  list.columnWidth(1));
    EXPECT_LE(list.columnWidth(0) + list.columnWidth(1), list.viewport()->width());
    EXPECT_FALSE(page.SaveButton().isVisible());
    EXPECT_GT(page.Picture().width(), list.width());
    Save(*dlg, "image");
    EXPECT_EQ(shown.size(), 1u) << "only the saved-file notice";
}

TEST_P(Screens, FirmwarePageWithAFileChosenAndAfterTheUpdate) {
    ASSERT_TRUE(Connect());
    SelectTab(kFirmWareTab);
    CFirmWareDlg& page = dlg->FirmWarePage();
    const auto file = workDir.Write("Velmora_V2.0.3_firmware.bin", std::string(70000, 'x'));
    page.SetFileChooser([&](QWidget*) { return QString::fromStdString(file.string()); });
    page.OnBnClickedBrowse();
    Save(*dlg, "firmware_chosen");
    page.OnBnClickedSend();
    ASSERT_TRUE(WaitFor([&] { return !page.UpdateRunning(); }));
    ASSERT_TRUE(firmware->WaitForReceipts(1, test::kPageMargin));
    QApplication::processEvents();
    Save(*dlg, "firmware_after");
}

// The Jobs tab with a tray's diagram below its table, on a laptop's screen and on
// wide ones: the window's smallest size fits 1,280 x 720; the table's columns all
// show from 1,366 wide, beside a tree that does not take half the width; the
// diagram has room; on every tab the buttons keep their captions and never stretch
// across the window.
TEST_P(Screens, JobsTabWithItsDiagramFromLaptopToWideScreens) {
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(par.path()));
        ASSERT_TRUE(opened.archive);
        std::vector<SpliceRecord> records;
        std::vector<std::int64_t> ids;
        for (int i = 0; i < 12; ++i) records.push_back({sim::SampleRecord(i)});
        for (std::int64_t id = 1; id <= 12; ++id) ids.push_back(id);
        ASSERT_TRUE(opened.archive->StoreDownload({"M2406A0153", "VM2406A0153"}, records).ok());
        ASSERT_TRUE(opened.archive->TagJob("Riverside", ids).ok());
        jobs::JobStore store(*opened.archive);
        const auto job = store.Job("Riverside");
        ASSERT_TRUE(job);
        const jobs::JobResult closure = store.AddClosure(job->id, {"C-17", "Mill Road"});
        const jobs::JobResult a = store.AddCable(closure.id, {"F-112", 48, 12});
        const jobs::JobResult b = store.AddCable(closure.id, {"F-113", 48, 12});
        const jobs::JobResult tray = store.AddTray(closure.id, {1, 12});
        // Ten in step, the eleventh crossing them, the twelfth planned.
        ASSERT_TRUE(
            store.Place({tray.id, 1, {a.id, 13}, {b.id, 1}, {ids.begin(), ids.end() - 2}}).ok());
        ASSERT_TRUE(store.Place({tray.id, 11, {a.id, 4}, {b.id, 11}, {ids[10]}}).ok());
        ASSERT_TRUE(store.PlanPosition(tray.id, 12, {a.id, 5}, {b.id, 12}).ok());
    }
    NewWindow();
    SelectTab(kJobTab);
    CJobDlg& page = dlg->JobPage();
    ASSERT_TRUE(WaitFor([&] { return dlg->Archiver().Idle() && !page.Busy(); }));
    ASSERT_TRUE(page.Choose(CJobDlg::Node::Tray, QStringLiteral("C-17"), 1));
    ASSERT_NE(page.DiagramView().Diagram(), nullptr);
    EXPECT_LE(dlg->minimumSizeHint().width(), 1280);
    EXPECT_LE(dlg->minimumSizeHint().height(), 720);
    for (const QSize size : {QSize(1280, 720), QSize(1366, 768), QSize(3000, 1800)}) {
        SCOPED_TRACE(size.width());
        dlg->resize(size);
        // On every tab the buttons keep their captions and never stretch across.
        for (int tab = 0; tab < dlg->TabCtrl().GetItemCount(); ++tab) {
            SelectTab(tab);
            QApplication::processEvents();
            for (QAbstractButton* button : dlg->findChildren<QAbstractButton*>()) {
                if (!button->isVisible()) continue;
                EXPECT_GE(button->width(), button->sizeHint().width())
                    << tab << " " << button->text().toStdString();
                EXPECT_LE(button->width(), std::max(2 * button->sizeHint().width(), 240))
                    << tab << " " << button->text().toStdString();
            }
        }
        SelectTab(kJobTab);
        QApplication::processEvents();
        CListCtrlEx& table = page.PositionList();
        int columns = 0;
        for (int column = 0; column < table.GetColumnCount(); ++column)
            columns += table.columnWidth(column);
        if (size.width() >= 1366) {
            EXPECT_LE(columns, table.viewport()->width());
            EXPECT_LT(page.Tree().width(), table.width());
        }
        EXPECT_GE(page.DiagramArea().height(), 150);
        Save(*dlg, QStringLiteral("jobs_%1x%2").arg(size.width()).arg(size.height()));
    }
}

// Where the report went, with its folder to open, though no viewer could show it.
TEST_P(Screens, ReportWindowWritingAndWritten) {
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(workDir.path()));
        ASSERT_TRUE(opened.archive);
        const std::vector<SpliceRecord> records{{sim::SampleRecord(0)}};
        ASSERT_TRUE(opened.archive->StoreDownload({"M1", "AM1"}, records).ok());
    }
    CReportDlg report(&dlg->ArchivePage(), {}, {}, workDir.path() / "report.pdf", workDir.path());
    std::vector<QUrl> opened;
    report.SetOpener([&](const QUrl& url) { return opened.push_back(url), false; });
    report.show();
    report.Start();
    Save(report, "report_writing");
    ASSERT_TRUE(WaitFor([&] { return !report.Running(); }));
    EXPECT_GE(report.OpenFolderButton().width(), report.OpenFolderButton().sizeHint().width());
    Save(report, "report_written");
    report.OpenFolderButton().click();
    const QString folder = QString::fromStdString(workDir.path().string());
    EXPECT_TRUE(report.StatusText().text().endsWith(folder + "/report.pdf"));
    EXPECT_EQ(opened, (std::vector{QUrl::fromLocalFile(folder + "/report.pdf"),
                                   QUrl::fromLocalFile(folder)}));
}

INSTANTIATE_TEST_SUITE_P(Languages, Screens, ::testing::Values("en", "zh"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace velmora::ui
