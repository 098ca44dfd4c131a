// Faults found in the field trials of the window, one table of cases per rule.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "app/velmora_app.h"
#include "app/velmora_dlg.h"
#include "protocol/command_catalogue.h"
#include "sim/splicer_contents.h"
#include "support/test_support.h"
#include "ui_wait.h"
#include "widgets/edit_comb_grid_ctrl.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;

// A grid with a few value cells, shown, as the Setting page fills it.
class FieldGrid : public ::testing::Test {
  protected:
    void SetUp() override {
        grid.SetColumnCount(2);
        grid.SetFixedRowCount(1);
        grid.SetFixedColumnCount(1);
        grid.SetRowCount(1);
        const char* rows[][2] = {
            {"ARC Value", "12"}, {"Cut Angle", "1800"}, {"Prefuse Time", "150"}, {"Overlap", ".8"}};
        for (const auto& [caption, value] : rows) {
            const int r = grid.InsertRow(QString::fromUtf8(caption));
            grid.SetRowHeight(r, 30);
            grid.SetItemText(r, 1, QString::fromUtf8(value));
        }
        grid.resize(320, 240);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    QPoint CellCentre(int row) { return grid.visualRect(grid.model()->index(row - 1, 1)).center(); }
    void Click(int row) {
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CellCentre(row));
    }
    // Types `text` where the keyboard focus of the grid is: its editor, or the grid.
    void Type(const char* text) {
        for (const char* c = text; *c; ++c)
            QTest::keyClick(grid.Editor() ? grid.Editor() : static_cast<QWidget*>(&grid), *c);
    }
    void Enter() {
        QTest::keyClick(grid.Editor() ? grid.Editor() : static_cast<QWidget*>(&grid),
                        Qt::Key_Return);
    }
    std::vector<QString> Values() {
        std::vector<QString> values;
        for (int r = 1; r < grid.GetRowCount(); ++r) values.push_back(grid.GetItemText(r, 1));
        return values;
    }

    CEditCombGridCtrl grid;
};

constexpr int kArc = 1;
constexpr int kCutAngle = 2;

// Rule: a key typed on the grid edits the current cell, never another one found
// by a type-ahead search, however soon after a click it comes.
TEST_F(FieldGrid, TypedKeysEditTheCurrentCell) {
    struct Case {
        const char* name;
        bool clickFirst;  // a click on the current cell just before the keys
        const char* typed;
        std::vector<QString> values;
    };
    const Case cases[] = {
        {"click then type at once", true, "1.5", {"12", "1.5", "150", ".8"}},
        {"type without a click", false, "2.5", {"12", "2.5", "150", ".8"}},
        {"a dot first", true, ".5", {"12", ".5", "150", ".8"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        grid.SetItemText(kCutAngle, 1, QStringLiteral("1800"));
        grid.SetItemText(kArc, 1, QStringLiteral("12"));
        grid.setCurrentCell(kCutAngle - 1, 1);
        if (c.clickFirst) Click(kCutAngle);  // the cell is already current
        Type(c.typed);
        Enter();
        EXPECT_EQ(grid.currentRow(), kCutAngle - 1);
        EXPECT_EQ(Values(), c.values);
        EXPECT_EQ(grid.Editor(), nullptr);
        // The click's delayed edit must not open an editor afterwards.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        EXPECT_EQ(grid.Editor(), nullptr);
    }
}

// Rule: an edit started on a cell selects its whole text, so typing replaces it.
TEST_F(FieldGrid, StartingAnEditSelectsTheWholeText) {
    struct Case {
        const char* name;
        CEditCombGridCtrl::StartKey start;
    };
    const Case cases[] = {{"second click", CEditCombGridCtrl::StartKey::Mouse},
                          {"Enter", CEditCombGridCtrl::StartKey::Enter}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        grid.SetItemText(kCutAngle, 1, QStringLiteral("1800"));
        if (c.start == CEditCombGridCtrl::StartKey::Mouse) {
            grid.setCurrentCell(kCutAngle - 1, 1);
            Click(kCutAngle);
            ASSERT_TRUE(test::WaitUntil([&] { return grid.Editor() != nullptr; }));
        } else {
            ASSERT_TRUE(grid.EditCell(kCutAngle, 1, c.start));
        }
        auto* line = qobject_cast<QLineEdit*>(grid.Editor());
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->selectedText(), "1800");
        Type("1.5");
        Enter();
        EXPECT_EQ(grid.GetItemText(kCutAngle, 1), "1.5");
    }
}

// The window on a virtual splicer with every command, in English.
class FieldWindow : public test::SplicerTest {
  protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallAllCommands(*splicer);
        SetMessageBoxHook([this](const QString& text, const QString&, MsgButtons buttons, MsgIcon) {
            boxes.push_back(text);
            return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
        });
        language = std::make_unique<test::ScopedConfig>(1, workDir.path());
        dlg = std::make_unique<CVelmoraDlg>(link, splicer->PortPath());
        dlg->show();
    }
    void TearDown() override {
        dlg.reset();
        SetMessageBoxHook({});
        language.reset();
        test::SplicerTest::TearDown();
    }
    CMonitorDlg& Setting() { return dlg->MonitorPage(); }
    void ConnectNow() {
        Setting().OnBnClickedConnect();
        ASSERT_EQ(dlg->ConnectionText(), "Connected");
    }

    test::TempDir workDir;
    std::unique_ptr<test::ScopedConfig> language;
    std::unique_ptr<CVelmoraDlg> dlg;
    std::vector<QString> boxes;
    MsgAnswer answer = MsgAnswer::No;
};

// Rule: a port that has gone away shows as Disconnected at once, and the Setting
// page offers Connect again.
TEST_F(FieldWindow, ALostPortShowsDisconnected) {
    struct Case {
        const char* name;
        std::function<void(CVelmoraDlg&)> after;  // what happens after the loss
    };
    const Case cases[] = {
        {"nothing: the window's own look", [](CVelmoraDlg&) {}},
        {"a page reports something",
         [](CVelmoraDlg& dlg) { emit dlg.HistoryPage().StatusNotice(QStringLiteral("x")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectNow();
        EXPECT_FALSE(Setting().ConnectButton().isEnabled());
        link.Port().ClosePort();  // as a hang-up leaves it
        c.after(*dlg);
        EXPECT_TRUE(test::WaitUntil([&] { return dlg->ConnectionText() == "Disonnected"; }, 2s));
        EXPECT_TRUE(Setting().ConnectButton().isEnabled());
        EXPECT_FALSE(Setting().DisconnectButton().isEnabled());
    }
}

// Rule: an exchange on the window's thread shows that it runs and can be
// cancelled with the Cancel button or Escape; the page is usable afterwards.
TEST_F(FieldWindow, AnExchangeShowsItselfAndCanBeCancelled) {
    struct Seen {
        bool pageEnabled = true;
        bool tabsEnabled = true;
        bool cancelShown = false;
        bool busyCursor = false;
        QString pane;
    };
    struct Case {
        const char* name;
        std::uint8_t silentCommand;
        bool connectFirst;
        std::function<void(CVelmoraDlg&)> step;
        std::function<void(CVelmoraDlg&)> cancel;
    };
    const auto escape = [](CVelmoraDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); };
    const auto button = [](CVelmoraDlg& dlg) { dlg.CancelButton().click(); };
    const auto connect = [](CVelmoraDlg& dlg) { dlg.MonitorPage().OnBnClickedConnect(); };
    const auto read = [](CVelmoraDlg& dlg) { dlg.MonitorPage().OnBnClickedRead(); };
    const Case cases[] = {
        {"Connect, Escape", cmd::Handshake, false, connect, escape},
        {"Connect, Cancel button", cmd::Handshake, false, connect, button},
        {"Read, Escape", cmd::ReadEnvironment, true, read, escape},
        {"Read, Cancel button", cmd::ReadEnvironment, true, read, button},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        splicer->ClearFaults();
        if (c.connectFirst) ConnectNow();
        splicer->SetFault(c.silentCommand, {sim::FaultKind::Silent});
        Seen seen;
        QTimer::singleShot(150, dlg.get(), [&] {
            seen.pageEnabled = Setting().isEnabled();
            seen.tabsEnabled = dlg->TabCtrl().TabBar().isEnabled();
            seen.cancelShown = dlg->CancelButton().isVisible();
            seen.busyCursor = QApplication::overrideCursor() != nullptr;
            seen.pane = dlg->CommText();
            c.cancel(*dlg);
        });
        const auto started = std::chrono::steady_clock::now();
        c.step(*dlg);
        // Cancelled well before the 1.5 s the splicer would be waited for.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
        EXPECT_FALSE(seen.pageEnabled);
        EXPECT_FALSE(seen.tabsEnabled);
        EXPECT_TRUE(seen.cancelShown);
        EXPECT_TRUE(seen.busyCursor);
        EXPECT_EQ(seen.pane, "Communicating... press Esc or Cancel to stop");
        EXPECT_TRUE(Setting().isEnabled());
        EXPECT_TRUE(dlg->TabCtrl().TabBar().isEnabled());
        EXPECT_FALSE(dlg->CancelButton().isVisible());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_NE(dlg->CommText(), "Communicating... press Esc or Cancel to stop");
        // Usable again: the same step now goes through.
        splicer->ClearFaults();
        c.step(*dlg);
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        Setting().OnBnClickedDisconnect();
    }
}

// Rule: a download on a page's worker can be cancelled too.
TEST_F(FieldWindow, ADownloadCanBeCancelled) {
    ConnectNow();
    splicer->SetFault(cmd::RecordCount, {sim::FaultKind::Silent});
    CHistoryDlg& page = dlg->HistoryPage();
    page.OnBnClickedReceive();
    ASSERT_TRUE(page.Downloading());
    EXPECT_TRUE(dlg->CancelButton().isVisible());
    const auto started = std::chrono::steady_clock::now();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_TRUE(test::WaitUntil([&] { return !page.Downloading(); }, 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
    EXPECT_TRUE(page.ReceiveButton().isEnabled());
    EXPECT_FALSE(dlg->CancelButton().isVisible());
}

// Rule: edits are never thrown away silently: a group change asks first, and a
// read that brought nothing leaves the values on screen.
TEST_F(FieldWindow, EditsAreKeptUnlessTheUserDropsThem) {
    struct Case {
        const char* name;
        bool groupChange;  // else a Read of the same group after Disconnect
        MsgAnswer answer;
        bool asked;
        bool editKept;
    };
    const Case cases[] = {
        {"group change, No", true, MsgAnswer::No, true, true},
        {"group change, Yes", true, MsgAnswer::Yes, true, false},
        {"Read while disconnected", false, MsgAnswer::Yes, false, true},
    };
    const int shown = Setting().GroupCombo().currentIndex();
    const int other = shown == 0 ? 1 : 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        ConnectNow();
        Setting().GroupCombo().setCurrentIndex(shown);
        Setting().OnBnClickedRead();
        CEditCombGridCtrl& grid = Setting().Grid();
        ASSERT_GT(grid.GetRowCount(), 1);
        const QString caption = grid.GetItemText(1, 0);
        grid.SetItemText(1, 1, QStringLiteral("edited"));
        grid.SetModified(true);
        answer = c.answer;
        if (c.groupChange) {
            Setting().GroupCombo().setCurrentIndex(other);
            emit Setting().GroupCombo().activated(other);
        } else {
            Setting().OnBnClickedDisconnect();
            boxes.clear();
            Setting().OnBnClickedRead();
        }
        const bool asked =
            !boxes.empty() && boxes.front().contains(QStringLiteral("not been written"));
        EXPECT_EQ(asked, c.asked);
        const bool kept =
            grid.GetItemText(1, 0) == caption && grid.GetItemText(1, 1) == QStringLiteral("edited");
        EXPECT_EQ(kept, c.editKept);
        EXPECT_EQ(Setting().GroupCombo().currentIndex(), c.editKept ? shown : other);
        if (c.editKept) EXPECT_TRUE(grid.GetModified());
        if (link.Port().IsOpen()) Setting().OnBnClickedDisconnect();
    }
}

// Rule: the port list takes any typed device path; Connect opens a listed
// entry's device, or else the text as typed.
TEST_F(FieldWindow, APortPathCanBeTyped) {
    struct Case {
        const char* name;
        bool clearList;  // only the typed text is there
        QString typed;
        bool connected;
    };
    const QString port = QString::fromStdString(splicer->PortPath());
    const Case cases[] = {
        {"a path not in the list", true, port, true},
        {"the listed entry's text", false, {}, true},
        {"a by-id path that is not there", true,
         QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_Velmora-if00-port0"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QComboBox& combo = Setting().PortCombo();
        EXPECT_TRUE(combo.isEditable());
        if (c.clearList) {
            combo.clear();
            combo.clearEditText();
            QTest::keyClicks(combo.lineEdit(), c.typed);
        } else {
            Setting().OnBnClickedRefresh();
        }
        Setting().OnBnClickedConnect();
        EXPECT_EQ(dlg->ConnectionText() == "Connected", c.connected);
        EXPECT_EQ(link.Port().IsOpen(), c.connected);
        if (link.Port().IsOpen()) Setting().OnBnClickedDisconnect();
        // What was typed is never added to the list.
        if (c.clearList) EXPECT_EQ(combo.count(), 0);
    }
}

// Rule: a Chinese run shows Qt's own texts (standard buttons, file dialog) in Chinese.
TEST(FieldLanguage, QtsOwnTextsFollowTheLanguage) {
    struct Case {
        const char* name;
        int englishFlag;
        const char* yes;
        const char* cancel;
    };
    const Case cases[] = {{"English", 1, "&Yes", "Cancel"}, {"Chinese", 0, "是", "取消"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::ScopedConfig config(c.englishFlag, dir.path());
        const std::unique_ptr<QTranslator> translator = InstallQtTranslations();
        EXPECT_EQ(translator != nullptr, c.englishFlag != 1);
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QString::fromUtf8(c.yes)))
            << box.button(QMessageBox::Yes)->text().toStdString();
        EXPECT_TRUE(box.button(QMessageBox::Cancel)->text().contains(QString::fromUtf8(c.cancel)))
            << box.button(QMessageBox::Cancel)->text().toStdString();
    }
}

// Rule: the window tells where saved files went, is never smaller than its pages
// need, and shows the firmware transfer as a bar.
TEST_F(FieldWindow, SavedFilesSayWhere) {
    ConnectNow();
    CHistoryDlg& history = dlg->HistoryPage();
    history.OnBnClickedReceive();
    ASSERT_TRUE(test::WaitUntil([&] { return !history.Downloading(); }));
    ASSERT_FALSE(history.Records().empty());
    boxes.clear();
    answer = MsgAnswer::Yes;
    history.OnBnClickedExcel();
    ASSERT_TRUE(test::WaitUntil([&] { return !history.Exporting(); }));
    CImageDlg& images = dlg->ImagePage();
    images.RefreshImageList();
    ASSERT_FALSE(images.Catalogue().empty());
    images.OnBnClickedDownLoad();
    ASSERT_TRUE(test::WaitUntil([&] { return !images.Downloading(); }));

    struct Case {
        const char* name;
        const char* ending;
    };
    const Case cases[] = {{"EXCEL export", ".csv"}, {"image", ".jpg"}};
    ASSERT_EQ(boxes.size(), std::size(cases));
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const QStringList lines = boxes[i].split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[0], "File successfully!");
        EXPECT_TRUE(lines[1].endsWith(QLatin1String(cases[i].ending), Qt::CaseInsensitive));
        EXPECT_TRUE(std::filesystem::exists(lines[1].toStdString()));
    }
}

TEST(FieldLayout, TheSmallestWindowCutsNothingOff) {
    // The program's own language files, from the source tree.
    const std::filesystem::path sourceDir =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    for (int englishFlag : {1, 0}) {
        SCOPED_TRACE(englishFlag);
        test::ScopedConfig config(englishFlag, sourceDir);
        Link link;
        CVelmoraDlg dlg(link);
        dlg.show();
        dlg.resize(1, 1);
        QApplication::processEvents();
        CMyTabBar& bar = dlg.TabCtrl().TabBar();
        EXPECT_LE(bar.tabRect(bar.count() - 1).right(), bar.width());
        for (int tab = 0; tab < bar.count(); ++tab) {
            SCOPED_TRACE(tab);
            bar.setCurrentIndex(tab);
            QApplication::processEvents();
            for (QAbstractButton* button : dlg.findChildren<QAbstractButton*>()) {
                if (!button->isVisibleTo(&dlg) || !button->isVisible()) continue;
                EXPECT_GE(button->width(), button->sizeHint().width())
                    << button->text().toStdString();
            }
            for (QLabel* label : dlg.findChildren<QLabel*>()) {
                if (!label->isVisible() || label->wordWrap() || label->text().isEmpty()) continue;
                EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
            }
        }
    }
}

TEST_F(FieldWindow, FirmwareProgressIsABar) {
    ConnectNow();
    const std::filesystem::path file = workDir.Write("update.bin", std::string(95000, 'x'));
    CFirmWareDlg& page = dlg->FirmWarePage();
    page.SetFileChooser([&](QWidget*) { return QString::fromStdString(file.string()); });
    page.OnBnClickedBrowse();
    std::vector<int> values;
    QObject::connect(&page.Progress(), &QProgressBar::valueChanged,
                     [&](int value) { values.push_back(value); });
    answer = MsgAnswer::Yes;
    page.OnBnClickedSend();
    ASSERT_TRUE(test::WaitUntil([&] { return !page.UpdateRunning(); }, 10s));
    // 95000 bytes: three full blocks of 30000 report 0 %, 31 % and 63 %; the end 100 %.
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 100);
    EXPECT_GE(values.size(), 3u);
}

}  // namespace
}  // namespace velmora::ui
