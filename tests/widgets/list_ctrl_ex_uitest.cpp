// The report list: header sorting, rows keeping their data and selection,
// ellipsis cuts, fixed dividers, row height and the grid over empty rows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTest>
#include <map>
#include <vector>

#include "widgets/list_ctrl_ex.h"

namespace velmora::ui {
namespace {

std::vector<QString> Column(const CListCtrlEx& list, int column) {
    std::vector<QString> texts;
    for (int row = 0; row < list.GetItemCount(); ++row)
        texts.push_back(list.GetItemText(row, column));
    return texts;
}

std::vector<QString> Q(std::initializer_list<const char*> texts) {
    std::vector<QString> out;
    for (const char* t : texts) out.push_back(QString::fromUtf8(t));
    return out;
}

// A two-column list with rows "1", "2", "10", "100" carrying data 0 to 3.
void FillNumbers(CListCtrlEx& list) {
    list.InsertColumn(0, "Index", Qt::AlignHCenter, 80);
    list.InsertColumn(1, "Time", Qt::AlignHCenter, 160);
    const std::vector<CListCtrlEx::Row> rows = {
        {{"1", "2025-03-03 08:00:00"}, 0},
        {{"2", "2025-03-03 08:07:00"}, 1},
        {{"10", "2025-03-03 09:03:00"}, 2},
        {{"100", "2025-03-04 10:00:00"}, 3},
    };
    EXPECT_EQ(list.AppendRows(rows), 0);
}

void ClickHeader(CListCtrlEx& list, int column) {
    QHeaderView* header = list.header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

TEST(ListCtrlEx, HeaderClicksSortAsTextAscendingThenDescending) {
    CListCtrlEx list;
    FillNumbers(list);
    list.resize(300, 200);
    list.show();

    ClickHeader(list, 0);
    EXPECT_EQ(Column(list, 0), Q({"1", "10", "100", "2"}));
    ClickHeader(list, 0);
    EXPECT_EQ(Column(list, 0), Q({"2", "100", "10", "1"}));
    ClickHeader(list, 0);
    EXPECT_EQ(Column(list, 0), Q({"1", "10", "100", "2"}));
    // Each column keeps its own direction: column 1 starts ascending.
    ClickHeader(list, 1);
    EXPECT_EQ(Column(list, 0), Q({"1", "2", "10", "100"}));

    list.EnableHeaderSort(false);
    ClickHeader(list, 1);
    EXPECT_EQ(Column(list, 0), Q({"1", "2", "10", "100"}));
}

TEST(ListCtrlEx, RowsKeepTheirDataTextsAndSelectionThroughASort) {
    CListCtrlEx list;
    FillNumbers(list);
    int changes = 0;
    QObject::connect(&list, &CListCtrlEx::ItemChanged, [&] { ++changes; });

    list.SelectRow(1);  // "2", data 1
    EXPECT_EQ(changes, 1);
    list.SortByColumn(0);  // 1, 10, 100, 2
    ASSERT_EQ(list.GetSelectedRow(), 3);
    EXPECT_EQ(list.GetItemText(3, 0), "2");
    EXPECT_EQ(list.GetItemText(3, 1), "2025-03-03 08:07:00");
    EXPECT_EQ(list.GetItemData(3), 1u);
    const std::map<QString, std::uint64_t> dataOf = {{"1", 0}, {"2", 1}, {"10", 2}, {"100", 3}};
    for (int row = 0; row < list.GetItemCount(); ++row)
        EXPECT_EQ(list.GetItemData(row), dataOf.at(list.GetItemText(row, 0)));
    // Changing the selection still tells the page; the old data is not disturbed by it.
    list.SelectRow(0);
    EXPECT_EQ(list.GetItemData(0), 0u);
    EXPECT_EQ(list.GetItemData(3), 1u);
    list.SelectRow(-1);
    EXPECT_EQ(list.GetSelectedRow(), -1);
    EXPECT_GE(changes, 3);

    list.DeleteAllItems();
    EXPECT_EQ(list.GetItemCount(), 0);
    list.SortByColumn(0);  // nothing to sort: no effect
    EXPECT_EQ(list.GetItemData(0), 0u);
    EXPECT_EQ(list.GetItemText(5, 7), "");
}

TEST(ListCtrlEx, FittedTextsEndInAnEllipsisAndNeverSplitACharacter) {
    const QFontMetrics metrics(CListCtrlEx::ListFont());
    const QString ellipsis = "...";
    struct Case {
        const char* text;
        int available;
    };
    // Widths from roomy to one character; Chinese, mixed, and a character outside
    // the basic plane (two UTF-16 units) that must never be cut in half.
    const Case cases[] = {
        {"Prefuse ARC time", 400}, {"Prefuse ARC time", 60}, {"左光纤角度", 300},
        {"左光纤角度", 50},        {"左光纤角度", 35},       {"对准a方式b间隙", 70},
        {"𠀀𠀁𠀂𠀃", 40},          {"𠀀𠀁𠀂𠀃", 5},           {"x", 2},
        {"", 1},
    };
    for (const Case& c : cases) {
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

TEST(ListCtrlEx, RowsAreTwentyThreePixelsAndDividersCannotBeDragged) {
    CListCtrlEx list;
    FillNumbers(list);
    list.resize(300, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    EXPECT_EQ(list.visualRect(list.model()->index(0, 0)).height(), 23);
    EXPECT_EQ(list.visualRect(list.model()->index(3, 1)).height(), 23);

    // Press on the divider after column 0 and drag it 50 pixels to the right.
    QWidget* header = list.header()->viewport();
    const QPoint divider(list.header()->sectionSize(0) - 1, list.header()->height() / 2);
    QTest::mousePress(header, Qt::LeftButton, Qt::NoModifier, divider);
    QMouseEvent move(QEvent::MouseMove, QPointF(divider + QPoint(50, 0)),
                     header->mapToGlobal(QPointF(divider + QPoint(50, 0))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header, &move);
    QTest::mouseRelease(header, Qt::LeftButton, Qt::NoModifier, divider + QPoint(50, 0));
    EXPECT_EQ(list.GetColumnWidth(0), 80);
    EXPECT_EQ(list.GetColumnWidth(1), 160);
}

TEST(ListCtrlEx, GridGoesOnOverTheEmptyRowsAndAnEmptyListHasNone) {
    const QColor grid = QColor::fromRgb(CListCtrlEx::kGridColour);
    CListCtrlEx list;
    list.InsertColumn(0, "Index", Qt::AlignHCenter, 80);
    list.InsertColumn(1, "Time", Qt::AlignHCenter, 160);
    list.resize(300, 23 * 10 + 40);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    const int rowHeight = list.RowHeight();
    const int divider = list.GetColumnWidth(0);

    QImage empty = list.viewport()->grab().toImage();
    EXPECT_NE(empty.pixelColor(divider, 5 * rowHeight + 5), grid);
    EXPECT_NE(empty.pixelColor(200, 5 * rowHeight), grid);

    for (const char* n : {"1", "2", "3"}) list.InsertItem(list.GetItemCount(), n);
    QImage three = list.viewport()->grab().toImage();
    // The divider runs to the bottom; a line under every row position of the page.
    EXPECT_EQ(three.pixelColor(divider, 2), grid);
    EXPECT_EQ(three.pixelColor(divider, 9 * rowHeight + 5), grid);
    for (int k = 1; k <= 9; ++k) EXPECT_EQ(three.pixelColor(200, k * rowHeight), grid) << k;
    EXPECT_NE(three.pixelColor(200, 7 * rowHeight + rowHeight / 2), grid);
}

}  // namespace
}  // namespace velmora::ui
