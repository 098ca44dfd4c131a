#pragma once
// The one serial port that every page shares: open, close, write a block,
// fetch what has arrived, and wait for more without spinning.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace velmora {

// Largest block one ReadAvailable hands back.
inline constexpr std::size_t kReadCap = 5000;
// Writes go out in pieces of this size.
inline constexpr std::size_t kWritePiece = 2048;
// A piece that cannot be written within this time fails the write.
inline constexpr std::chrono::milliseconds kWriteTimeout{50000};

enum class WaitResult {
    Readable,  // bytes are waiting
    TimedOut,  // nothing arrived in time
    PortLost,  // the device went away (hang-up, cable pulled); the port is now closed
    NotOpen,
};

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `device` at `bitsPerSecond`, 8N1, raw, no flow control, RTS off,
    // exclusively. If the port is already open it stays as it is and this
    // returns true. On failure LastError() says what the system reported.
    bool OpenPort(const std::string& device, int bitsPerSecond);

    // Lets our own output drain, then closes. Always true; closing twice is harmless.
    bool ClosePort();

    // Throws away bytes that have arrived (never our own output still on its way
    // out), then writes every byte in pieces of 2048. Returns the number of bytes
    // written, or -1 when the port is not open or a write failed (LastError()).
    // Returns once the driver has taken the bytes, which may still be leaving.
    long SendBytes(std::span<const std::uint8_t> data);

    // Waits until everything written has left. False when the port is not open or went away.
    bool DrainOutput();

    // Copies what has arrived into `destination`, at most min(5000, its size)
    // bytes; 0 when nothing is there or the port is not open.
    std::size_t ReadAvailable(std::span<std::uint8_t> destination);

    // Blocks until bytes are waiting, the port is lost, or `maxWait` passes.
    WaitResult WaitReadable(std::chrono::milliseconds maxWait);

    // Discards the bytes received but not yet read.
    void DiscardInput();

    bool IsOpen() const { return fd_.load() >= 0; }
    // True when the port closed because the device went away, until the next open.
    bool WasLost() const { return lost_.load(); }
    const std::string& Device() const { return device_; }
    int Speed() const { return speed_; }
    const std::string& LastError() const { return lastError_; }
    // The speed the driver reports for the open port, or -1.
    int ActualSpeed() const;

private:
    bool WriteAll(const std::uint8_t* data, std::size_t length);
    void MarkLost();
    void Fail(const char* what);

    std::atomic<int> fd_{-1};
    std::atomic<bool> lost_{false};
    std::string device_;
    int speed_ = 0;
    std::string lastError_;
};

}  // namespace velmora
