#pragma once
// How the splice report is worded: its captions from the language files (section
// "Report", English defaults) and the messages of writing it. The table's column
// captions are the Result page's detail captions, so a column reads the same in both.
#include <array>
#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "base/language.h"
#include "base/messages.h"

namespace velmora::report {

// The report's own captions, in the order of kCaptionKeys.
enum class Caption : std::size_t {
    Title,
    Verdict,
    AllPassed,
    NotAllPassed,
    Job,
    NoJob,
    Splicer,
    SerialNumber,
    Period,
    Splices,
    Passed,
    Failed,
    BySplicer,
    LossMean,
    LossMax,
    LossP95,
    Histogram,
    HistogramAxis,
    Count,
    ByFiber,
    ByProgram,
    Limits,
    MaxLoss,
    MaxAngle,
    SpliceTable,
    Number,
    Mark,
    MarkPass,
    MarkFailed,
    MarkOverLoss,
    MarkOverAngle,
    MarkOverBoth,
    Images,
    ImageMissing,
    ImageChanged,
    ImageUnreadable,
    Written,
    Page,
    Button,
    Writing,
    OpenFolder,
    Close,
    JobTitle,  // a job's report; Title heads a report of archived records
    JobLimits,
    JobLimitsFixed,
    kCount
};

inline constexpr std::array<TextKey, static_cast<std::size_t>(Caption::kCount)> kCaptionKeys{{
    {"Report", "Title", "Splice Records Report"},
    keys::judging::Verdict,
    {"Report", "All_Passed", "All splices passed"},
    {"Report", "Not_All_Passed", "Not all splices passed"},
    keys::judging::Job,
    {"Report", "No_Job", "(no job)"},
    {"Report", "Splicer", "Splicer"},
    {"Report", "Serial_Number", "Serial number"},
    {"Report", "Period", "Period"},
    {"Report", "Splices", "Splices"},
    keys::judging::Passed,
    {"Report", "Failed", "Failed"},
    {"Report", "By_Splicer", "By splicer"},
    {"Report", "Loss_Mean", "Mean loss (dB)"},
    {"Report", "Loss_Max", "Maximum loss (dB)"},
    {"Report", "Loss_P95", "95th percentile loss (dB)"},
    {"Report", "Histogram", "Loss histogram"},
    {"Report", "Histogram_Axis", "Loss (dB)"},
    {"Report", "Count", "Count"},
    {"Report", "By_Fiber", "By fiber type"},
    {"Report", "By_Program", "By program"},
    {"Report", "Limits", "Acceptance limits"},
    keys::judging::MaxLoss,
    keys::judging::MaxAngle,
    {"Report", "Splice_Table", "Every splice"},
    keys::judging::Number,
    {"Report", "Mark", "Verdict"},
    keys::judging::Marks[0],
    keys::judging::Marks[1],
    keys::judging::Marks[2],
    keys::judging::Marks[3],
    keys::judging::Marks[4],
    {"Report", "Images", "Images"},
    {"Report", "Image_Missing", "Image file not found: %s"},
    {"Report", "Image_Changed", "Image file no longer the one archived: %s"},
    {"Report", "Image_Unreadable", "Image file cannot be read: %s"},
    {"Report", "Written", "Written"},
    {"Report", "Page", "Page %d of %d"},
    {"Report", "Btn_Report", "Report"},
    {"Report", "Writing", "Writing the report..."},
    {"Report", "Btn_Open_Folder", "Open folder"},
    {"Report", "Btn_Close", "Close"},
    {"Report", "Job_Title", "Job Report"},
    {"Report", "Job_Limits", "The job's own limits: a change is saved to the job"},
    {"Report", "Job_Limits_Fixed", "The job's limits (read-only here)"},
}};
// A caption added to Caption without its key here would be looked up as nothing.
static_assert(kCaptionKeys.back().key != nullptr, "a caption without its key");

// Every caption of a report, looked up once (a lookup reads the language file).
struct Captions {
    std::array<std::string, static_cast<std::size_t>(Caption::kCount)> text;
    // The table's columns: time, result, loss, splice mode, fibre type, LF and RF angle.
    std::array<std::string, 7> columns;

    const std::string& operator[](Caption c) const { return text[static_cast<std::size_t>(c)]; }
};
Captions LoadCaptions();

// A caption with its "%s" filled in; a caption that has lost its "%s" (a language
// file edited by hand) still shows the value, after it.
std::string FillCaption(const std::string& caption, std::string_view value);
// The page caption ("Page %d of %d") with both numbers.
std::string PageText(const std::string& caption, int page, int pages);

// Messages of writing a report.
namespace report_msg {
inline constexpr Message NothingSelected{"没有符合条件的熔接记录，未生成报告",
                                         "No splice matches the selection; no report was written"};
inline constexpr Message UnknownFormat{"报告文件须以 .pdf 或 .html 结尾：%s",
                                       "A report file ends in .pdf or .html: %s"};
inline constexpr Message Written{"报告已生成：%s", "Report written: %s"};
inline constexpr Message ImagesLeftOut{"以下图像未放入报告：",
                                       "These images are not in the report:"};
inline constexpr Message CannotShow{"无法启动程序打开 %s",
                                    "No program could be started to open %s"};
// A job's report is judged by the job's own limits: other limits are refused (%s: the
// job's loss limit in dB, its angle limit in degrees).
inline constexpr Message JobHasLimits{
    "该工程的限值为 %s dB / %s°；请用 job edit 修改",
    "The job's limits are %s dB / %s°; change them with job edit"};
inline constexpr Message Cancelled{"报告已取消，未写入或改动任何文件",
                                   "The report was cancelled; no file was written or changed"};
}  // namespace report_msg

}  // namespace velmora::report
