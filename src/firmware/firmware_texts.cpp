#include "firmware/firmware_texts.h"

#include "base/app_config.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "protocol/outcome_texts.h"

namespace velmora {
namespace {

constexpr Message kFinishedText{"更新完成，请重新启动程序和熔接机",
                                "Updated Finish,Please Restart Program and Fusion Splicer"};
constexpr Message kNotStarted{"更新未开始：", "The update did not start: "};
constexpr Message kSplicerRefused{"熔接机拒绝了更新", "the Fusion Splicer refused it"};
constexpr Message kSplicerSilent{"熔接机无应答", "no answer from the Fusion Splicer"};
constexpr Message kFileMissing{"找不到固件文件：", "Firmware file not found: "};
constexpr Message kFileNotRegular{"不是普通文件：", "Not a regular file: "};
constexpr Message kFileTooLarge{"文件过大，不是固件文件：", "Too large to be a firmware file: "};
constexpr Message kFileUnopenable{"无法打开固件文件：", "Cannot open the firmware file: "};
constexpr Message kFileEmpty{"固件文件为空：", "The firmware file is empty: "};
constexpr Message kNothingSent{"（未发送任何数据，请重新启动熔接机）",
                               " (nothing was sent; please restart the Fusion Splicer)"};
constexpr Message kFileReadFailed{"读取固件文件失败，更新未完成，请重新启动熔接机后再次更新：",
                                  "Reading the firmware file failed, the update is incomplete; "
                                  "restart the Fusion Splicer and update again: "};
constexpr Message kUpdateFailed{"更新失败", "Update failed"};
constexpr Message kUpdateCancelled{"更新已取消", "Update cancelled"};

bool LineUnusable(Outcome outcome) {
    return outcome == Outcome::NotOpen || outcome == Outcome::PortLost ||
           outcome == Outcome::WriteFailed || outcome == Outcome::Cancelled;
}

std::string BytesSentNote(std::uint64_t sent, std::uint64_t length) {
    const bool english = Config().EnglishMessages();
    return (english ? " (" : "（") + std::to_string(sent) + (english ? " of " : " / ") +
           std::to_string(length) + (english ? " bytes sent)" : " 字节已发送）");
}

}  // namespace

std::string FirmwareFileProblemText(FirmwareFileProblem problem,
                                    const std::filesystem::path& file) {
    switch (problem) {
        case FirmwareFileProblem::None:
            return {};
        case FirmwareFileProblem::Missing:
            return Say(kFileMissing) + PathText(file);
        case FirmwareFileProblem::NotRegular:
            return Say(kFileNotRegular) + PathText(file);
        case FirmwareFileProblem::TooLarge:
            return Say(kFileTooLarge) + PathText(file);
        case FirmwareFileProblem::Unopenable:
            return Say(kFileUnopenable) + PathText(file);
        case FirmwareFileProblem::Empty:
            return Say(kFileEmpty) + PathText(file);
        case FirmwareFileProblem::ReadFailed:
            return Say(kFileReadFailed) + PathText(file);
    }
    return {};
}

std::string HandshakeStatusText(const HandshakeResult& result) {
    if (result.textArrived) return {};
    if (LineUnusable(result.outcome)) return Say(*StandardFailureText(result.outcome));
    return Say(msg::NoAnswer);
}

std::string NotStartedText(const HandshakeResult& result) {
    if (result.Accepted()) return {};
    // Only 0xEC in the command position is the splicer saying no; a reply that is
    // garbled or not the acknowledgement is a fault of the data or the line.
    switch (result.outcome) {
        case Outcome::NoAnswer:
            return Say(kNotStarted) + Say(kSplicerSilent);
        case Outcome::Rejected:
            return Say(kNotStarted) + Say(kSplicerRefused);
        case Outcome::Unexpected:
        case Outcome::Accepted:
            return Say(kNotStarted) + Say(msg::DataError);
        default:
            break;
    }
    const Message* reason = StandardFailureText(result.outcome);
    return Say(kNotStarted) + (reason ? Say(*reason) : std::string());
}

std::string FirmwareEndText(const FirmwareResult& result, const std::filesystem::path& file) {
    switch (result.end) {
        case FirmwareEnd::Finished:
            return Say(kFinishedText);
        case FirmwareEnd::FileUnreadable: {
            std::string text = FirmwareFileProblemText(result.fileProblem, file);
            // Only a file that failed before its first byte left nothing sent.
            if (result.fileProblem != FirmwareFileProblem::ReadFailed) text += Say(kNothingSent);
            return text;
        }
        case FirmwareEnd::Cancelled:
            return Say(kUpdateCancelled) + BytesSentNote(result.bytesSent, result.fileLength);
        case FirmwareEnd::LineFailed: {
            const Message* reason = StandardFailureText(result.line);
            return Say(kUpdateFailed) + BytesSentNote(result.bytesSent, result.fileLength) +
                   (Config().EnglishMessages() ? ": " : "：") +
                   (reason ? Say(*reason) : std::string());
        }
    }
    return {};
}

}  // namespace velmora
