#include "ui/widgets/record_lists.h"

#include "base/app_config.h"
#include "base/language.h"
#include "ui/app/qt_text.h"

namespace velmora::ui {

void AddIndexColumns(CListCtrlEx& list) {
    list.InsertColumn(list.GetColumnCount(), Q(keys::HistoryCountCol0), Qt::AlignHCenter);
    list.InsertColumn(list.GetColumnCount(), Q(keys::HistoryCountCol1), Qt::AlignHCenter);
}

// The widths follow the list's visible width, as the Result page first set them.
void SizeIndexColumns(CListCtrlEx& list, int clientWidth) {
    list.SetColumnWidth(0, clientWidth / 3 - 5);
    list.SetColumnWidth(1, (2 * clientWidth) / 3);
}

void SetUpDetailList(CListCtrlEx& list, const std::array<std::string, kDetailRowCount>& captions) {
    list.InsertColumn(0, Q(keys::HistoryParaCol0), Qt::AlignHCenter);
    list.InsertColumn(1, Q(keys::HistoryParaCol1), Qt::AlignHCenter);
    for (std::size_t row = 0; row < captions.size(); ++row)
        list.InsertItem(static_cast<int>(row), Q(captions[row]), row);
    auto size = [&list](int width) {
        list.SetColumnWidth(0, width / 2 - 5);
        list.SetColumnWidth(1, width / 2 - 5);
    };
    QObject::connect(&list, &CListCtrlEx::ClientWidthChanged, &list, size);
    size(list.viewport()->width());
}

void ShowRecordDetails(CListCtrlEx& list, const SpliceRecord* record) {
    std::array<std::string, kDetailRowCount> texts{};
    if (record) texts = DetailTexts(*record, TableLanguageFor(Config().EnglishFlag));
    for (int row = 0; row < list.GetItemCount(); ++row) {
        const std::size_t field = static_cast<std::size_t>(list.GetItemData(row));
        if (field < texts.size()) list.SetItemText(row, 1, Q(texts[field]));
    }
}

}  // namespace velmora::ui
