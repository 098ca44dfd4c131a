#pragma once
// How the splice report is worded: its captions from the language files (section
// "Report", English defaults) and the messages of writing it. The table's column
// captions are the Result page's detail captions, so a column reads the same in both.
#include <array>
#include <cstddef>
#include <filesystem>
#include <span>
#include <string>

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
    MarkOutOfLimit,
    Images,
    ImageMissing,
    Written,
    Page,
    Button,
    Writing,
    kCount
};

inline constexpr std::array<TextKey, static_cast<std::size_t>(Caption::kCount)> kCaptionKeys{{
    {"Report", "Title", "Splice Report"},
    {"Report", "Verdict", "Verdict"},
    {"Report", "All_Passed", "All splices passed"},
    {"Report", "Not_All_Passed", "Not all splices passed"},
    {"Report", "Job", "Job"},
    {"Report", "No_Job", "(no job)"},
    {"Report", "Splicer", "Splicer"},
    {"Report", "Serial_Number", "Serial number"},
    {"Report", "Period", "Period"},
    {"Report", "Splices", "Splices"},
    {"Report", "Passed", "Passed"},
    {"Report", "Failed", "Failed"},
    {"Report", "Loss_Mean", "Mean loss (dB)"},
    {"Report", "Loss_Max", "Maximum loss (dB)"},
    {"Report", "Loss_P95", "95th percentile loss (dB)"},
    {"Report", "Histogram", "Loss histogram"},
    {"Report", "Histogram_Axis", "Loss (dB)"},
    {"Report", "Count", "Count"},
    {"Report", "By_Fiber", "By fiber type"},
    {"Report", "By_Program", "By program"},
    {"Report", "Limits", "Acceptance limits"},
    {"Report", "Max_Loss", "Loss at most (dB)"},
    {"Report", "Max_Angle", "Cleave angle at most (deg)"},
    {"Report", "Splice_Table", "Every splice"},
    {"Report", "Number", "No."},
    {"Report", "Mark", "Verdict"},
    {"Report", "Mark_Pass", "Pass"},
    {"Report", "Mark_Failed", "Splice failed"},
    {"Report", "Mark_Out_Of_Limit", "Out of limit"},
    {"Report", "Images", "Images"},
    {"Report", "Image_Missing", "Image file not found: %s"},
    {"Report", "Written", "Written"},
    {"Report", "Page", "Page %d of %d"},
    {"Report", "Btn_Report", "Report"},
    {"Report", "Writing", "Writing the report..."},
}};

// Every caption of a report, looked up once (a lookup reads the language file).
struct Captions {
    std::array<std::string, static_cast<std::size_t>(Caption::kCount)> text;
    // The table's columns: time, result, loss, splice mode, fibre type, LF and RF angle.
    std::array<std::string, 7> columns;

    const std::string& operator[](Caption c) const { return text[static_cast<std::size_t>(c)]; }
};
Captions LoadCaptions();

// The pattern caption with its one "%s" (or its "%d ... %d") filled in.
std::string Fill(const std::string& pattern, const std::string& value);
std::string Fill(const std::string& pattern, int first, int second);

// Messages of writing a report.
namespace report_msg {
inline constexpr Message NothingSelected{"没有符合条件的熔接记录，未生成报告",
                                         "No splice matches the selection; no report was written"};
inline constexpr Message UnknownFormat{"报告文件须以 .pdf 或 .html 结尾：%s",
                                       "A report file ends in .pdf or .html: %s"};
inline constexpr Message ArchiveUnusable{"无法读取存档：%s", "The archive cannot be read: %s"};
inline constexpr Message Written{"报告已生成：%s", "Report written: %s"};
inline constexpr Message ImagesMissing{"报告已生成，但以下图像文件不存在：%s",
                                       "The report was written, but these image files are "
                                       "missing: %s"};
}  // namespace report_msg

// The message pair's pattern with `value` in its "%s".
std::string SayWith(const Message& message, const std::string& value);

}  // namespace velmora::report
