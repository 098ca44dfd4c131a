#pragma once
// What a workbook's texts can hold, apart from the writer that writes them: each
// cell's text, the texts the format has no escape for, and the sheet names, made
// from any bytes a name may hold (an archive of before may hold bytes that are not
// UTF-8) so that every XML part of the workbook is well formed.
#include <string>
#include <string_view>
#include <vector>

namespace velmora::jobs {

// A cell's text as the workbook holds it: UTF-8 (a byte that is not shows as
// U+FFFD); U+FFFE and U+FFFF in the format's escape _xHHHH_ (the writer escapes
// control characters so itself); a literal "_xHHHH_" kept literal, its '_' escaped
// as _x005F_; within the writer's length, in whole characters.
std::string CellText(std::string_view text);

// Text where the format has no escape (the document's title, a number format):
// UTF-8, and what XML cannot hold as U+FFFD.
std::string PlainText(std::string_view text);

// A sheet name a spreadsheet program accepts for `name` and keeps as it is: none of
// []:*?/\ or control characters (each becomes '_'), no "_xHHHH_" (which a reader
// could decode: its '_' becomes '-'), not beginning or ending with an
// apostrophe, at most 31 characters (not bytes), never empty, not "History" (Excel's
// own), and unlike every name in `taken` with case folded over all of Unicode (as
// spreadsheet programs compare them: "Ä-1" is "ä-1"); a clash gets " (2)", " (3)"...
// within the 31 characters. The name is added to `taken`.
std::string SheetName(std::string_view name, std::vector<std::string>& taken);

}  // namespace velmora::jobs
