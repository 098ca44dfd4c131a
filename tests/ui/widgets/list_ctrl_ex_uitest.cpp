// The report list: header sorting, rows keeping their data and selection,
// ellipsis cuts, fixed dividers, row height and the grid over empty rows; a long
// listing shown through a window of the rows in sight.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <utility>
#include <vector>

#include "ui/widgets/list_ctrl_ex.h"
#include "ui/widgets/paged_table_model.h"

namespace velmora::ui {
namespace {

using Texts = std::vector<QString>;

class ListTest : public ::testing::Test {
  protected:
    // Two columns; rows "1", "2", "10", "100" carrying data 0 to 3 unless `empty`.
    void Fill(bool empty = false) {
        list.InsertColumn(0, "Index", Qt::AlignHCenter, 80);
        list.InsertColumn(1, "Time", Qt::AlignHCenter, 160);
        const std::vector<CListCtrlEx::Row> rows = {
            {{"1", "08:00"}, 0}, {{"2", "08:07"}, 1}, {{"10", "09:03"}, 2}, {{"100", "10:00"}, 3}};
        if (!empty) list.AppendRows(rows);
        list.resize(300, 23 * 10 + 40);
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }
    Texts Column(int column) {
        Texts texts;
        for (int row = 0; row < list.GetItemCount(); ++row)
            texts.push_back(list.GetItemText(row, column));
        return texts;
    }
    void ClickHeader(int column) {
        QHeaderView* header = list.header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    CListCtrlEx list;
};

TEST_F(ListTest, HeaderClicksSortAsTextAndRowsKeepTheirDataAndSelection) {
    Fill();
    int changes = 0;
    QObject::connect(&list, &CListCtrlEx::ItemChanged, [&] { ++changes; });
    list.SelectRow(1);  // "2", data 1
    const Texts ascending{"1", "10", "100", "2"};
    ClickHeader(0);
    EXPECT_EQ(Column(0), ascending);
    ClickHeader(0);
    EXPECT_EQ(Column(0), (Texts{"2", "100", "10", "1"}));
    ClickHeader(0);
    EXPECT_EQ(Column(0), ascending);
    ASSERT_EQ(list.GetSelectedRow(), 3);
    EXPECT_EQ(list.GetItemText(3, 1), "08:07");
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(list.GetItemData(row), (std::vector<std::uint64_t>{0, 2, 3, 1}[row]));
    // Each column keeps its own direction: column 1 starts ascending.
    ClickHeader(1);
    EXPECT_EQ(Column(0), (Texts{"1", "2", "10", "100"}));
    // Changing the selection still tells the page; so does clearing it.
    const int before = changes;
    list.SelectRow(-1);
    EXPECT_EQ(list.GetSelectedRow(), -1);
    EXPECT_EQ(changes, before + 1);

    list.DeleteAllItems();
    list.SortByColumn(0);  // nothing to sort: no effect
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST(ListCtrlEx, FittedTextsEndInAnEllipsisAndNeverSplitACharacter) {
    const QFontMetrics metrics(CListCtrlEx::ListFont());
    const QString ellipsis = "...";
    // Widths from roomy to one character; Chinese, mixed, and a character outside
    // the basic plane (two UTF-16 units) that must never be cut in half.
    const struct {
        const char* text;
        int available;
    } cases[] = {
        {"Prefuse ARC time", 400},
        {"Prefuse ARC time", 60},
        {"左光纤角度", 300},
        {"左光纤角度", 50},
        {"左光纤角度", 35},
        {"对准a方式b间隙", 70},
        {"𠀀𠀁𠀂𠀃", 40},
        {"𠀀𠀁𠀂𠀃", 5},
        {"x", 2},
        {"", 1},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        const QString fitted = CListCtrlEx::FitText(text, metrics, c.available);
        SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.available));
        if (text.isEmpty() || metrics.horizontalAdvance(text) + 2 < c.available) {
            EXPECT_EQ(fitted, text);
            continue;
        }
        ASSERT_TRUE(fitted.endsWith(ellipsis));
        const QString kept = fitted.chopped(ellipsis.size());
        EXPECT_TRUE(text.startsWith(kept));
        EXPECT_FALSE(!kept.isEmpty() && kept.back().isHighSurrogate());
        EXPECT_LT(kept.size(), text.size());
        // It fits, unless only one character was left to show.
        if (kept.size() > 2) {
            EXPECT_LT(metrics.horizontalAdvance(kept) + metrics.horizontalAdvance(ellipsis) + 2,
                      c.available);
        }
    }
}

TEST_F(ListTest, RowsAreTwentyThreePixelsAndDividersCannotBeDragged) {
    Fill();
    EXPECT_EQ(list.visualRect(list.model()->index(0, 0)).height(), 23);
    EXPECT_EQ(list.visualRect(list.model()->index(3, 1)).height(), 23);
    // Press on the divider after column 0 and drag it 50 pixels to the right.
    QWidget* header = list.header()->viewport();
    const QPoint divider(list.header()->sectionSize(0) - 1, list.header()->height() / 2);
    const QPoint to = divider + QPoint(50, 0);
    QTest::mousePress(header, Qt::LeftButton, Qt::NoModifier, divider);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), header->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header, &move);
    QTest::mouseRelease(header, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(list.columnWidth(0), 80);
    EXPECT_EQ(list.columnWidth(1), 160);
}

TEST_F(ListTest, GridGoesOnOverTheEmptyRowsAndAnEmptyListHasNone) {
    Fill(true);
    const QColor grid = QColor::fromRgb(CListCtrlEx::kGridColour);
    const int rowHeight = list.RowHeight();
    const int divider = list.columnWidth(0);
    const QImage empty = list.viewport()->grab().toImage();
    EXPECT_NE(empty.pixelColor(divider, 5 * rowHeight + 5), grid);
    EXPECT_NE(empty.pixelColor(200, 5 * rowHeight), grid);

    for (const char* n : {"1", "2", "3"}) list.InsertItem(list.GetItemCount(), n);
    const QImage three = list.viewport()->grab().toImage();
    // The divider runs to the bottom; a line under every row position of the page.
    EXPECT_EQ(three.pixelColor(divider, 2), grid);
    EXPECT_EQ(three.pixelColor(divider, 9 * rowHeight + 5), grid);
    for (int k = 1; k <= 9; ++k) EXPECT_EQ(three.pixelColor(200, k * rowHeight), grid) << k;
    EXPECT_NE(three.pixelColor(200, 7 * rowHeight + rowHeight / 2), grid);
}

// 10,000 rows through a window: the view is given only the rows in sight, and every
// choice, key and scroll speaks of the listing's rows.
TEST(WindowedList, ChoicesKeysAndScrollingSpeakOfTheListingsRows) {
    static constexpr int kRows = 10'000;
    CPagedTableModel model({"Index"}, 23);
    model.SetFetcher([&](int generation, int first, int count) {
        // Answered later, as the archive's thread does.
        QTimer::singleShot(0, &model, [&model, generation, first, count] {
            std::vector<CPagedTableModel::Row> rows;
            for (int row = first; row < std::min(first + count, kRows); ++row)
                rows.push_back({{QString::number(row)}});
            model.Deliver(generation, first, std::move(rows));
        });
    });
    CListCtrlEx list;
    list.UseWindowedModel(&model);
    list.EnableMultipleSelection(true);
    list.resize(300, 23 * 10 + 40);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    model.SetTotal(model.Restart(), kRows);
    int changes = 0;
    QObject::connect(&list, &CListCtrlEx::ItemChanged, [&] { ++changes; });
    const int inSight = list.viewport()->height() / list.RowHeight();
    EXPECT_EQ(list.GetItemCount(), kRows);
    EXPECT_EQ(list.model()->rowCount(), inSight + 1);
    EXPECT_EQ(list.verticalScrollBar()->maximum(), kRows - inSight);
    const auto rowAt = [&](int viewRow) { return QPoint(20, viewRow * list.RowHeight() + 5); };
    // The text of the view's row once its page has come.
    const auto shown = [&](int viewRow) {
        const auto text = [&] { return list.model()->index(viewRow, 0).data().toString(); };
        return QTest::qWaitFor([&] { return !text().isEmpty(); }) ? text() : QString();
    };

    // A click, a scroll far down and a Shift click: every row between is chosen.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, rowAt(2));
    EXPECT_EQ(list.ChosenRanges(), (std::vector<std::pair<int, int>>{{2, 2}}));
    const auto drawnChosen = [&](int viewRow) {
        return list.viewport()->grab().toImage().pixelColor(rowAt(viewRow) + QPoint(-18, 5)) ==
               list.palette().color(QPalette::Active, QPalette::Highlight);
    };
    EXPECT_TRUE(drawnChosen(2));
    EXPECT_FALSE(drawnChosen(3));
    list.verticalScrollBar()->setValue(5000);
    EXPECT_EQ(model.Top(), 5000);
    EXPECT_EQ(shown(0), "5000");
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ShiftModifier, rowAt(3));
    EXPECT_EQ(list.ChosenRanges(), (std::vector<std::pair<int, int>>{{2, 5003}}));
    // Ctrl takes one row out of them and puts it back.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, rowAt(1));
    EXPECT_EQ(list.ChosenRanges(), (std::vector<std::pair<int, int>>{{2, 5000}, {5002, 5003}}));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, rowAt(1));
    EXPECT_EQ(list.ChosenRanges(), (std::vector<std::pair<int, int>>{{2, 5003}}));
    EXPECT_EQ(changes, 4);

    // Keys move past the window's edge and take it along.
    list.SelectRow(5000 + inSight - 1);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.GetSelectedRows(), std::vector<int>{5000 + inSight});
    EXPECT_EQ(model.Top(), 5001);
    QTest::keyClick(&list, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(list.ChosenRanges(), (std::vector<std::pair<int, int>>{{5000 + inSight, kRows - 1}}));
    EXPECT_EQ(model.Top(), kRows - inSight);
    EXPECT_EQ(shown(inSight - 1), QString::number(kRows - 1));
    QTest::keyClick(&list, Qt::Key_Home);
    EXPECT_EQ(list.GetSelectedRows(), std::vector<int>{0});
    EXPECT_EQ(model.Top(), 0);
    list.scrollToBottom();
    EXPECT_EQ(model.Top(), kRows - inSight);
    EXPECT_EQ(list.rowViewportPosition(0), 0);  // the window's rows from the top of the list
    list.selectAll();
    EXPECT_EQ(list.ChosenRanges(), (std::vector<std::pair<int, int>>{{0, kRows - 1}}));

    // Fewer rows: those gone are no longer chosen, and the window ends with the rows.
    list.SelectRows(std::vector<int>{0, kRows - 10, kRows - 9});
    list.scrollToBottom();
    model.SetTotal(model.Reload(kRows - 10), kRows - 10);
    EXPECT_EQ(list.ChosenRanges(), (std::vector<std::pair<int, int>>{{0, 0}}));
    EXPECT_EQ(model.Top(), kRows - 10 - inSight);
    // Another listing forgets the choice, without telling (the page finds its own again).
    const int before = changes;
    model.Restart();
    EXPECT_FALSE(list.HasChoice());
    EXPECT_EQ(changes, before);
    EXPECT_EQ(list.GetItemCount(), 0);
}

}  // namespace
}  // namespace velmora::ui
