#pragma once
// The line to a splicer as the link sees it: bytes out, bytes in, a wait that
// blocks until bytes arrive, and whether the far end went away. The serial port
// is one implementation; an in-memory pair (memory_channel.h) connects the
// virtual splicer to the link inside one process.
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

enum class WaitResult {
    Readable,  // bytes are waiting
    TimedOut,  // nothing arrived in time
    PortLost,  // the device went away (hang-up, cable pulled); the channel is now closed
    NotOpen,
};

class ByteChannel {
  public:
    virtual ~ByteChannel() = default;

    virtual bool IsOpen() const = 0;
    // True when the channel closed because the far end went away.
    virtual bool WasLost() const = 0;
    // Lets our own output drain, then closes. Closing twice is harmless.
    virtual void ClosePort() = 0;

    // Throws away bytes that have arrived and not been read (never our own output).
    virtual void DiscardInput() = 0;
    // Throws away bytes that have arrived (they are stale once a request goes
    // out), then writes every byte. Returns the count written, or -1 when the
    // channel is not open or the write failed (LastError()). May return before
    // the bytes have left.
    virtual long SendBytes(std::span<const std::uint8_t> data) = 0;
    // Waits until everything written has left. False when closed or lost.
    virtual bool DrainOutput() = 0;
    // Copies what has arrived into `destination`, at most min(kReadCap, its size)
    // bytes; 0 when nothing is there.
    virtual std::size_t ReadAvailable(std::span<std::uint8_t> destination) = 0;
    // Blocks until bytes are waiting, the far end is lost, `maxWait` passes, or
    // Wake() is called.
    virtual WaitResult WaitReadable(std::chrono::milliseconds maxWait) = 0;
    // Makes a WaitReadable in progress return at once (TimedOut), or the next one
    // when none is: the wake is kept until a wait takes it. Any thread may call it;
    // a cancel or stop wakes the waiter this way rather than it looking in slices.
    virtual void Wake() = 0;

    // While set, a write waiting for room gives up within 100 ms (the user
    // cancelled); cleared for the next exchange.
    virtual void InterruptWrites(bool interrupted) { (void)interrupted; }

    // The line rate in bits per second (0 when it has none).
    virtual int Speed() const = 0;
    virtual std::string LastError() const = 0;
};

}  // namespace velmora
