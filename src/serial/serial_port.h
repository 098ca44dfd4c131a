#pragma once
// The one serial port that every page shares: open, close, write a block,
// fetch what has arrived, and wait for more without spinning.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "serial/byte_channel.h"

namespace velmora {

// A piece that cannot be written within this time fails the write.
inline constexpr std::chrono::milliseconds kWriteTimeout{50000};

// The serial port over the platform's own interface (serial_port_<platform>.cpp).
class SerialPort final : public ByteChannel {
  public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `device` at `bitsPerSecond`, 8N1, raw, no flow control, RTS off,
    // exclusively. If the port is already open it stays as it is and this
    // returns true. On failure LastError() says what the system reported.
    bool OpenPort(const std::string& device, int bitsPerSecond);

    // Lets our own output drain, then closes; closing twice is harmless.
    void ClosePort() override;

    // Writes in pieces of 2048. Returns once the driver has taken the bytes,
    // which may still be leaving.
    long SendBytes(std::span<const std::uint8_t> data) override;
    bool DrainOutput() override;
    std::size_t ReadAvailable(std::span<std::uint8_t> destination) override;
    WaitResult WaitReadable(std::chrono::milliseconds maxWait) override;
    void DiscardInput() override;
    void Wake() override;
    void InterruptWrites(bool interrupted) override { interrupted_ = interrupted; }

    bool IsOpen() const override { return fd_.load() >= 0 || handle_.load() != nullptr; }
    // True when the port closed because the device went away, until the next open.
    bool WasLost() const override { return lost_.load(); }
    const std::string& Device() const { return device_; }
    int Speed() const override { return speed_; }
    std::string LastError() const override { return lastError_; }
    // True when the last open failed because the system refused the device to
    // this user (EACCES, EPERM), not because it is missing or in use.
    bool AccessDenied() const { return accessDenied_; }
    // The speed the driver reports for the open port, or -1.
    int ActualSpeed() const;

  private:
    bool TakeLock(const std::string& device, int& holder);
    void ReleaseLock();
    bool WriteAll(const std::uint8_t* data, std::size_t length);
    void MarkLost();
    void Fail(const char* what);

    std::atomic<int> fd_{-1};
    // POSIX only: the pipe Wake() writes to and WaitReadable polls beside the port
    // (made once, with the object; -1 when it could not be made).
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> lost_{false};
    std::atomic<bool> interrupted_{false};
    std::string device_;
    std::filesystem::path lockFile_;  // the lock file this port holds, if any
    int speed_ = 0;
    std::string lastError_;
    bool accessDenied_ = false;
    // Windows only (serial_port_win32.cpp): the port's handle, the events its
    // overlapped reads and writes complete on, the event Wake() sets, and a byte a
    // wait took in before it is read (-1: none).
    std::atomic<void*> handle_{nullptr};
    void* readEvent_ = nullptr;
    void* writeEvent_ = nullptr;
    void* wakeEvent_ = nullptr;
    std::atomic<int> peeked_{-1};
};

}  // namespace velmora
