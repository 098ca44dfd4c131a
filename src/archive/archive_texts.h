#pragma once
// How the window, velmora-cli and the report word a failure of the archive: the
// file, what went wrong and what the user can do about it.
#include <string>

#include "archive/archive.h"
#include "base/messages.h"

namespace velmora::archive {

namespace archive_msg {
// %s: the file, then (where the text has a second) what was being done and why.
inline constexpr Message NoArchive{"尚无档案 %s：还没有保存过任何内容",
                                   "There is no archive %s yet: nothing has been kept"};
inline constexpr Message CannotOpen{"无法打开档案 %s：%s", "The archive %s cannot be opened: %s"};
inline constexpr Message ReadOnly{
    "档案 %s 无法写入：可以列出和生成报告，但不会保存新的内容（%s）",
    "The archive %s cannot be written: it can be listed and reported, but nothing new is kept "
    "in it (%s)"};
inline constexpr Message Locked{"档案 %s 正被另一个程序占用，请稍后再试（%s）",
                                "The archive %s is held by another program; try again in a "
                                "moment (%s)"};
inline constexpr Message Damaged{
    "档案 %s 已损坏（%s）。请保留一份副本后将其移走，Velmora 会新建一个档案",
    "The archive %s is damaged (%s). Keep a copy of it and move it away: Velmora then starts a "
    "new one"};
inline constexpr Message TooNew{
    "档案 %s 由较新版本的 Velmora 写入（%s）。请使用较新版本的 Velmora，或保留一份副本后将其移走，"
    "本程序会新建一个档案",
    "The archive %s was written by a newer Velmora (%s). Use a newer Velmora, or keep a copy of "
    "it and move it away: this one then starts a new archive"};
inline constexpr Message DiskFull{"档案 %s 所在的磁盘已满，未能保存（%s）：请腾出空间后再试",
                                  "The disk of the archive %s is full, nothing was kept (%s): "
                                  "free some space and try again"};
inline constexpr Message Other{"档案 %s：%s", "The archive %s: %s"};
}  // namespace archive_msg

// The failure in the run's language, naming the file; "" when there is none.
std::string ArchiveErrorText(const ArchiveError& error);

}  // namespace velmora::archive
