// The parameter grid: how an edit starts and ends, what read-only and fixed
// cells refuse, what the drop-down list offers, and the cell record.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <utility>

#include "widgets/edit_comb_grid_ctrl.h"

namespace velmora::ui {
namespace {

// Grid rows (row 0 is the header).
constexpr int kName = 1;     // text "123"
constexpr int kCount = 2;    // text "45"
constexpr int kMode = 3;     // list Off/On, "On"
constexpr int kSerial = 4;   // read-only "AB12"
constexpr int kAction = 5;   // notify only
constexpr int kSysTime = 6;  // list, "7 min" not among its options

const QString kLongOption = QStringLiteral("An option far wider than its cell");

void SetValue(CEditCombGridCtrl& grid, int row, const QString& text,
              EditorKind kind = EditorKind::Text, QStringList options = {}, unsigned state = 0) {
    GridItem item;
    item.row = row;
    item.col = 1;
    item.mask = gvif::Text | gvif::Format | gvif::State;
    item.format = gvfmt::Left | gvfmt::VCenter | gvfmt::SingleLine;
    item.state = state;
    item.text = text;
    item.editorKind = kind;
    item.options = std::move(options);
    ASSERT_TRUE(grid.SetItem(item));
}

class GridTest : public ::testing::Test {
protected:
    void SetUp() override {
        grid.SetColumnCount(2);
        grid.SetFixedRowCount(1);
        grid.SetFixedColumnCount(1);
        grid.SetRowCount(1);
        grid.SetItemText(0, 0, QStringLiteral("Parameters"));
        grid.SetItemText(0, 1, QStringLiteral("Content"));
        for (const char* caption : {"Name", "Count", "Mode", "Serial", "Action", "SysTime"})
            grid.InsertRow(QString::fromUtf8(caption));
        SetValue(grid, kName, QStringLiteral("123"));
        SetValue(grid, kCount, QStringLiteral("45"));
        SetValue(grid, kMode, QStringLiteral("On"), EditorKind::List, {"Off", "On"});
        SetValue(grid, kSerial, QStringLiteral("AB12"), EditorKind::Text, {}, gvis::ReadOnly);
        SetValue(grid, kAction, QString(), EditorKind::NotifyOnly);
        SetValue(grid, kSysTime, QStringLiteral("7 min"), EditorKind::List,
                 {"Alaways On", "3 min", "6 min", kLongOption});
        for (int r = 1; r < grid.GetRowCount(); ++r) grid.SetRowHeight(r, 30);
        grid.resize(300, 300);
        grid.SetColumnWidthPercents({35, 60});
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }

public:
    void Focus(int row, int col = 1) { grid.setCurrentCell(row - grid.GetFixedRowCount(), col); }

    QLineEdit* LineEditor() { return qobject_cast<QLineEdit*>(grid.Editor()); }
    QComboBox* ListEditor() { return qobject_cast<QComboBox*>(grid.Editor()); }

    void DoubleClick(int row, int col = 1) {
        // As a person does it: press, release, the double click, release.
        const QPoint at = grid.visualRect(grid.model()->index(row - 1, col)).center();
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    CEditCombGridCtrl grid;
};

TEST_F(GridTest, HowAnEditStartsDecidesTheEditorsText) {
    struct Case {
        const char* name;
        std::function<void(GridTest&)> start;
        const char* text;      // the editor's text once open
        const char* selected;  // its selected part
        int caret;
    } cases[] = {
        {"typed digit replaces", [](GridTest& t) { QTest::keyClick(&t.grid, '7'); }, "7", "", 1},
        {"typed letter replaces", [](GridTest& t) { QTest::keyClick(&t.grid, 'x'); }, "x", "", 1},
        {"backspace drops the last",
         [](GridTest& t) { QTest::keyClick(&t.grid, Qt::Key_Backspace); }, "12", "", 2},
        {"enter keeps, caret at end", [](GridTest& t) { QTest::keyClick(&t.grid, Qt::Key_Return); },
         "123", "", 3},
        {"F2 keeps, caret at end", [](GridTest& t) { QTest::keyClick(&t.grid, Qt::Key_F2); }, "123",
         "", 3},
        {"double click keeps", [](GridTest& t) { t.DoubleClick(kName); }, "123", "", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetValue(grid, kName, QStringLiteral("123"));
        Focus(kName);
        c.start(*this);
        QLineEdit* editor = LineEditor();
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(editor->selectedText(), QString::fromUtf8(c.selected));
        EXPECT_EQ(editor->cursorPosition(), c.caret);
        QTest::keyClick(editor, Qt::Key_Return);
        EXPECT_EQ(grid.Editor(), nullptr);
        EXPECT_EQ(grid.GetItemText(kName, 1), QString::fromUtf8(c.text));
    }
}

TEST_F(GridTest, EscapeRestoresAndEnterMarksModified) {
    QSignalSpy ended(&grid, &CEditCombGridCtrl::EndTextEdit);
    Focus(kName);
    QTest::keyClick(&grid, '9');
    ASSERT_NE(LineEditor(), nullptr);
    QTest::keyClick(LineEditor(), Qt::Key_Escape);
    EXPECT_EQ(grid.Editor(), nullptr);
    EXPECT_EQ(grid.GetItemText(kName, 1), "123");
    EXPECT_FALSE(grid.GetModified());
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended[0][0].toInt(), kName);
    EXPECT_EQ(ended[0][1].toInt(), 1);

    // Ending with the text unchanged is no modification either.
    QTest::keyClick(&grid, Qt::Key_Return);
    QTest::keyClick(LineEditor(), Qt::Key_Tab);
    EXPECT_FALSE(grid.GetModified());

    QTest::keyClick(&grid, '8');
    QTest::keyClick(LineEditor(), Qt::Key_Tab);
    EXPECT_EQ(grid.Editor(), nullptr);
    EXPECT_EQ(grid.GetItemText(kName, 1), "8");
    EXPECT_TRUE(grid.GetModified());
    EXPECT_EQ(ended.count(), 3);
}

TEST_F(GridTest, ArrowsEndAKeyboardEditAndMoveOnButMoveTheCaretAfterAClick) {
    Focus(kName);
    QTest::keyClick(&grid, '5');
    QTest::keyClick(LineEditor(), Qt::Key_Down);
    EXPECT_EQ(grid.GetItemText(kName, 1), "5");
    // The next cell is edited at once, its whole text selected.
    ASSERT_NE(LineEditor(), nullptr);
    EXPECT_EQ(grid.currentRow() + 1, kCount);
    EXPECT_EQ(LineEditor()->selectedText(), "45");
    QTest::keyClick(LineEditor(), Qt::Key_Escape);
    EXPECT_EQ(grid.GetItemText(kCount, 1), "45");

    DoubleClick(kName);
    ASSERT_NE(LineEditor(), nullptr);
    QTest::keyClick(LineEditor(), Qt::Key_Left);
    ASSERT_NE(LineEditor(), nullptr);
    EXPECT_EQ(LineEditor()->cursorPosition(), 0);
    // With Ctrl an arrow ends even an edit the mouse began.
    QTest::keyClick(LineEditor(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(grid.currentRow() + 1, kCount);
}

TEST_F(GridTest, ReadOnlyAndFixedCellsNeverEdit) {
    QSignalSpy begun(&grid, &CEditCombGridCtrl::BeginEdit);
    const std::function<void(GridTest&)> attempts[] = {
        [](GridTest& t) { QTest::keyClick(&t.grid, 'x'); },
        [](GridTest& t) { QTest::keyClick(&t.grid, Qt::Key_Return); },
        [](GridTest& t) { QTest::keyClick(&t.grid, Qt::Key_Backspace); },
        [](GridTest& t) { QTest::keyClick(&t.grid, Qt::Key_F2); },
        [](GridTest& t) { t.DoubleClick(kSerial); },
        [](GridTest& t) { t.grid.EditCell(kSerial, 1); },
    };
    for (const auto& attempt : attempts) {
        Focus(kSerial);
        attempt(*this);
        EXPECT_EQ(grid.Editor(), nullptr);
    }
    EXPECT_FALSE(grid.EditCell(kName, 0));  // the caption column
    EXPECT_FALSE(grid.EditCell(0, 1));      // the header row
    EXPECT_EQ(begun.count(), 0);
    EXPECT_EQ(grid.GetItemText(kSerial, 1), "AB12");
    EXPECT_TRUE(grid.GetItemState(kSerial, 1) & gvis::ReadOnly);
    EXPECT_TRUE(grid.GetItemState(kName, 0) & gvis::Fixed);

    // The bit can be taken away again.
    grid.SetItemState(kSerial, 1, 0);
    EXPECT_TRUE(grid.EditCell(kSerial, 1));
}

TEST_F(GridTest, TheListSelectsTheCellsTextWhenItIsAnOption) {
    QSignalSpy ended(&grid, &CEditCombGridCtrl::EndListEdit);
    ASSERT_TRUE(grid.EditCell(kMode, 1));
    ASSERT_NE(ListEditor(), nullptr);
    EXPECT_EQ(ListEditor()->count(), 2);
    EXPECT_EQ(ListEditor()->currentIndex(), 1);
    QTest::keyClick(ListEditor(), Qt::Key_Escape);

    // "7 min" is no option: nothing is selected, and closing keeps the text.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        ASSERT_TRUE(grid.EditCell(kSysTime, 1));
        ASSERT_NE(ListEditor(), nullptr);
        EXPECT_EQ(ListEditor()->currentIndex(), -1);
        QTest::keyClick(ListEditor(), key);
        EXPECT_EQ(grid.GetItemText(kSysTime, 1), "7 min");
    }
    EXPECT_FALSE(grid.GetModified());

    // A choice becomes the cell's text.
    ASSERT_TRUE(grid.EditCell(kSysTime, 1));
    ListEditor()->setCurrentIndex(2);
    QTest::keyClick(ListEditor(), Qt::Key_Return);
    EXPECT_EQ(grid.GetItemText(kSysTime, 1), "6 min");
    EXPECT_TRUE(grid.GetModified());
    EXPECT_EQ(ended.count(), 4);
}

TEST_F(GridTest, AWideOptionWidensTheListBeyondItsCell) {
    ASSERT_TRUE(grid.EditCell(kSysTime, 1));
    QComboBox* list = ListEditor();
    ASSERT_NE(list, nullptr);
    const QRect cell = grid.visualRect(grid.model()->index(kSysTime - 1, 1));
    const int cellWidth = cell.width();
    const int textWidth = QFontMetrics(grid.font()).horizontalAdvance(kLongOption);
    ASSERT_GT(textWidth, cellWidth);
    EXPECT_GE(list->view()->minimumWidth(), textWidth);
    EXPECT_GT(list->width(), cellWidth);
    EXPECT_EQ(list->height(), cell.height());

    // A narrow list stays in its cell.
    QTest::keyClick(list, Qt::Key_Escape);
    ASSERT_TRUE(grid.EditCell(kMode, 1));
    EXPECT_EQ(ListEditor()->width(), cellWidth);
}

TEST_F(GridTest, ACellWithoutEditorOnlyNotifies) {
    QSignalSpy begun(&grid, &CEditCombGridCtrl::BeginEdit);
    QSignalSpy requested(&grid, &CEditCombGridCtrl::EditRequested);
    Focus(kAction);
    DoubleClick(kAction);
    EXPECT_EQ(grid.Editor(), nullptr);
    ASSERT_EQ(requested.count(), 1);
    EXPECT_EQ(requested[0][0].toInt(), kAction);
    EXPECT_EQ(begun.count(), 1);
}

TEST_F(GridTest, TheCellRecordCopiesWhatItsMaskSelects) {
    GridItem outside;
    const std::pair<int, int> outsideCells[] = {{-1, 1}, {99, 1}, {1, 2}, {1, -1}};
    for (auto [row, col] : outsideCells) {
        outside.row = row;
        outside.col = col;
        EXPECT_FALSE(grid.SetItem(outside));
        EXPECT_FALSE(grid.GetItem(outside));
    }

    // Text only: the format stays; the kind is always copied; no options, no change.
    GridItem item;
    item.row = kMode;
    item.col = 1;
    item.mask = gvif::Text;
    item.text = QStringLiteral("Off");
    item.format = gvfmt::Right;
    item.editorKind = EditorKind::List;
    ASSERT_TRUE(grid.SetItem(item));
    GridItem read;
    read.row = kMode;
    read.col = 1;
    read.mask = gvif::Text | gvif::Format;
    ASSERT_TRUE(grid.GetItem(read));
    EXPECT_EQ(read.text, "Off");
    EXPECT_EQ(read.format, gvfmt::Left | gvfmt::VCenter | gvfmt::SingleLine);
    EXPECT_EQ(read.editorKind, EditorKind::List);
    EXPECT_EQ(read.options, QStringList({"Off", "On"}));

    // The header row is a cell like the others.
    read.row = 0;
    read.col = 1;
    ASSERT_TRUE(grid.GetItem(read));
    EXPECT_EQ(read.text, "Content");
}

TEST_F(GridTest, DeletingTheRowsKeepsTheHeaderAndEndsAnOpenEdit) {
    Focus(kName);
    QTest::keyClick(&grid, '1');
    ASSERT_NE(grid.Editor(), nullptr);
    grid.DeleteNonFixedRows();
    EXPECT_EQ(grid.Editor(), nullptr);
    EXPECT_EQ(grid.GetRowCount(), 1);
    EXPECT_EQ(grid.GetItemText(0, 0), "Parameters");
    EXPECT_EQ(grid.InsertRow(QStringLiteral("Again")), 1);
    EXPECT_TRUE(grid.EditCell(1, 1));
}

}  // namespace
}  // namespace velmora::ui
