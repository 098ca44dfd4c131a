// The parameter grid: how an edit starts and ends, what read-only and fixed
// cells refuse, what the drop-down list offers, and the cell record.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTest>

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

constexpr int kDoubleClick = -1;  // in place of a key: a double click on the cell
const QString kLongOption = QStringLiteral("An option far wider than its cell");

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
            grid.SetRowHeight(grid.InsertRow(QString::fromUtf8(caption)), 30);
        SetValue(kName, "123");
        SetValue(kCount, "45");
        SetValue(kMode, "On", EditorKind::List, {"Off", "On"});
        SetValue(kSerial, "AB12", EditorKind::Text, {}, gvis::ReadOnly);
        SetValue(kAction, "", EditorKind::NotifyOnly);
        SetValue(kSysTime, "7 min", EditorKind::List,
                 {"Alaways On", "3 min", "6 min", kLongOption});
        grid.resize(300, 300);
        grid.SetColumnWidthPercents({35, 60});
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }

  public:
    void SetValue(int row, const char* text, EditorKind kind = EditorKind::Text,
                  QStringList options = {}, unsigned state = 0) {
        GridItem item;
        item.row = row;
        item.col = 1;
        item.mask = gvif::Text | gvif::Format | gvif::State;
        item.format = gvfmt::Left | gvfmt::VCenter | gvfmt::SingleLine;
        item.state = state;
        item.text = QString::fromUtf8(text);
        item.editorKind = kind;
        item.options = std::move(options);
        ASSERT_TRUE(grid.SetItem(item));
    }
    void Focus(int row) { grid.setCurrentCell(row - 1, 1); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = grid.Editor() ? grid.Editor() : &grid;
        if (key < 0x80)  // a character: typed as text
            QTest::keyClick(target, static_cast<char>(key), modifiers);
        else
            QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    }
    // A key, or a double click on `row`.
    void Start(int key, int row) {
        if (key == kDoubleClick)
            DoubleClick(row);
        else
            Key(key);
    }
    QLineEdit* LineEditor() { return qobject_cast<QLineEdit*>(grid.Editor()); }
    QComboBox* ListEditor() { return qobject_cast<QComboBox*>(grid.Editor()); }
    QRect CellRect(int row) { return grid.visualRect(grid.model()->index(row - 1, 1)); }
    void DoubleClick(int row) {
        // As a person does it: press, release, the double click, release.
        const QPoint at = CellRect(row).center();
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    CEditCombGridCtrl grid;
};

// A typed character replaces the text, Backspace drops the last one, Enter, F2 and
// a double click keep it with the caret at the end.
TEST_F(GridTest, HowAnEditStartsDecidesTheEditorsText) {
    const std::pair<int, const char*> cases[] = {{'7', "7"},
                                                 {'x', "x"},
                                                 {Qt::Key_Backspace, "12"},
                                                 {Qt::Key_Return, "123"},
                                                 {Qt::Key_F2, "123"},
                                                 {kDoubleClick, "123"}};
    for (const auto& [start, text] : cases) {
        SCOPED_TRACE(text);
        SetValue(kName, "123");
        Focus(kName);
        Start(start, kName);
        ASSERT_NE(LineEditor(), nullptr);
        EXPECT_EQ(LineEditor()->text(), text);
        // A typed key starts a new text; an edit started otherwise selects the whole
        // text, so what is typed next replaces it instead of adding to it.
        const bool keyStarted =
            start != Qt::Key_Return && start != Qt::Key_F2 && start != kDoubleClick;
        EXPECT_EQ(LineEditor()->selectedText(), keyStarted ? QString() : QString(text));
        EXPECT_EQ(LineEditor()->cursorPosition(), static_cast<int>(strlen(text)));
        Key(Qt::Key_Return);
        EXPECT_EQ(grid.Editor(), nullptr);
        EXPECT_EQ(grid.GetItemText(kName, 1), text);
    }
}

TEST_F(GridTest, EscapeRestoresAndOnlyAChangedTextMarksModified) {
    QSignalSpy ended(&grid, &CEditCombGridCtrl::EndTextEdit);
    Focus(kName);
    for (int key : std::initializer_list<int>{'9', Qt::Key_Escape, Qt::Key_Return, Qt::Key_Tab})
        Key(key);
    EXPECT_EQ(grid.GetItemText(kName, 1), "123");
    EXPECT_FALSE(grid.GetModified());
    ASSERT_EQ(ended.count(), 2);
    EXPECT_EQ(ended[0][0].toInt(), kName);
    EXPECT_EQ(ended[0][1].toInt(), 1);

    Key('8');
    Key(Qt::Key_Tab);
    EXPECT_EQ(grid.Editor(), nullptr);
    EXPECT_EQ(grid.GetItemText(kName, 1), "8");
    EXPECT_TRUE(grid.GetModified());
}

TEST_F(GridTest, ArrowsEndAKeyboardEditAndMoveOnButMoveTheCaretAfterAClick) {
    Focus(kName);
    Key('5');
    Key(Qt::Key_Down);
    EXPECT_EQ(grid.GetItemText(kName, 1), "5");
    // The next cell is edited at once, its whole text selected.
    ASSERT_NE(LineEditor(), nullptr);
    EXPECT_EQ(grid.currentRow() + 1, kCount);
    EXPECT_EQ(LineEditor()->selectedText(), "45");
    Key(Qt::Key_Escape);

    DoubleClick(kName);
    Key(Qt::Key_Left);
    ASSERT_NE(LineEditor(), nullptr);
    EXPECT_EQ(LineEditor()->cursorPosition(), 0);
    // With Ctrl an arrow ends even an edit the mouse began.
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(grid.currentRow() + 1, kCount);
}

TEST_F(GridTest, ReadOnlyAndFixedCellsNeverEdit) {
    QSignalSpy begun(&grid, &CEditCombGridCtrl::BeginEdit);
    for (int start :
         {int('x'), int(Qt::Key_Return), int(Qt::Key_Backspace), int(Qt::Key_F2), kDoubleClick}) {
        Focus(kSerial);
        Start(start, kSerial);
        EXPECT_EQ(grid.Editor(), nullptr) << start;
    }
    EXPECT_FALSE(grid.EditCell(kSerial, 1));
    EXPECT_FALSE(grid.EditCell(kName, 0));  // the caption column
    EXPECT_FALSE(grid.EditCell(0, 1));      // the header row
    EXPECT_EQ(begun.count(), 0);
    EXPECT_EQ(grid.GetItemText(kSerial, 1), "AB12");
    // The bit can be taken away again.
    grid.SetItemState(kSerial, 1, 0);
    EXPECT_TRUE(grid.EditCell(kSerial, 1));
}

TEST_F(GridTest, TheListSelectsTheCellsTextWhenItIsAnOptionAndWidensForLongOptions) {
    QSignalSpy ended(&grid, &CEditCombGridCtrl::EndListEdit);
    ASSERT_TRUE(grid.EditCell(kMode, 1));
    ASSERT_NE(ListEditor(), nullptr);
    EXPECT_EQ(ListEditor()->count(), 2);
    EXPECT_EQ(ListEditor()->currentIndex(), 1);
    // A narrow list stays in its cell.
    EXPECT_EQ(ListEditor()->width(), CellRect(kMode).width());
    Key(Qt::Key_Escape);

    // "7 min" is no option: nothing is selected, and closing keeps the text.
    for (int key : std::initializer_list<int>{Qt::Key_Escape, Qt::Key_Return}) {
        ASSERT_TRUE(grid.EditCell(kSysTime, 1));
        EXPECT_EQ(ListEditor()->currentIndex(), -1);
        Key(key);
        EXPECT_EQ(grid.GetItemText(kSysTime, 1), "7 min");
    }
    EXPECT_FALSE(grid.GetModified());

    ASSERT_TRUE(grid.EditCell(kSysTime, 1));
    QComboBox* list = ListEditor();
    const int textWidth = QFontMetrics(grid.font()).horizontalAdvance(kLongOption);
    ASSERT_GT(textWidth, CellRect(kSysTime).width());
    EXPECT_GE(list->view()->minimumWidth(), textWidth);
    EXPECT_GT(list->width(), CellRect(kSysTime).width());
    EXPECT_EQ(list->height(), CellRect(kSysTime).height());
    // A choice becomes the cell's text.
    list->setCurrentIndex(2);
    Key(Qt::Key_Return);
    EXPECT_EQ(grid.GetItemText(kSysTime, 1), "6 min");
    EXPECT_TRUE(grid.GetModified());
    EXPECT_EQ(ended.count(), 4);
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
    for (auto [row, col] : {std::pair{-1, 1}, {99, 1}, {1, 2}, {1, -1}}) {
        GridItem outside;
        outside.row = row;
        outside.col = col;
        EXPECT_FALSE(grid.SetItem(outside));
        EXPECT_FALSE(grid.GetItem(outside));
    }
    // Text only: the format stays; without options the list keeps its own.
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
    EXPECT_EQ(read.options, QStringList({"Off", "On"}));
}

TEST_F(GridTest, DeletingTheRowsKeepsTheHeaderAndEndsAnOpenEdit) {
    Focus(kName);
    Key('1');
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
