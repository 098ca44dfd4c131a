#include "sim/virtual_splicer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "protocol/command_catalogue.h"
#include "protocol/frame.h"
#include "serial/memory_channel.h"

namespace velmora::sim {
namespace {

std::vector<std::uint8_t> Acknowledge(std::uint8_t command) {
    std::vector<std::uint8_t> reply = {kFrameStart, command, 1, kAccepted, 0};
    reply.back() = SumCheck(std::span(reply).first(4));
    return reply;
}

// When the line is free again after `busy` more time on it. A line in use keeps
// its own schedule, so that waking late from a sleep never slows the rate; one
// idle for a while starts afresh from now.
VirtualSplicer::Clock::time_point NextLineFree(VirtualSplicer::Clock::time_point free,
                                               VirtualSplicer::Clock::duration busy) {
    const auto now = VirtualSplicer::Clock::now();
    if (now - free > std::chrono::milliseconds(20)) free = now;
    return free + busy;
}

int PollMs(VirtualSplicer::Clock::duration d) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30));
}

// Until `until`, or without end for time_point::max().
int PollMsUntil(VirtualSplicer::Clock::time_point until) {
    if (until == VirtualSplicer::Clock::time_point::max()) return -1;
    return PollMs(until - VirtualSplicer::Clock::now());
}

}  // namespace

// The splicer's side of its line: the few operations its thread needs. Every
// wait gives up, returning false, once Wake() has been called (from Stop(), on
// another thread); nothing else is called from outside the splicer's thread.
// Destroying it closes the line, so a program still on it sees a hang-up.
class SplicerLine {
  public:
    using Clock = VirtualSplicer::Clock;
    virtual ~SplicerLine() = default;

    // Blocks until bytes have come, `until` passes (time_point::max(): no limit),
    // or Wake(). False when woken or the line failed: the splicer stops.
    virtual bool WaitReadable(Clock::time_point until) = 0;
    // Takes what has come, at most the destination's size, without blocking.
    virtual std::size_t Read(std::span<std::uint8_t> destination) = 0;
    // Writes every byte, waiting for room while the program is not reading.
    // False when woken or the line failed.
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
    // Sleeps until `until`; false when woken first.
    virtual bool SleepUntil(Clock::time_point until) = 0;
    // Drops the line under the program, as a pulled cable does, for good.
    virtual void HangUp() = 0;
    virtual void Wake() = 0;
};

namespace {

// A pseudo-terminal: the splicer holds the master, the program opens the slave.
class PtyLine final : public SplicerLine {
  public:
    ~PtyLine() override {
        for (int fd : {master_, slave_, wakeRead_, wakeWrite_})
            if (fd >= 0) ::close(fd);
    }

    // Opens the pseudo-terminal and sets `path` to the device the program opens;
    // nullptr with `error` set on failure.
    static std::unique_ptr<PtyLine> Open(std::string& path, std::string* error) {
        auto line = std::make_unique<PtyLine>();
        auto fail = [&](const char* what) -> std::unique_ptr<PtyLine> {
            if (error) *error = std::string(what) + ": " + std::strerror(errno);
            return nullptr;
        };
        line->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (line->master_ < 0) return fail("posix_openpt");
        if (grantpt(line->master_) != 0 || unlockpt(line->master_) != 0)
            return fail("pseudo-terminal");
        char name[128];
        if (ptsname_r(line->master_, name, sizeof name) != 0) return fail("ptsname");
        line->slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (line->slave_ < 0) return fail(name);
        // Raw from the start, so nothing is echoed or translated before the program
        // opens the port; after that the line settings are the program's alone.
        termios tio{};
        tcgetattr(line->slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(line->slave_, TCSANOW, &tio);
        fcntl(line->master_, F_SETFL, fcntl(line->master_, F_GETFL) | O_NONBLOCK);
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
        line->wakeRead_ = pipeFds[0];
        line->wakeWrite_ = pipeFds[1];
        path = name;
        return line;
    }

    bool WaitReadable(Clock::time_point until) override {
        for (;;) {
            pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
            int rc = ::poll(fds, 2, PollMsUntil(until));
            if (rc < 0 && errno == EINTR) continue;
            return rc >= 0 && !fds[1].revents;
        }
    }

    std::size_t Read(std::span<std::uint8_t> destination) override {
        ssize_t n = ::read(master_, destination.data(), destination.size());
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    bool Write(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            // The program is not reading: wait for room, or for the order to stop.
            pollfd fds[2] = {{master_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(fds, 2, -1) > 0 && fds[1].revents) return false;
        }
        return true;
    }

    bool SleepUntil(Clock::time_point until) override {
        for (;;) {
            pollfd p{wakeRead_, POLLIN, 0};
            if (::poll(&p, 1, PollMsUntil(until)) > 0) return false;
            if (Clock::now() >= until) return true;
        }
    }

    void HangUp() override {
        // Closing both ends: the program's reads and writes then fail as on a hang-up.
        ::close(slave_);
        ::close(master_);
        slave_ = master_ = -1;
    }

    void Wake() override {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
    }

  private:
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up of its own
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
};

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
    splicer.SetHandler(cmd::Handshake, [](const Request&) { return Acknowledge(cmd::Handshake); });
    splicer.SetHandler(cmd::Disconnect,
                       [](const Request&) { return Acknowledge(cmd::Disconnect); });
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
        line_ = PtyLine::Open(portPath_, error);
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
    return framesArrived_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

std::size_t VirtualSplicer::BytesReceived() const {
    std::lock_guard lock(mutex_);
    return bytesReceived_;
}

bool VirtualSplicer::HungUp() const {
    std::lock_guard lock(mutex_);
    return hungUp_;
}

VirtualSplicer::Clock::time_point VirtualSplicer::LastReplyEnd() const {
    std::lock_guard lock(mutex_);
    return lastReplyEnd_;
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
        if (!line_->WaitReadable(RawIntakeDeadline())) return;
        // Take in no faster than the line could carry it.
        std::size_t want = options_.fast ? chunk.size() : PaceChunk();
        const std::size_t n = line_->Read(std::span(chunk).first(want));
        if (n == 0) continue;
        if (!options_.fast) {
            inLineFree_ = NextLineFree(inLineFree_, LineTime(n));
            if (!line_->SleepUntil(inLineFree_)) return;
        }
        {
            std::lock_guard lock(mutex_);
            bytesReceived_ += n;
        }
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
        auto start = std::find(intake_.begin(), intake_.end(), kFrameStart);
        intake_.erase(intake_.begin(), start);
        if (intake_.size() < 4) return;
        std::size_t total = static_cast<std::size_t>(intake_[2]) + 4;
        if (intake_.size() < total) return;
        std::span<const std::uint8_t> frame(intake_.data(), total);
        if (!HasRequestCheck(frame)) {
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
        framesArrived_.notify_all();
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
    if (SendPaced(reply, gap)) {
        std::lock_guard lock(mutex_);
        lastReplyEnd_ = Clock::now();
    }
}

bool VirtualSplicer::SendPaced(std::span<const std::uint8_t> bytes, std::chrono::milliseconds gap) {
    std::size_t step = gap.count() > 0 ? 1 : (options_.fast ? bytes.size() : PaceChunk());
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        std::size_t n = std::min(step, bytes.size() - sent);
        if (!options_.fast || gap.count() > 0) {
            // A byte reaches the far end once its last bit has been sent.
            outLineFree_ = NextLineFree(outLineFree_, LineTime(n) + gap);
            if (!line_->SleepUntil(outLineFree_)) return false;
        }
        if (!line_->Write(bytes.subspan(sent, n))) return false;
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
    return [&splicer](const std::string& device, int speed, std::string& reason) {
        if (splicer && splicer->InMemory() && device == splicer->PortPath())
            return splicer->OpenProgramChannel(speed);
        return OpenSerialChannel(device, speed, reason);
    };
}

}  // namespace velmora::sim
