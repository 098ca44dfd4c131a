#pragma once
// The splicer's side of its line, as the virtual splicer's thread uses it: an
// in-memory line (virtual_splicer.cpp) or a pseudo-terminal (pty_line_<platform>.cpp).
#include <memory>
#include <span>
#include <string>

#include "sim/virtual_splicer.h"

namespace velmora::sim {

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

// Opens a pseudo-terminal and sets `path` to the device the program opens;
// nullptr with `error` set on failure (always on a platform without them).
std::unique_ptr<SplicerLine> OpenPtyLine(std::string& path, std::string* error);

}  // namespace velmora::sim
