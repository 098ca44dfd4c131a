#pragma once
// The two lists of splice records the Result and Archive pages show alike: the
// index list (number and time, sized by the list's width) and the detail list (one
// row per field, its caption beside the chosen record's value).
#include <array>
#include <string>

#include "history/splice_record.h"
#include "ui/widgets/list_ctrl_ex.h"

namespace velmora::ui {

// Adds the "Index" and "Time" columns; later columns are the page's own.
void AddIndexColumns(CListCtrlEx& list);
// The index and time columns over a third and two thirds of `clientWidth`.
void SizeIndexColumns(CListCtrlEx& list, int clientWidth);

// The detail list's two columns and one row per field, each carrying the
// field's number so that a sorted list still shows every value beside its caption;
// the columns follow the list's width.
void SetUpDetailList(CListCtrlEx& list, const std::array<std::string, kDetailRowCount>& captions);
// Shows `record`'s fields in the detail list, or empties the values without one.
void ShowRecordDetails(CListCtrlEx& list, const SpliceRecord* record);

}  // namespace velmora::ui
