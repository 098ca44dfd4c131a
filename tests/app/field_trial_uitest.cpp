// Faults found in the field trials of the window, one table of cases per rule.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace velmora::ui
