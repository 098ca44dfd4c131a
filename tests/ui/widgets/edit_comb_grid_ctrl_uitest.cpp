// The parameter grid: how an edit starts and ends, what read-only and caption
// cells refuse, and what the drop-down list offers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <algorithm>
#include <cstring>

#include "ui/app/ui_wait.h"
#include "ui/widgets/edit_comb_grid_ctrl.h"

namespace velmora::ui {
namespace {

// Grid rows (row 0 is the header).
constexpr int kName = 1;     // text "123"
constexpr int kCount = 2;    // text "45"
constexpr int kMode = 3;     // list Off/On, "On"
constexpr int kSerial = 4;   // read-only "AB12"
constexpr int kOverlap = 5;  // text ".8"
constexpr int kSysTime = 6;  // list, "7 min" not among its options

// In place of a key: a double click on the cell; a click on the current cell,
// its delayed edit waited for; the same click with the keys typed at once.
constexpr int kDoubleClick = -1;
constexpr int kSecondClick = -2;
constexpr int kClick = -3;
const QString kLongOption = QStringLiteral("An option far wider than its cell");

class GridTest : public ::testing::Test {
  protected:
    void SetUp() override {
        grid.SetColumnCount(2);
        grid.SetFixedRowCount(1);
        grid.SetFixedColumnCount(1);
        grid.SetRowCount(1);
        for (const char* caption : {"Name", "Count", "Mode", "Serial", "Overlap", "SysTime"})
            grid.SetRowHeight(grid.InsertRow(QString::fromUtf8(caption)), 30);
        SetValue(kName, "123");
        SetValue(kCount, "45");
        SetValue(kMode, "On", EditorKind::List, {"Off", "On"});
        SetValue(kSerial, "AB12", EditorKind::Text, {}, gvis::ReadOnly);
        SetValue(kOverlap, ".8");
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
    // The editor open on the current cell, or null.
    QWidget* Editor() { return grid.indexWidget(grid.currentIndex()); }
    // Whether an editor is open on any cell (a closed one is hidden at once).
    bool Editing() {
        const auto editors = grid.viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        return std::any_of(editors.begin(), editors.end(),
                           [](QWidget* w) { return w->isVisible(); });
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = Editor() ? Editor() : &grid;
        if (key < 0x80)  // a character: typed as text
            QTest::keyClick(target, static_cast<char>(key), modifiers);
        else
            QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    }
    void Type(const char* text) {
        for (const char* c = text; *c; ++c) Key(*c);
    }
    // A key, or a click of the mouse on the cell.
    void Start(int key, int row, int col = 1) {
        const QPoint at = CellRect(row, col).center();
        if (key == kDoubleClick) {
            // As a person does it: press, release, the double click, release.
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseRelease(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        } else if (key == kSecondClick || key == kClick) {
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
            if (key == kSecondClick) {
                ASSERT_TRUE(test::WaitUntil([&] { return Editor(); }));
            }
        } else {
            Key(key);
        }
    }
    // The editor opened on `row` as F2 opens it.
    QWidget* Open(int row) {
        Focus(row);
        Key(Qt::Key_F2);
        return Editor();
    }
    QLineEdit* LineEditor() { return qobject_cast<QLineEdit*>(Editor()); }
    QComboBox* ListEditor() { return qobject_cast<QComboBox*>(Editor()); }
    QRect CellRect(int row, int col = 1) {
        return grid.visualRect(grid.model()->index(row - 1, col));
    }

    CEditCombGridCtrl grid;
};

// A typed character replaces the text, Backspace drops the last one; Enter, F2, a
// double click and a second click select it whole, so that what is typed next
// replaces it. The keys edit the current cell, however soon after a click they
// come: in the field a type-ahead search took "4" to Count's "45" (or "." to
// Overlap's ".8") and the rest of the keys edited that row instead.
TEST_F(GridTest, HowAnEditStartsDecidesTheEditorsText) {
    struct Case {
        int start;
        const char* opened;  // the editor's text once the edit began; nullptr: not yet open
        const char* typed;   // typed next, before Enter
        const char* result;
    };
    const Case cases[] = {
        {Qt::Key_Backspace, "12", "", "12"},
        {Qt::Key_Return, "123", "", "123"},
        {Qt::Key_F2, "123", "", "123"},
        {kDoubleClick, "123", "", "123"},
        {kSecondClick, "123", "4.5", "4.5"},
        {'4', "4", ".5", "4.5"},
        {'.', ".", "5", ".5"},
        {kClick, nullptr, "4.5", "4.5"},
        {kClick, nullptr, ".5", ".5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " then " << c.typed);
        // A person's click comes later than the same event loop turn that closed
        // the last editor (a click then only ends that edit).
        QApplication::processEvents();
        SetValue(kName, "123");
        Focus(kName);
        Start(c.start, kName);
        if (c.opened) {
            ASSERT_NE(LineEditor(), nullptr);
            EXPECT_EQ(LineEditor()->text(), c.opened);
            const bool whole = c.start == Qt::Key_Return || c.start == Qt::Key_F2 ||
                               c.start == kDoubleClick || c.start == kSecondClick;
            EXPECT_EQ(LineEditor()->selectedText(), whole ? QString(c.opened) : QString());
            EXPECT_EQ(LineEditor()->cursorPosition(), static_cast<int>(strlen(c.opened)));
        }
        Type(c.typed);
        Key(Qt::Key_Return);
        EXPECT_EQ(Editor(), nullptr);
        EXPECT_EQ(grid.currentRow() + 1, kName);
        EXPECT_EQ(grid.GetItemText(kName, 1), c.result);
        EXPECT_EQ(grid.GetItemText(kCount, 1), "45");
        EXPECT_EQ(grid.GetItemText(kOverlap, 1), ".8");
        if (c.start == kClick) {
            // The click's delayed edit must not open an editor afterwards.
            QTest::qWait(QApplication::doubleClickInterval() + 50);
            EXPECT_EQ(Editor(), nullptr);
        }
    }
}

TEST_F(GridTest, EscapeRestoresAndOnlyAChangedTextMarksModified) {
    Focus(kName);
    for (int key : std::initializer_list<int>{'9', Qt::Key_Escape, Qt::Key_Return, Qt::Key_Tab})
        Key(key);
    EXPECT_EQ(grid.GetItemText(kName, 1), "123");
    EXPECT_FALSE(grid.GetModified());

    Key('8');
    Key(Qt::Key_Tab);
    EXPECT_EQ(Editor(), nullptr);
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

    Start(kDoubleClick, kName);
    Key(Qt::Key_Left);
    ASSERT_NE(LineEditor(), nullptr);
    EXPECT_EQ(LineEditor()->cursorPosition(), 0);
    // With Ctrl an arrow ends even an edit the mouse began.
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(grid.currentRow() + 1, kCount);
}

TEST_F(GridTest, ReadOnlyAndCaptionCellsNeverEdit) {
    for (int start :
         {int('x'), int(Qt::Key_Return), int(Qt::Key_Backspace), int(Qt::Key_F2), kDoubleClick}) {
        Focus(kSerial);
        Start(start, kSerial);
        EXPECT_FALSE(Editing()) << start;
    }
    EXPECT_EQ(grid.GetItemText(kSerial, 1), "AB12");
    // Nor does a caption.
    Start(kDoubleClick, kName, 0);
    EXPECT_FALSE(Editing());
}

TEST_F(GridTest, TheListSelectsTheCellsTextWhenItIsAnOptionAndWidensForLongOptions) {
    ASSERT_NE(Open(kMode), nullptr);
    ASSERT_NE(ListEditor(), nullptr);
    EXPECT_EQ(ListEditor()->currentIndex(), 1);
    // A narrow list stays in its cell.
    EXPECT_EQ(ListEditor()->width(), CellRect(kMode).width());
    Key(Qt::Key_Escape);

    // "7 min" is no option: nothing is selected, and closing keeps the text.
    for (int key : std::initializer_list<int>{Qt::Key_Escape, Qt::Key_Return}) {
        ASSERT_NE(Open(kSysTime), nullptr);
        EXPECT_EQ(ListEditor()->currentIndex(), -1);
        Key(key);
        EXPECT_EQ(grid.GetItemText(kSysTime, 1), "7 min");
    }
    EXPECT_FALSE(grid.GetModified());

    ASSERT_NE(Open(kSysTime), nullptr);
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
}

TEST_F(GridTest, DeletingTheRowsKeepsTheHeaderAndEndsAnOpenEdit) {
    GridItem header;  // row 0, column 0
    header.mask = gvif::Text;
    header.text = QStringLiteral("Parameters");
    grid.SetItem(header);
    Focus(kName);
    Key('1');
    ASSERT_NE(Editor(), nullptr);
    grid.DeleteNonFixedRows();
    EXPECT_FALSE(Editing());
    EXPECT_EQ(grid.rowCount(), 0);
    EXPECT_EQ(grid.GetItemText(0, 0), "Parameters");
    EXPECT_EQ(grid.InsertRow(QStringLiteral("Again")), 1);
    EXPECT_NE(Open(1), nullptr);
}

}  // namespace
}  // namespace velmora::ui
