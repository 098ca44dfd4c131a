#include "sim/virtual_splicer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "protocol/command_catalogue.h"
#include "protocol/frame.h"

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
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + std::strerror(errno);
        Stop();
        return false;
    };
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return fail("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) return fail("pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname");
    portPath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) return fail(name);
    // Raw from the start, so nothing is echoed or translated before the program
    // opens the port; after that the line settings are the program's alone.
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    if (!options_.linkPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(options_.linkPath, ec);
        std::filesystem::create_symlink(portPath_, options_.linkPath, ec);
        if (ec) {
            errno = ec.value();
            return fail(options_.linkPath.c_str());
        }
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void VirtualSplicer::Stop() {
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int* fd : {&master_, &slave_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    if (!options_.linkPath.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(options_.linkPath, ec))
            std::filesystem::remove(options_.linkPath, ec);
    }
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

bool VirtualSplicer::SleepUntil(Clock::time_point until) {
    for (;;) {
        auto now = Clock::now();
        pollfd p{wakeRead_, POLLIN, 0};
        int rc = ::poll(&p, 1, until > now ? PollMs(until - now) : 0);
        if (rc > 0) return false;
        if (Clock::now() >= until) return true;
    }
}

int VirtualSplicer::RawIntakeWaitMs() const {
    if (!raw_) return -1;
    auto limit = rawTaken_ > 0 ? raw_->quiet : std::max(raw_->quiet, raw_->firstByteWait);
    auto left = rawLastByte_ + limit - Clock::now();
    return left > Clock::duration::zero() ? PollMs(left) : 0;
}

void VirtualSplicer::Run() {
    std::vector<std::uint8_t> chunk(4096);
    for (;;) {
        if (RawIntakeWaitMs() == 0) EndRawIntake(false);
        pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        int rc = ::poll(fds, 2, RawIntakeWaitMs());
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0 || fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        // Take in no faster than the line could carry it.
        std::size_t want = options_.fast ? chunk.size() : PaceChunk();
        ssize_t n = ::read(master_, chunk.data(), want);
        if (n <= 0) continue;
        if (!options_.fast) {
            inLineFree_ = NextLineFree(inLineFree_, LineTime(static_cast<std::size_t>(n)));
            if (!SleepUntil(inLineFree_)) return;
        }
        {
            std::lock_guard lock(mutex_);
            bytesReceived_ += static_cast<std::size_t>(n);
        }
        if (raw_) {
            rawLastByte_ = Clock::now();
            TakeRaw(std::span(chunk).first(static_cast<std::size_t>(n)));
        } else {
            intake_.insert(intake_.end(), chunk.begin(), chunk.begin() + n);
            TakeFrames();
        }
        if (master_ < 0) return;  // hung up
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
        if (master_ < 0) return;
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
            if (!SleepUntil(Clock::now() + std::chrono::milliseconds(fault.arg))) return;
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
            if (!SleepUntil(outLineFree_)) return false;
        }
        std::size_t done = 0;
        while (done < n) {
            ssize_t w = ::write(master_, bytes.data() + sent + done, n - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            // The program is not reading: wait for room, or for the order to stop.
            pollfd fds[2] = {{master_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(fds, 2, -1) > 0 && fds[1].revents) return false;
        }
        sent += n;
    }
    return true;
}

void VirtualSplicer::HangUpLine() {
    // Closing both ends drops the line under the program, as a pulled cable does.
    ::close(slave_);
    ::close(master_);
    slave_ = master_ = -1;
    std::lock_guard lock(mutex_);
    hungUp_ = true;
}

}  // namespace velmora::sim
