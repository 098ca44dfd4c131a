#include "serial/memory_channel.h"

#include <algorithm>

namespace velmora {
namespace {

constexpr std::chrono::milliseconds kWriteLimit{50000};

std::size_t TakeFrom(std::deque<std::uint8_t>& queue, std::span<std::uint8_t> destination) {
    const std::size_t n = std::min(queue.size(), destination.size());
    std::copy_n(queue.begin(), n, destination.begin());
    queue.erase(queue.begin(), queue.begin() + static_cast<long>(n));
    return n;
}

}  // namespace

MemoryChannel::MemoryChannel(std::shared_ptr<MemoryLine> line, int speed)
    : line_(std::move(line)), speed_(speed) {
    std::lock_guard lock(line_->mutex);
    line_->programAttached = true;
    line_->toProgram.clear();
    if (line_->hungUp) MarkLost();
    // The splicer may be waiting for room.
    line_->changed.notify_all();
}

MemoryChannel::~MemoryChannel() {
    ClosePort();
}

bool MemoryChannel::IsOpen() const {
    std::lock_guard lock(line_->mutex);
    return open_;
}

bool MemoryChannel::WasLost() const {
    std::lock_guard lock(line_->mutex);
    return lost_;
}

std::string MemoryChannel::LastError() const {
    std::lock_guard lock(line_->mutex);
    return lastError_;
}

void MemoryChannel::MarkLost() {
    open_ = false;
    lost_ = true;
    lastError_ = "the port went away";
    line_->programAttached = false;
}

void MemoryChannel::ClosePort() {
    std::lock_guard lock(line_->mutex);
    if (!open_) return;
    open_ = false;
    line_->programAttached = false;
    line_->changed.notify_all();
}

void MemoryChannel::InterruptWrites(bool interrupted) {
    std::lock_guard lock(line_->mutex);
    interrupted_ = interrupted;
    line_->changed.notify_all();
}

void MemoryChannel::DiscardInput() {
    std::lock_guard lock(line_->mutex);
    line_->toProgram.clear();
    line_->changed.notify_all();  // the splicer may be waiting for room
}

long MemoryChannel::SendBytes(std::span<const std::uint8_t> data) {
    std::unique_lock lock(line_->mutex);
    if (!open_) return -1;
    line_->toProgram.clear();
    line_->changed.notify_all();  // the splicer may be waiting for room
    const auto deadline = std::chrono::steady_clock::now() + kWriteLimit;
    std::size_t sent = 0;
    while (sent < data.size()) {
        if (line_->hungUp) {
            MarkLost();
            return -1;
        }
        if (!open_) {
            lastError_ = "the port is closed";
            return -1;
        }
        const std::size_t room =
            line_->capacity - std::min(line_->capacity, line_->toSplicer.size());
        if (room == 0) {
            if (!line_->changed.wait_until(lock, deadline, [&] {
                    return line_->hungUp || !open_ || interrupted_ ||
                           line_->toSplicer.size() < line_->capacity;
                })) {
                lastError_ = "write: Connection timed out";
                return -1;
            }
            if (interrupted_) {
                lastError_ = "write: interrupted";
                return -1;
            }
            continue;
        }
        const std::size_t n = std::min(room, data.size() - sent);
        line_->toSplicer.insert(line_->toSplicer.end(), data.begin() + static_cast<long>(sent),
                                data.begin() + static_cast<long>(sent + n));
        sent += n;
        line_->changed.notify_all();
    }
    return static_cast<long>(sent);
}

bool MemoryChannel::DrainOutput() {
    std::unique_lock lock(line_->mutex);
    // Bounded like a write: a splicer that stopped reading must not hold the program for ever.
    const bool drained = line_->changed.wait_for(
        lock, kWriteLimit, [&] { return line_->hungUp || !open_ || line_->toSplicer.empty(); });
    if (line_->hungUp && open_) MarkLost();
    if (!drained) lastError_ = "drain: Connection timed out";
    return drained && open_;
}

std::size_t MemoryChannel::ReadAvailable(std::span<std::uint8_t> destination) {
    std::lock_guard lock(line_->mutex);
    if (!open_) return 0;
    const std::size_t n =
        TakeFrom(line_->toProgram, destination.first(std::min(destination.size(), kReadCap)));
    if (n > 0)
        line_->changed.notify_all();
    else if (line_->hungUp)
        MarkLost();
    return n;
}

WaitResult MemoryChannel::WaitReadable(std::chrono::milliseconds maxWait) {
    std::unique_lock lock(line_->mutex);
    if (!open_) return WaitResult::NotOpen;
    line_->changed.wait_for(lock, maxWait, [&] {
        return !line_->toProgram.empty() || line_->hungUp || !open_ || woken_;
    });
    woken_ = false;
    if (!line_->toProgram.empty()) return WaitResult::Readable;
    if (line_->hungUp) {
        MarkLost();
        return WaitResult::PortLost;
    }
    return open_ ? WaitResult::TimedOut : WaitResult::NotOpen;
}

void MemoryChannel::Wake() {
    std::lock_guard lock(line_->mutex);
    woken_ = true;
    line_->changed.notify_all();
}

bool MemorySplicerEnd::WaitReadable(Clock::time_point until) {
    std::unique_lock lock(line_->mutex);
    line_->changed.wait_until(lock, until,
                              [&] { return !line_->toSplicer.empty() || line_->splicerWoken; });
    return !line_->splicerWoken;
}

std::size_t MemorySplicerEnd::Read(std::span<std::uint8_t> destination) {
    std::lock_guard lock(line_->mutex);
    const std::size_t n = TakeFrom(line_->toSplicer, destination);
    if (n > 0) line_->changed.notify_all();
    return n;
}

bool MemorySplicerEnd::Write(std::span<const std::uint8_t> bytes) {
    std::unique_lock lock(line_->mutex);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        line_->changed.wait(lock, [&] {
            return line_->splicerWoken || !line_->programAttached ||
                   line_->toProgram.size() < line_->capacity;
        });
        if (line_->splicerWoken) return false;
        // Nobody listening: the bytes are lost on the line, as on a real one.
        if (!line_->programAttached) return true;
        const std::size_t n =
            std::min(line_->capacity - line_->toProgram.size(), bytes.size() - sent);
        line_->toProgram.insert(line_->toProgram.end(), bytes.begin() + static_cast<long>(sent),
                                bytes.begin() + static_cast<long>(sent + n));
        sent += n;
        line_->changed.notify_all();
    }
    return true;
}

bool MemorySplicerEnd::SleepUntil(Clock::time_point until) {
    std::unique_lock lock(line_->mutex);
    return !line_->changed.wait_until(lock, until, [&] { return line_->splicerWoken; });
}

void MemorySplicerEnd::HangUp() {
    std::lock_guard lock(line_->mutex);
    line_->hungUp = true;
    line_->changed.notify_all();
}

void MemorySplicerEnd::Wake() {
    std::lock_guard lock(line_->mutex);
    line_->splicerWoken = true;
    line_->changed.notify_all();
}

}  // namespace velmora
