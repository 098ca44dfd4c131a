#include "firmware/firmware_update.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "app/language.h"
#include "app/messages.h"
#include "app/text_codec.h"
#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

constexpr int kAcknowledgementLength = 5;
constexpr int kDefaultSpeed = 115200;
constexpr std::size_t kSmallestPiece = 64;

constexpr Message kFinishedText{"更新完成，请重新启动程序和熔接机",
                                "Updated Finish,Please Restart Program and Fusion Splicer"};
constexpr Message kNotStarted{"更新未开始：", "The update did not start: "};
constexpr Message kSplicerRefused{"熔接机拒绝了更新", "the Fusion Splicer refused it"};
constexpr Message kSplicerSilent{"熔接机无应答", "no answer from the Fusion Splicer"};
constexpr Message kFileMissing{"找不到固件文件：", "Firmware file not found: "};
constexpr Message kFileNotRegular{"不是普通文件：", "Not a regular file: "};
constexpr Message kFileUnopenable{"无法打开固件文件：", "Cannot open the firmware file: "};
constexpr Message kFileEmpty{"固件文件为空：", "The firmware file is empty: "};
constexpr Message kNothingSent{"（未发送任何数据，请重新启动熔接机）",
                               " (nothing was sent; please restart the Fusion Splicer)"};
constexpr Message kFileReadFailed{"读取固件文件失败，更新未完成，请重新启动熔接机后再次更新：",
                                  "Reading the firmware file failed, the update is incomplete; "
                                  "restart the Fusion Splicer and update again: "};
constexpr Message kUpdateFailed{"更新失败", "Update failed"};
constexpr Message kUpdateCancelled{"更新已取消", "Update cancelled"};

// A failure that leaves nothing more to say to the splicer.
bool LineUnusable(Outcome outcome) {
    return outcome == Outcome::NotOpen || outcome == Outcome::PortLost ||
           outcome == Outcome::WriteFailed || outcome == Outcome::Cancelled;
}

Outcome FromVerdict(ReplyVerdict verdict) {
    switch (verdict) {
        case ReplyVerdict::Accepted:
            return Outcome::Accepted;
        case ReplyVerdict::NoAnswer:
            return Outcome::NoAnswer;
        case ReplyVerdict::BadCheck:
            return Outcome::BadCheck;
        case ReplyVerdict::Rejected:
            return Outcome::Rejected;
        case ReplyVerdict::Unexpected:
            return Outcome::Unexpected;
    }
    return Outcome::Unexpected;
}

// Why a write or send failed, from what the port knows.
Outcome WriteFailure(const SerialPort& port) {
    if (port.WasLost()) return Outcome::PortLost;
    return port.IsOpen() ? Outcome::WriteFailed : Outcome::NotOpen;
}

struct HandshakeReply {
    Outcome outcome = Outcome::NoAnswer;
    // Bytes gathered after the five of the acknowledgement: the start of the text.
    std::vector<std::uint8_t> surplus;
};

// One handshake: the acknowledgement is judged on its first five bytes.
HandshakeReply Handshake(Link& link, const LineClaim& claim, std::uint8_t command,
                         const Pump& pump) {
    HandshakeReply result;
    if (!link.Port().IsOpen()) {
        result.outcome = Outcome::NotOpen;
        return result;
    }
    link.Frame() = FixedRequest(command);
    if (!link.SendFrame(claim)) {
        result.outcome = WriteFailure(link.Port());
        return result;
    }
    link.ReplyLength = kAcknowledgementLength;
    link.ReceiveReply(claim, kFirmwareHandshakeTimeoutMs, pump);
    if (link.CancelRequested()) {
        result.outcome = Outcome::Cancelled;
        return result;
    }
    std::span<const std::uint8_t> reply = link.Reply();
    if (reply.empty() && link.Port().WasLost()) {
        result.outcome = Outcome::PortLost;
        return result;
    }
    std::span<const std::uint8_t> head = reply.first(std::min<std::size_t>(reply.size(), 5));
    result.surplus.assign(reply.begin() + static_cast<long>(head.size()), reply.end());
    result.outcome = FromVerdict(JudgeReply(head, command, true));
    return result;
}

// Waits up to 1000 ms for the rest of the splicer's text, never keeping more than 38 bytes.
std::vector<std::uint8_t> GatherText(Link& link, const LineClaim& claim,
                                     std::vector<std::uint8_t> text, const Pump& pump) {
    if (text.size() >= kSplicerTextMax) {
        text.resize(kSplicerTextMax);
        return text;
    }
    link.ReplyLength = static_cast<int>(kSplicerTextMax - text.size());
    link.ReceiveReply(claim, kFirmwareHandshakeTimeoutMs, pump);
    std::span<const std::uint8_t> more = link.Reply();
    more = more.first(std::min(more.size(), kSplicerTextMax - text.size()));
    text.insert(text.end(), more.begin(), more.end());
    return text;
}

bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string WithPath(const Message& message, const std::filesystem::path& file) {
    return Say(message) + file.string();
}

std::string BytesSentNote(std::uint64_t sent, std::uint64_t length) {
    const bool english = Config().EnglishMessages();
    return (english ? " (" : "（") + std::to_string(sent) + (english ? " of " : " / ") +
           std::to_string(length) + (english ? " bytes sent)" : " 字节已发送）");
}

// About 20 ms of line time per write: short enough to see a stop request soon.
std::size_t PieceSize(const SerialPort& port, std::size_t asked) {
    if (asked > 0) return std::min(asked, kFirmwareBlockSize);
    const int speed = port.Speed() > 0 ? port.Speed() : kDefaultSpeed;
    const std::size_t bytesPerSecond = static_cast<std::size_t>(speed) / 10;
    return std::clamp<std::size_t>(bytesPerSecond / 50, kSmallestPiece, kWritePiece);
}

// False when a stop was requested during the pause.
bool Pause(std::chrono::milliseconds length, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    never.wait_for(lock, stop, length, [] { return false; });
    return !stop.stop_requested();
}

class Transfer {
  public:
    Transfer(Link& link, const std::filesystem::path& file, std::stop_token stop,
             const FirmwareCallbacks& callbacks, const FirmwareSendOptions& options)
        : link_(link),
          file_(file),
          stop_(std::move(stop)),
          callbacks_(callbacks),
          options_(options) {}

    FirmwareResult Run();

  private:
    bool Stopped() const { return stop_.stop_requested() || link_.CancelRequested(); }
    std::optional<Outcome> Write(std::span<const std::uint8_t> block);
    std::optional<Outcome> ConfirmLineStillThere();
    FirmwareResult& FileFailed(std::string text);
    FirmwareResult& LineFailed(Outcome outcome);

    Link& link_;
    const std::filesystem::path& file_;
    std::stop_token stop_;
    const FirmwareCallbacks& callbacks_;
    const FirmwareSendOptions& options_;
    FirmwareResult result_;
};

FirmwareResult& Transfer::FileFailed(std::string text) {
    result_.end = FirmwareEnd::FileUnreadable;
    result_.text = std::move(text);
    return result_;
}

FirmwareResult& Transfer::LineFailed(Outcome outcome) {
    const std::string note = BytesSentNote(result_.bytesSent, result_.fileLength);
    if (outcome == Outcome::Cancelled) {
        result_.end = FirmwareEnd::Cancelled;
        result_.text = Say(kUpdateCancelled) + note;
    } else {
        result_.end = FirmwareEnd::LineFailed;
        result_.line = outcome;
        const Message* reason = StandardFailureText(outcome);
        result_.text = Say(kUpdateFailed) + note + (Config().EnglishMessages() ? ": " : "：") +
                       (reason ? Say(*reason) : std::string());
    }
    return result_;
}

// Writes one block in pieces, checking for a stop request between them. Each
// piece goes out with SendBytes, so the line carries the same bytes as one write.
std::optional<Outcome> Transfer::Write(std::span<const std::uint8_t> block) {
    const std::size_t piece = PieceSize(link_.Port(), options_.pieceBytes);
    for (std::size_t done = 0; done < block.size(); done += piece) {
        if (Stopped()) return Outcome::Cancelled;
        std::span<const std::uint8_t> part =
            block.subspan(done, std::min(piece, block.size() - done));
        if (link_.Port().SendBytes(part) != static_cast<long>(part.size()))
            return WriteFailure(link_.Port());
        result_.bytesSent += part.size();
    }
    return std::nullopt;
}

// Lets the last bytes leave; a line that went away meanwhile shows as a hang-up,
// so the end text is never shown for a transfer the splicer lost.
std::optional<Outcome> Transfer::ConfirmLineStillThere() {
    if (!link_.Port().DrainOutput()) return WriteFailure(link_.Port());
    WaitResult state = link_.Port().WaitReadable(std::chrono::milliseconds(0));
    if (state == WaitResult::PortLost || state == WaitResult::NotOpen)
        return WriteFailure(link_.Port());
    return std::nullopt;
}

FirmwareResult Transfer::Run() {
    if (!Pause(options_.pause, stop_)) return LineFailed(Outcome::Cancelled);
    if (!link_.Port().IsOpen()) return LineFailed(WriteFailure(link_.Port()));
    if (std::string problem = FirmwareFileProblem(file_); !problem.empty())
        return FileFailed(problem + Say(kNothingSent));
    std::ifstream in(file_, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios::beg);
    if (!in || length <= 0) return FileFailed(WithPath(kFileUnopenable, file_) + Say(kNothingSent));
    result_.fileLength = static_cast<std::uint64_t>(length);

    const std::uint64_t blocks = result_.fileLength / kFirmwareBlockSize;
    const std::size_t rest = static_cast<std::size_t>(result_.fileLength % kFirmwareBlockSize);
    // One buffer, refilled for each block: the file is never held whole.
    std::vector<std::uint8_t> buffer(kFirmwareBlockSize);
    for (std::uint64_t block = 0; block <= blocks; ++block) {
        const std::size_t size = block < blocks ? kFirmwareBlockSize : rest;
        if (size == 0) break;
        in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(size));
        // A file that shrank under us must not send stale buffer bytes.
        if (static_cast<std::size_t>(in.gcount()) != size)
            return FileFailed(WithPath(kFileReadFailed, file_));
        if (auto failure = Write(std::span(buffer).first(size))) return LineFailed(*failure);
        if (block < blocks && callbacks_.progress) {
            FirmwareProgress progress;
            progress.block = block;
            progress.bytesSent = result_.bytesSent;
            progress.fileLength = result_.fileLength;
            progress.percent = PercentBeforeBlock(block, result_.fileLength);
            progress.text = UpdatingText(progress.percent);
            callbacks_.progress(progress);
        }
    }
    if (auto failure = ConfirmLineStillThere()) return LineFailed(*failure);
    result_.end = FirmwareEnd::Finished;
    result_.text = Say(kFinishedText);
    return result_;
}

}  // namespace

HandshakeResult RunFirmwareHandshakes(Link& link, const LineClaim& claim, const InfoCallback& info,
                                      const Pump& pump) {
    HandshakeResult result;
    HandshakeReply reply = Handshake(link, claim, cmd::FirmwareHandshake1, pump);
    result.outcome = reply.outcome;
    result.state =
        reply.outcome == Outcome::Accepted ? UpdateState::FirstAccepted : UpdateState::FirstRefused;
    if (info) info(Text(keys::TxtInfo2));
    if (result.state == UpdateState::FirstAccepted) {
        reply = Handshake(link, claim, cmd::FirmwareHandshake2, pump);
        result.outcome = reply.outcome;
        result.state = reply.outcome == Outcome::Accepted ? UpdateState::SecondAccepted
                                                          : UpdateState::SecondRefused;
    }
    // A splicer may explain a refusal in its text, so it is awaited in every case
    // while the line is still there.
    std::vector<std::uint8_t> text = std::move(reply.surplus);
    if (!LineUnusable(result.outcome)) text = GatherText(link, claim, std::move(text), pump);
    if (!text.empty()) {
        result.textArrived = true;
        result.splicerText = SplicerTextForDisplay(text);
        if (info) info(result.splicerText);
    } else if (LineUnusable(result.outcome)) {
        link.SetStatus(*StandardFailureText(result.outcome));
    } else {
        link.SetStatus(msg::NoAnswer);
    }
    return result;
}

std::string NotStartedText(const HandshakeResult& result) {
    if (result.Accepted()) return {};
    switch (result.outcome) {
        case Outcome::NoAnswer:
            return Say(kNotStarted) + Say(kSplicerSilent);
        case Outcome::BadCheck:
        case Outcome::Rejected:
        case Outcome::Unexpected:
        case Outcome::Accepted:
            return Say(kNotStarted) + Say(kSplicerRefused);
        default:
            break;
    }
    const Message* reason = StandardFailureText(result.outcome);
    return Say(kNotStarted) + (reason ? Say(*reason) : std::string());
}

std::string SplicerTextForDisplay(std::span<const std::uint8_t> bytes) {
    bytes = bytes.first(static_cast<std::size_t>(
        std::find(bytes.begin(), bytes.end(), std::uint8_t{0}) - bytes.begin()));
    std::size_t first = 0;
    while (first < bytes.size() && IsBlank(bytes[first])) ++first;
    std::size_t last = bytes.size();
    while (last > first && IsBlank(bytes[last - 1])) --last;
    std::string gbk(bytes.begin() + static_cast<long>(first),
                    bytes.begin() + static_cast<long>(last));
    std::string text = GbkToUtf8(gbk);
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n') || u == 0x7F) c = ' ';
    }
    return text;
}

std::string FirmwareFileProblem(const std::filesystem::path& file) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(file, ec);
    if (file.empty() || !std::filesystem::exists(status)) return WithPath(kFileMissing, file);
    if (!std::filesystem::is_regular_file(status)) return WithPath(kFileNotRegular, file);
    if (!std::ifstream(file, std::ios::binary)) return WithPath(kFileUnopenable, file);
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) return WithPath(kFileUnopenable, file);
    if (size == 0) return WithPath(kFileEmpty, file);
    return {};
}

int PercentBeforeBlock(std::uint64_t block, std::uint64_t fileLength) {
    if (fileLength == 0) return 0;
    return static_cast<int>(block * kFirmwareBlockSize * 100 / fileLength);
}

std::string UpdatingText(int percent) {
    char text[32];
    std::snprintf(text, sizeof text, "Updating ,%d%%", percent);
    return text;
}

FirmwareResult FirmwareSendThread(Link& link, LineClaim claim, const std::filesystem::path& file,
                                  std::stop_token stop, const FirmwareCallbacks& callbacks,
                                  const FirmwareSendOptions& options) {
    FirmwareResult result = Transfer(link, file, std::move(stop), callbacks, options).Run();
    // Whatever happened, the splicer is no longer reading frames.
    link.Port().ClosePort();
    { LineClaim released(std::move(claim)); }
    if (callbacks.finished) callbacks.finished(result);
    return result;
}

}  // namespace velmora
