#include "sim/virtual_splicer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "serial/memory_channel.h"
#include "sim/splicer_frames.h"
#include "sim/splicer_line.h"

namespace velmora::sim {
namespace {

// When the line is free again after `busy` more time on it. A line in use keeps
// its own schedule, so that waking late from a sleep never slows the rate; one
// idle for a while starts afresh from now.
VirtualSplicer::Clock::time_point NextLineFree(VirtualSplicer::Clock::time_point free,
                                               VirtualSplicer::Clock::duration busy) {
    const auto now = VirtualSplicer::Clock::now();
    if (now - free > std::chrono::milliseconds(20)) free = now;
    return free + busy;
}

// The time a schedule restart lost while bytes were at hand: the restart's gap
// (`now` against the old schedule `free`) less `waited`, the part spent waiting
// for the far end. Zero when the schedule went on.
VirtualSplicer::Clock::duration RestartLoss(VirtualSplicer::Clock::time_point free,
                                            VirtualSplicer::Clock::time_point now,
                                            VirtualSplicer::Clock::duration waited) {
    if (now - free <= std::chrono::milliseconds(20)) return {};
    return std::max(VirtualSplicer::Clock::duration::zero(), now - free - waited);
}

// An in-memory line; the program's ends join it through OpenProgramChannel.
class MemorySplicerLine final : public SplicerLine {
  public:
    explicit MemorySplicerLine(std::shared_ptr<MemoryLine> line) : end_(std::move(line)) {}
    ~MemorySplicerLine() override { end_.HangUp(); }

    bool WaitReadable(Clock::time_point until) override { return end_.WaitReadable(until); }
    std::size_t Read(std::span<std::uint8_t> destination) override {
        return end_.Read(destination);
    }
    bool Write(std::span<const std::uint8_t> bytes) override { return end_.Write(bytes); }
    bool SleepUntil(Clock::time_point until) override { return end_.SleepUntil(until); }
    void HangUp() override { end_.HangUp(); }
    void Wake() override { end_.Wake(); }

  private:
    MemorySplicerEnd end_;
};

}  // namespace

void InstallBaseCommands(VirtualSplicer& splicer) {
    splicer.SetHandler(code::Handshake,
                       [](const Request&) { return AcceptFrame(code::Handshake); });
    splicer.SetHandler(code::Disconnect,
                       [](const Request&) { return AcceptFrame(code::Disconnect); });
}

VirtualSplicer::VirtualSplicer(SplicerOptions options) : options_(std::move(options)) {
    if (options_.baud <= 0) options_.baud = 115200;
    InstallBaseCommands(*this);
}

VirtualSplicer::~VirtualSplicer() {
    Stop();
}

bool VirtualSplicer::Start(std::string* error) {
    dropped_ = false;
    if (options_.inMemory) {
        if (!options_.linkPath.empty()) {
            if (error) *error = options_.linkPath + ": a link needs a pseudo-terminal";
            return false;
        }
        static std::atomic<int> lines{0};
        portPath_ = "virtual:splicer-" + std::to_string(++lines);
        auto memory = std::make_shared<MemoryLine>();
        line_ = std::make_unique<MemorySplicerLine>(memory);
        std::lock_guard lock(mutex_);
        memoryLine_ = std::move(memory);
    } else {
        line_ = OpenPtyLine(portPath_, error);
        if (!line_) return false;
        if (!options_.linkPath.empty()) {
            std::error_code ec;
            std::filesystem::remove(options_.linkPath, ec);
            std::filesystem::create_symlink(portPath_, options_.linkPath, ec);
            if (ec) {
                if (error) *error = options_.linkPath + ": " + ec.message();
                Stop();
                return false;
            }
        }
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void VirtualSplicer::Stop() {
    if (line_) line_->Wake();
    if (thread_.joinable()) thread_.join();
    line_.reset();
    if (!options_.inMemory && !options_.linkPath.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(options_.linkPath, ec))
            std::filesystem::remove(options_.linkPath, ec);
    }
}

std::unique_ptr<ByteChannel> VirtualSplicer::OpenProgramChannel(int speed) const {
    std::lock_guard lock(mutex_);
    if (!memoryLine_) return nullptr;
    return std::make_unique<MemoryChannel>(memoryLine_, speed);
}

void VirtualSplicer::SetHandler(std::uint8_t command, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[command] = std::move(handler);
}

void VirtualSplicer::SetFault(std::uint8_t command, Fault fault) {
    std::lock_guard lock(mutex_);
    faults_[command] = fault;
}

void VirtualSplicer::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

void VirtualSplicer::StartRawIntake(RawIntake intake) {
    raw_ = std::move(intake);
    rawTaken_ = 0;
    rawLastByte_ = Clock::now();
}

std::vector<std::vector<std::uint8_t>> VirtualSplicer::ReceivedFrames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

bool VirtualSplicer::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

std::size_t VirtualSplicer::BytesReceived() const {
    std::lock_guard lock(mutex_);
    return bytesReceived_;
}

bool VirtualSplicer::WaitForBytes(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return bytesReceived_ >= count; });
}

bool VirtualSplicer::HungUp() const {
    std::lock_guard lock(mutex_);
    return hungUp_;
}

VirtualSplicer::Clock::time_point VirtualSplicer::LastReplyEnd() const {
    std::lock_guard lock(mutex_);
    return lastReplyEnd_;
}

VirtualSplicer::ReplyTimeline VirtualSplicer::LastReplyTimeline() const {
    std::lock_guard lock(mutex_);
    return lastReply_;
}

VirtualSplicer::PaceLag VirtualSplicer::SendLag() const {
    std::lock_guard lock(mutex_);
    return sendLag_;
}

VirtualSplicer::PaceLag VirtualSplicer::IntakeLag() const {
    std::lock_guard lock(mutex_);
    return intakeLag_;
}

void VirtualSplicer::ResetPaceLag() {
    std::lock_guard lock(mutex_);
    sendLag_ = {};
    intakeLag_ = {};
}

void VirtualSplicer::NoteLag(PaceLag& lag, Clock::time_point due, Clock::time_point woke,
                             Clock::duration lost) {
    const Clock::duration late = std::max(Clock::duration::zero(), woke - due);
    std::lock_guard lock(mutex_);
    lag.lost += lost;
    lag.lastLate = late;
    lag.worstLate = std::max(lag.worstLate, late);
}

VirtualSplicer::Clock::duration VirtualSplicer::LineTime(std::size_t bytes) const {
    // 10 bits a byte on the line: start, 8 data bits, stop.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) * 10.0 / options_.baud));
}

std::size_t VirtualSplicer::PaceChunk() const {
    // About 2 ms of line time per step, at least one byte.
    return std::max<std::size_t>(1, static_cast<std::size_t>(options_.baud) / 10 / 500);
}

VirtualSplicer::Clock::time_point VirtualSplicer::RawIntakeDeadline() const {
    if (!raw_) return Clock::time_point::max();
    return rawLastByte_ +
           (rawTaken_ > 0 ? raw_->quiet : std::max(raw_->quiet, raw_->firstByteWait));
}

void VirtualSplicer::Run() {
    std::vector<std::uint8_t> chunk(4096);
    for (;;) {
        if (raw_ && Clock::now() >= RawIntakeDeadline()) EndRawIntake(false);
        const Clock::time_point waitFrom = Clock::now();
        if (!line_->WaitReadable(RawIntakeDeadline())) return;
        // Take in no faster than the line could carry it.
        std::size_t want = options_.fast ? chunk.size() : PaceChunk();
        const std::size_t n = line_->Read(std::span(chunk).first(want));
        if (n == 0) continue;
        if (!options_.fast) {
            // Bytes were at hand only when the last read left more behind it: a
            // short read means the program had sent no more then.
            const Clock::time_point now = Clock::now();
            const Clock::duration lost =
                lastReadFull_ ? RestartLoss(inLineFree_, now, now - waitFrom) : Clock::duration{};
            lastReadFull_ = n == want;
            inLineFree_ = NextLineFree(inLineFree_, LineTime(n));
            if (!line_->SleepUntil(inLineFree_)) return;
            NoteLag(intakeLag_, inLineFree_, Clock::now(), lost);
        }
        {
            std::lock_guard lock(mutex_);
            bytesReceived_ += n;
        }
        arrived_.notify_all();
        if (raw_) {
            rawLastByte_ = Clock::now();
            TakeRaw(std::span(chunk).first(n));
        } else {
            intake_.insert(intake_.end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
            TakeFrames();
        }
        if (dropped_) return;
    }
}

void VirtualSplicer::TakeFrames() {
    for (;;) {
        auto start = std::find(intake_.begin(), intake_.end(), kStartByte);
        intake_.erase(intake_.begin(), start);
        if (intake_.size() < 4) return;
        std::size_t total = static_cast<std::size_t>(intake_[2]) + 4;
        if (intake_.size() < total) return;
        std::span<const std::uint8_t> frame(intake_.data(), total);
        if (!RequestCheckHolds(frame)) {
            // Not a frame after all: look for the next start byte.
            intake_.erase(intake_.begin());
            continue;
        }
        Request request{frame[1], {frame.begin() + 3, frame.end() - 1}, TakeFault(frame[1])};
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            frames_.emplace_back(frame.begin(), frame.end());
            if (auto it = handlers_.find(request.command); it != handlers_.end())
                handler = it->second;
        }
        arrived_.notify_all();
        intake_.erase(intake_.begin(), intake_.begin() + static_cast<long>(total));
        // A splicer says nothing to a command it does not know.
        Dispatch(request, handler ? handler(request) : std::vector<std::uint8_t>{});
        if (dropped_) return;
        if (raw_) {
            // The handler switched to raw intake: what follows the frame is raw data.
            std::vector<std::uint8_t> rest = std::move(intake_);
            intake_.clear();
            rawLastByte_ = Clock::now();
            TakeRaw(rest);
            return;
        }
    }
}

Fault VirtualSplicer::TakeFault(std::uint8_t command) {
    std::lock_guard lock(mutex_);
    auto it = faults_.find(command);
    if (it == faults_.end()) return {};
    Fault fault = it->second;
    if (it->second.times > 0 && --it->second.times == 0) faults_.erase(it);
    return fault;
}

void VirtualSplicer::TakeRaw(std::span<const std::uint8_t> bytes) {
    const long long limit = raw_->hangUpAfter;
    const bool drop = limit >= 0 && rawTaken_ + static_cast<long long>(bytes.size()) >= limit;
    if (drop) bytes = bytes.first(static_cast<std::size_t>(std::max(0LL, limit - rawTaken_)));
    if (!bytes.empty() && raw_->take) raw_->take(bytes);
    rawTaken_ += static_cast<long long>(bytes.size());
    if (!drop) return;
    EndRawIntake(true);
    HangUpLine();
}

void VirtualSplicer::EndRawIntake(bool hungUp) {
    RawIntake intake = std::move(*raw_);
    raw_.reset();
    if (intake.ended) intake.ended(hungUp);
}

void VirtualSplicer::Dispatch(const Request& request, std::vector<std::uint8_t> reply) {
    Fault fault = request.fault;
    // A raw intake started by this command's handler drops the line itself, after its bytes.
    if (fault.kind == FaultKind::HangUp && raw_) fault = {};
    switch (fault.kind) {
        case FaultKind::Silent:
            return;
        case FaultKind::Delay:
            if (!line_->SleepUntil(Clock::now() + std::chrono::milliseconds(fault.arg))) return;
            break;
        case FaultKind::HangUp:
            reply.resize(std::min(reply.size(), static_cast<std::size_t>(fault.arg)));
            SendPaced(reply);
            HangUpLine();
            return;
        default:
            break;
    }
    if (reply.empty()) return;
    reply = ApplyToReply(fault, std::move(reply));
    std::chrono::milliseconds gap{};
    if (fault.kind == FaultKind::Trickle)
        gap = std::chrono::milliseconds(fault.arg > 0 ? fault.arg : 2);
    if (fault.kind == FaultKind::LateTail) {
        const std::size_t tail =
            std::min(reply.size(), static_cast<std::size_t>(fault.arg > 0 ? fault.arg : 4));
        if (!SendPaced(std::span(reply).first(reply.size() - tail)) ||
            !line_->SleepUntil(Clock::now() + std::chrono::milliseconds(20)))
            return;
        reply.erase(reply.begin(), reply.end() - static_cast<long>(tail));
    }
    Clock::time_point start{};
    if (SendPaced(reply, gap, &start)) {
        std::lock_guard lock(mutex_);
        lastReplyEnd_ = Clock::now();
        lastReply_ = {start, lastReplyEnd_, reply.size()};
    }
}

bool VirtualSplicer::SendPaced(std::span<const std::uint8_t> bytes, std::chrono::milliseconds gap,
                               Clock::time_point* start) {
    std::size_t step = gap.count() > 0 ? 1 : (options_.fast ? bytes.size() : PaceChunk());
    std::size_t sent = 0;
    Clock::duration writing{};  // the last write's own time: the program not reading
    while (sent < bytes.size()) {
        std::size_t n = std::min(step, bytes.size() - sent);
        const Clock::duration busy = LineTime(n) + gap;
        if (!options_.fast || gap.count() > 0) {
            // A byte reaches the far end once its last bit has been sent.
            const Clock::time_point now = Clock::now();
            // The first step follows a request: a fresh schedule is no loss there.
            const Clock::duration lost =
                sent > 0 ? RestartLoss(outLineFree_, now, writing) : Clock::duration{};
            outLineFree_ = NextLineFree(outLineFree_, busy);
            if (start && sent == 0) *start = outLineFree_ - busy;
            if (!line_->SleepUntil(outLineFree_)) return false;
            NoteLag(sendLag_, outLineFree_, Clock::now(), lost);
        } else if (start && sent == 0) {
            *start = Clock::now();
        }
        const Clock::time_point writeFrom = Clock::now();
        if (!line_->Write(bytes.subspan(sent, n))) return false;
        writing = Clock::now() - writeFrom;
        sent += n;
    }
    return true;
}

void VirtualSplicer::HangUpLine() {
    // Marked first, so that a program that sees its end lost also sees why.
    {
        std::lock_guard lock(mutex_);
        hungUp_ = true;
    }
    line_->HangUp();
    dropped_ = true;
}

ChannelOpener OpenerFor(const std::unique_ptr<VirtualSplicer>& splicer) {
    return [&splicer](const std::string& device, int speed, OpenFailure& failure) {
        if (splicer && splicer->InMemory() && device == splicer->PortPath())
            return splicer->OpenProgramChannel(speed);
        return OpenSerialChannel(device, speed, failure);
    };
}

}  // namespace velmora::sim
