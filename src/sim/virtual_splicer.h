#pragma once
// A splicer that lives on a pseudo-terminal, where the program opens its port
// like a real device and talks to it through the same serial code, or on an
// in-memory line, whose program end is a ByteChannel. Either way it reads
// request frames, answers them as a splicer would, paces both directions at the
// line rate, and misbehaves on request.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "protocol/link.h"
#include "sim/fault.h"

namespace velmora {
class ByteChannel;
struct MemoryLine;
}  // namespace velmora

namespace velmora::sim {

struct Request {
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;
    // The fault in force for this request (already counted down), so that a handler
    // can stay out of a mode that a spoiled reply would never have started.
    Fault fault{};
};

// What a command answers: the bytes to send (empty to stay silent).
using Handler = std::function<std::vector<std::uint8_t>(const Request&)>;

// Bytes that follow a command outside any frame (a firmware file), taken in raw
// and paced like any other intake. Started by a handler; frames are read again
// once it ends.
struct RawIntake {
    // Gets the bytes as they are taken in.
    std::function<void(std::span<const std::uint8_t>)> take;
    // Called once at the end: the line was quiet, or the intake dropped it (`hungUp`).
    std::function<void(bool hungUp)> ended;
    // The intake ends once no byte has come for this long...
    std::chrono::milliseconds quiet{2000};
    // ...or, before the first byte, for this long.
    std::chrono::milliseconds firstByteWait{5000};
    // Drops the line once this many bytes have been taken (0: at once); never when negative.
    long long hangUpAfter = -1;
};

struct SplicerOptions {
    int baud = 115200;
    bool fast = false;      // no pacing: bytes go as fast as the line takes them
    std::string linkPath;   // also make this symbolic link to the port (pseudo-terminal only)
    bool inMemory = false;  // an in-memory line (OpenProgramChannel) instead of a pseudo-terminal
};

// The splicer's side of its line (sim/splicer_line.h).
class SplicerLine;

class VirtualSplicer {
  public:
    using Clock = std::chrono::steady_clock;

    // How far the splicer's own pacing fell behind its line's schedule in one
    // direction (its thread woke late or was kept from running), for measurements
    // that rely on the line rate. Waiting for the program is not counted.
    struct PaceLag {
        // Time the line lost for good: the schedule had to begin afresh, from
        // the moment the late thread got on with it, while bytes were at hand.
        Clock::duration lost{};
        // How late the last paced step woke after its time: the end of a transfer
        // bears it whole, any other step's lateness is caught up by the next.
        Clock::duration lastLate{};
        Clock::duration worstLate{};
        // How much later than the line the last byte of the direction moved.
        Clock::duration Behind() const { return lost + lastLate; }
    };
    // The reply most recently sent whole: when its first byte began on the line,
    // when its last byte had been written, and how many bytes it held.
    struct ReplyTimeline {
        Clock::time_point start{};
        Clock::time_point end{};
        std::size_t bytes = 0;
    };

    explicit VirtualSplicer(SplicerOptions options = {});
    ~VirtualSplicer();
    VirtualSplicer(const VirtualSplicer&) = delete;
    VirtualSplicer& operator=(const VirtualSplicer&) = delete;

    // Opens the line and starts answering. False with `error` set on failure.
    bool Start(std::string* error = nullptr);
    // Stops answering and closes the line: a program still on it sees a hang-up.
    void Stop();

    // The device the program opens, e.g. /dev/pts/3; for an in-memory line a
    // name no device has, e.g. "virtual:splicer-1", unique to each line.
    const std::string& PortPath() const { return portPath_; }
    bool InMemory() const { return options_.inMemory; }
    // A new program end of the in-memory line (nullptr on a pseudo-terminal or
    // before Start). The line outlives the program ends, as a port does its opens;
    // one opened once the line is down (a hang-up fault, Stop) is lost at once.
    std::unique_ptr<ByteChannel> OpenProgramChannel(int speed) const;

    // Handlers may be set before Start or while running; they run on the splicer's thread.
    void SetHandler(std::uint8_t command, Handler handler);
    void SetFault(std::uint8_t command, Fault fault);
    void ClearFaults();

    // Called by a handler: the bytes after this request go to `intake` instead of
    // the frame reader. A hang-up fault on this request is then left to the intake
    // (RawIntake::hangUpAfter) rather than cutting the reply.
    void StartRawIntake(RawIntake intake);

    // Every intact request frame received so far, whole (start to check byte).
    std::vector<std::vector<std::uint8_t>> ReceivedFrames() const;
    // Waits until at least `count` frames have arrived; false if `timeout` passed first.
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    // Total bytes taken in from the line, frames or not.
    std::size_t BytesReceived() const;
    // Waits until at least `count` bytes have been taken in; false if `timeout` passed first.
    bool WaitForBytes(std::size_t count, std::chrono::milliseconds timeout) const;

    // True once a hang-up fault has dropped the line.
    bool HungUp() const;
    // When the last byte of the last reply went onto the line.
    Clock::time_point LastReplyEnd() const;
    ReplyTimeline LastReplyTimeline() const;
    // The lag of the replies sent and of the bytes taken in since the last reset.
    PaceLag SendLag() const;
    PaceLag IntakeLag() const;
    void ResetPaceLag();

  private:
    void Run();
    void Dispatch(const Request& request, std::vector<std::uint8_t> reply);
    bool SendPaced(std::span<const std::uint8_t> bytes, std::chrono::milliseconds gap = {},
                   Clock::time_point* start = nullptr);
    // Notes a paced step that was due at `due` and woke at `woke`, after the
    // schedule lost `lost` by the splicer's own doing.
    void NoteLag(PaceLag& lag, Clock::time_point due, Clock::time_point woke, Clock::duration lost);
    void TakeFrames();
    Fault TakeFault(std::uint8_t command);
    void TakeRaw(std::span<const std::uint8_t> bytes);
    void EndRawIntake(bool hungUp);
    Clock::time_point RawIntakeDeadline() const;  // time_point::max() without an intake
    void HangUpLine();
    Clock::duration LineTime(std::size_t bytes) const;
    std::size_t PaceChunk() const;

    SplicerOptions options_;
    std::string portPath_;
    std::unique_ptr<SplicerLine> line_;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;  // bytes or frames
    std::map<std::uint8_t, Handler> handlers_;
    std::map<std::uint8_t, Fault> faults_;
    std::vector<std::vector<std::uint8_t>> frames_;
    std::size_t bytesReceived_ = 0;
    bool hungUp_ = false;
    Clock::time_point lastReplyEnd_{};
    ReplyTimeline lastReply_{};
    PaceLag sendLag_{};
    PaceLag intakeLag_{};
    std::shared_ptr<MemoryLine> memoryLine_;  // what program ends join; kept after Stop

    // Owned by the splicer's thread.
    bool dropped_ = false;  // this run dropped the line
    std::vector<std::uint8_t> intake_;
    Clock::time_point inLineFree_{};
    bool lastReadFull_ = false;  // the last paced read took a whole step
    Clock::time_point outLineFree_{};
    std::optional<RawIntake> raw_;
    long long rawTaken_ = 0;
    Clock::time_point rawLastByte_{};
};

// A link opener that opens `splicer`'s own line for its port name (an in-memory
// splicer has no device file) and the serial port for any other device.
// `splicer` may change or be empty while the opener lives; it is looked up at each open.
ChannelOpener OpenerFor(const std::unique_ptr<VirtualSplicer>& splicer);

// The replies every splicer gives: the connection handshake and the disconnection.
void InstallBaseCommands(VirtualSplicer& splicer);

}  // namespace velmora::sim
