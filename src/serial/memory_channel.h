#pragma once
// A line inside one process: two ends joined by two byte queues. The program's
// end is a ByteChannel like the serial port; the other end belongs to the
// virtual splicer. Waits block on a condition variable, so neither side spins,
// and a full queue holds the writer back as a full serial driver would.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "serial/byte_channel.h"

namespace velmora {

// What both ends share.
struct MemoryLine {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::uint8_t> toSplicer;
    std::deque<std::uint8_t> toProgram;
    std::size_t capacity = 4096;  // per direction, like a driver's buffer
    bool programAttached = false;
    bool hungUp = false;        // the splicer dropped the line: lost for good
    bool splicerWoken = false;  // the splicer's waits return at once (it is stopping)
};

// The program's end. Closing it detaches from the line, which stays for the next open.
class MemoryChannel final : public ByteChannel {
  public:
    MemoryChannel(std::shared_ptr<MemoryLine> line, int speed);
    ~MemoryChannel() override;

    bool IsOpen() const override;
    bool WasLost() const override;
    void ClosePort() override;
    void DiscardInput() override;
    long SendBytes(std::span<const std::uint8_t> data) override;
    bool DrainOutput() override;
    std::size_t ReadAvailable(std::span<std::uint8_t> destination) override;
    WaitResult WaitReadable(std::chrono::milliseconds maxWait) override;
    void Wake() override;
    void InterruptWrites(bool interrupted) override;
    int Speed() const override { return speed_; }
    std::string LastError() const override;

  private:
    void MarkLost();  // with the mutex held

    std::shared_ptr<MemoryLine> line_;
    int speed_;
    bool open_ = true;
    bool interrupted_ = false;
    bool lost_ = false;
    bool woken_ = false;  // a Wake() no wait has taken yet
    std::string lastError_;
};

// The splicer's end of a MemoryLine, with the waits the virtual splicer needs.
class MemorySplicerEnd {
  public:
    using Clock = std::chrono::steady_clock;
    explicit MemorySplicerEnd(std::shared_ptr<MemoryLine> line) : line_(std::move(line)) {}

    // Blocks until bytes have come from the program, `until` passes, or Wake(). False when woken.
    bool WaitReadable(Clock::time_point until);
    std::size_t Read(std::span<std::uint8_t> destination);
    // Writes all bytes, waiting for room while a program is attached; with none
    // attached they are lost, as on a real line. False when woken.
    bool Write(std::span<const std::uint8_t> bytes);
    // Sleeps until `until`; false when woken first.
    bool SleepUntil(Clock::time_point until);
    // Drops the line: the program's end is lost.
    void HangUp();
    // Makes every wait of this end return false from now on.
    void Wake();

  private:
    std::shared_ptr<MemoryLine> line_;
};

}  // namespace velmora
