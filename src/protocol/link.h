#pragma once
// The request/response machinery all pages share: the port, the next request,
// the receive buffer and the text of the last failure, with one exchange at a time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "app/messages.h"
#include "protocol/frame.h"
#include "serial/serial_port.h"

namespace velmora {

// Called between the passes of a wait so that a window can keep painting.
using Pump = std::function<void()>;
// Tells from the bytes gathered so far whether a reply is complete.
using ReplyComplete = std::function<bool(std::span<const std::uint8_t>)>;

inline constexpr std::size_t kReceiveBufferSize = 200000;
// Longest a wait blocks on the port before it pumps and looks at the clock again.
inline constexpr std::chrono::milliseconds kWaitSlice{10};

enum class Outcome {
    Accepted,
    NoAnswer,     // nothing arrived in time
    BadCheck,     // the reply's last byte is not its check byte
    Rejected,     // 0xEC in the command position
    Unexpected,   // intact, but not the reply to this request
    NotOpen,      // the port is closed
    PortLost,     // the device went away during the exchange
    Busy,         // another exchange is in flight; nothing was sent
    WriteFailed,  // the request could not be written
    Cancelled,    // the program is closing
};

// The text a failure stores in CommStatusText, or nullptr where the page
// chooses its own (a rejection) or keeps the text it has (an unexpected reply).
const Message* StandardFailureText(Outcome outcome);

class Link;

// Proof of owning the line. While one exists no other exchange can start; it is
// held for one request and reply, or for a whole download or firmware transfer.
class LineClaim {
public:
    LineClaim(LineClaim&& other) noexcept : link_(std::exchange(other.link_, nullptr)) {}
    LineClaim& operator=(LineClaim&&) = delete;
    ~LineClaim();

private:
    friend class Link;
    explicit LineClaim(Link* link) : link_(link) {}
    Link* link_;
};

class Link {
public:
    Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    SerialPort& Port() { return port_; }
    const SerialPort& Port() const { return port_; }

    // Opens the port; on failure CommStatusText says "Comm port error" followed by
    // the system's reason, so the user knows what to fix.
    bool OpenPort(const std::string& device, int speed);

    // The line for this caller alone, or nullopt while another exchange runs.
    std::optional<LineClaim> ClaimLine();
    bool LineBusy() const { return claimed_.load(); }

    // Makes a running wait return early (the program is closing). Cleared by the next claim.
    void Cancel() { cancelled_ = true; }
    bool CancelRequested() const { return cancelled_.load(); }

    // The next request, filled by a page before SendFrame.
    CommandFrame& Frame() { return frame_; }

    // Discards what has arrived and writes Frame(). False when the port is
    // closed, the frame is malformed, or the write failed.
    bool SendFrame(const LineClaim&);

    // Gathers into ReceiveBuffer until ReplyLength bytes (at least one) have
    // arrived, the time-out passes, or the port is lost. ReplyLength is the count
    // expected on entry and the count gathered on return. Calls `pump` between
    // passes and blocks on the port in between, never spinning. A reply whose
    // length is found otherwise gives its own `complete` rule instead of ReplyLength.
    bool ReceiveReply(const LineClaim&, int timeoutMs, const Pump& pump = {},
                      const ReplyComplete& complete = {});

    // Low 8 bits of the sum of the first ReplyLength - 1 gathered bytes.
    std::uint8_t ReplyChecksum() const;

    // One whole exchange: claim the line, send `request`, gather `expected`
    // bytes within `timeoutMs`, judge the reply. A failure with a standard text
    // stores it in CommStatusText.
    Outcome Exchange(const CommandFrame& request, int expected, int timeoutMs, bool acknowledgement,
                     const Pump& pump = {});

    // The bytes of the last receive.
    std::span<const std::uint8_t> Reply() const {
        return {receiveBuffer_.get(), static_cast<std::size_t>(std::max(0, ReplyLength))};
    }
    std::span<std::uint8_t> ReceiveBuffer() { return {receiveBuffer_.get(), kReceiveBufferSize}; }

    int ReplyLength = 0;
    std::string CommStatusText;
    // Folder of the connected splicer's files (FS/<device name> under the working
    // directory); empty until the first connection, kept after a disconnection.
    std::filesystem::path DeviceFolder;

    void SetStatus(const Message& message) { CommStatusText = Say(message); }

private:
    friend class LineClaim;
    void Release() { claimed_ = false; }

    SerialPort port_;
    CommandFrame frame_;
    std::unique_ptr<std::uint8_t[]> receiveBuffer_;
    std::atomic<bool> claimed_{false};
    std::atomic<bool> cancelled_{false};
};

}  // namespace velmora
