#include "firmware/firmware_update.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "base/file_read.h"
#include "base/text_codec.h"
#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

constexpr int kAcknowledgementLength = 5;
constexpr int kDefaultSpeed = 115200;
constexpr std::size_t kSmallestPiece = 64;

// A failure that leaves nothing more to say to the splicer.
bool LineUnusable(Outcome outcome) {
    return outcome == Outcome::NotOpen || outcome == Outcome::PortLost ||
           outcome == Outcome::WriteFailed || outcome == Outcome::Cancelled;
}

// Why a write or send failed, from what the port knows.
Outcome WriteFailure(const ByteChannel& port) {
    if (port.WasLost()) return Outcome::PortLost;
    return port.IsOpen() ? Outcome::WriteFailed : Outcome::NotOpen;
}

struct HandshakeReply {
    Outcome outcome = Outcome::NoAnswer;
    // Bytes gathered after the five of the acknowledgement: the start of the text.
    std::vector<std::uint8_t> surplus;
};

// One handshake: the acknowledgement is judged on its first five bytes; what
// follows them is the start of the splicer's text.
HandshakeReply Handshake(Link& link, const LineClaim& claim, std::uint8_t command,
                         const Pump& pump) {
    HandshakeReply result;
    const ExchangeResult exchange = link.Exchange(claim, FixedRequest(command), {pump, {}});
    switch (exchange.outcome) {
        case Outcome::Accepted:
        case Outcome::NoAnswer:
        case Outcome::BadCheck:
        case Outcome::Rejected:
        case Outcome::Unexpected:
            break;
        default:
            result.outcome = exchange.outcome;
            return result;
    }
    const std::span<const std::uint8_t> reply = exchange.reply;
    const std::span<const std::uint8_t> head =
        reply.first(std::min<std::size_t>(reply.size(), kAcknowledgementLength));
    result.surplus.assign(reply.begin() + static_cast<long>(head.size()), reply.end());
    result.outcome = OutcomeOf(JudgeReply(head, command, true));
    return result;
}

// Waits up to 1000 ms for the rest of the splicer's text, never keeping more than 38 bytes.
std::vector<std::uint8_t> GatherText(Link& link, const LineClaim& claim,
                                     std::vector<std::uint8_t> text, const Pump& pump) {
    if (text.size() >= kSplicerTextMax) {
        text.resize(kSplicerTextMax);
        return text;
    }
    ReceiveWatch watch;
    watch.timeout = std::chrono::milliseconds(kFirmwareHandshakeTimeoutMs);
    watch.pump = pump;
    link.ReceiveBytes(claim, kSplicerTextMax - text.size(), watch);
    std::span<const std::uint8_t> more = link.Reply();
    more = more.first(std::min(more.size(), kSplicerTextMax - text.size()));
    text.insert(text.end(), more.begin(), more.end());
    return text;
}

bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// About 20 ms of line time per write: short enough to see a stop request soon.
std::size_t PieceSize(const ByteChannel& port, std::size_t asked) {
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
    FirmwareResult& FileFailed(FirmwareFileProblem problem);
    FirmwareResult& LineFailed(Outcome outcome);

    Link& link_;
    const std::filesystem::path& file_;
    std::stop_token stop_;
    const FirmwareCallbacks& callbacks_;
    const FirmwareSendOptions& options_;
    FirmwareResult result_;
};

FirmwareResult& Transfer::FileFailed(FirmwareFileProblem problem) {
    result_.end = FirmwareEnd::FileUnreadable;
    result_.fileProblem = problem;
    return result_;
}

FirmwareResult& Transfer::LineFailed(Outcome outcome) {
    result_.end = outcome == Outcome::Cancelled ? FirmwareEnd::Cancelled : FirmwareEnd::LineFailed;
    result_.line = outcome;
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
            return Stopped() ? Outcome::Cancelled : WriteFailure(link_.Port());
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
    if (const FirmwareFileProblem problem = CheckFirmwareFile(file_);
        problem != FirmwareFileProblem::None)
        return FileFailed(problem);
    std::ifstream in(file_, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios::beg);
    if (!in || length <= 0) return FileFailed(FirmwareFileProblem::Unopenable);
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
            return FileFailed(FirmwareFileProblem::ReadFailed);
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
    return result_;
}

}  // namespace

HandshakeResult RunFirmwareHandshakes(Link& link, const LineClaim& claim,
                                      const HandshakeCallbacks& callbacks, const Pump& pump) {
    HandshakeResult result;
    HandshakeReply reply = Handshake(link, claim, cmd::FirmwareHandshake1, pump);
    result.outcome = reply.outcome;
    result.state =
        reply.outcome == Outcome::Accepted ? UpdateState::FirstAccepted : UpdateState::FirstRefused;
    if (callbacks.firstAnswered) callbacks.firstAnswered();
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
        if (callbacks.splicerText) callbacks.splicerText(result.splicerText);
    }
    return result;
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

FirmwareFileProblem CheckFirmwareFile(const std::filesystem::path& file) {
    if (file.empty()) return FirmwareFileProblem::Missing;
    const FileReadResult check = CheckFileToRead(file, kLargestFirmwareFile);
    switch (check.problem) {
        case FileReadProblem::None:
            break;
        case FileReadProblem::Missing:
            return FirmwareFileProblem::Missing;
        case FileReadProblem::NotAFile:
            return FirmwareFileProblem::NotRegular;
        case FileReadProblem::TooLarge:
            return FirmwareFileProblem::TooLarge;
        case FileReadProblem::Unreadable:
            return FirmwareFileProblem::Unopenable;
    }
    std::error_code ec;
    return std::filesystem::file_size(file, ec) == 0 && !ec ? FirmwareFileProblem::Empty
                                                            : FirmwareFileProblem::None;
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
    // A stop must also reach a write that waits for a splicer that stopped reading.
    const std::stop_callback interrupt(stop, [&link] { link.Cancel(); });
    FirmwareResult result = Transfer(link, file, stop, callbacks, options).Run();
    // Whatever happened, the splicer is no longer reading frames.
    link.Port().ClosePort();
    { LineClaim released(std::move(claim)); }
    if (callbacks.finished) callbacks.finished(result);
    return result;
}

}  // namespace velmora
