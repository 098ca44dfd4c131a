#pragma once
// The Setting page's exchanges with the splicer: connect, disconnect, read a
// group, write a group, and the goodbye on exit. The page and the command-line
// tool both call these; they only present the result (status pane, message
// boxes) and ask the user where a question is due.
#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/link.h"
#include "settings/parameter_records.h"

namespace velmora {

// When the first handshake was answered by something else still on the line, the
// line is drained until it has been quiet this long before the handshake goes again...
inline constexpr std::chrono::milliseconds kSettleQuiet{100};
// ...but never longer than the longest stream a splicer sends (a record download).
inline constexpr std::chrono::milliseconds kSettleLimit{45000};

enum class ConnectionState {
    Disconnected,         // port closed
    Connected,            // handshake accepted
    HandshakeUnanswered,  // port open, the handshake got no intact reply; Connect repeats it
};

// The page's records and what is known about them.
struct ParameterSession {
    ParameterRecords records;
    ConnectionState state = ConnectionState::Disconnected;
    // Per record (splice, heater, environment, device configuration): filled by
    // the latest read of it since the connection, and that read succeeded.
    std::array<bool, 4> readSinceConnect{};
    // Folder of the connected splicer's files (FS/<device name> under the working
    // directory); empty until the first connection, kept after a disconnection.
    std::filesystem::path DeviceFolder;
    // The serial number the splicer reported with it.
    std::string SerialNumber;

    bool RecordWasRead(ParamRecord record) const;
};

enum class StatusPane { Unchanged, Success, Failure };

// Why a step failed, beyond its exchange's outcome.
enum class StepProblem {
    None,
    PortNotChosen,  // Connect without a port
    OpenFailed,     // the port could not be opened (systemReason says why)
    AccessDenied,   // the system refused the port to this user (systemReason too)
    PortClosed,     // the port is not open
    Busy,           // another exchange holds the line
    Exchange,       // the exchange failed: its outcome says how
    DataError,      // an intact reply that is not the one awaited
    PortLost,       // the device went away
    WriteRefused,   // the splicer refused a parameter write
    // The write went out but its acknowledgement was lost or garbled: the splicer
    // may have taken the values.
    WriteUnconfirmed,
    ReadGroupFirst,  // a write of a record not read since the connection
    // The handshake was accepted but the configuration that names the splicer (its
    // serial number, its folder) could not be read; the outcome says how it failed.
    ConfigUnread,
};

// What a step leaves for the page (or the command-line tool) to show.
struct StepResult {
    bool ok = false;
    // The exchange's outcome where one ran (Accepted otherwise when ok).
    Outcome outcome = Outcome::Accepted;
    StepProblem problem = StepProblem::None;
    // Refused before anything reached the line through the user's doing (no
    // port chosen, a group not read): not a failure of the splicer or the line.
    bool userError = false;
    StatusPane pane = StatusPane::Unchanged;
    std::optional<ParamRecord> record;  // the record a read or write was about
    bool written = false;               // a write was accepted: the user is told so
    std::string systemReason;           // what the system reported, where it did
};

// Opens `device` at `speed` (an open port is kept as it is), shakes hands, and on
// acceptance reads the device configuration to set session.DeviceFolder under the
// run's AppDirectory. An empty device means nothing was chosen. When the handshake
// is accepted but the configuration cannot be read, the session is connected and
// the step fails with ConfigUnread.
StepResult Connect(Link& link, ParameterSession& session, const std::string& device, int speed,
                   const Pump& pump = {});

// Asks the splicer to let go, then closes the port whatever it answered.
StepResult Disconnect(Link& link, ParameterSession& session, const Pump& pump = {});

// Reads the record from the splicer (the caller then shows its groups with ShowGroup).
StepResult ReadRecord(Link& link, ParameterSession& session, ParamRecord record,
                      const Pump& pump = {});
// Reads each record in turn; the first failure ends it and is returned.
StepResult ReadRecords(Link& link, ParameterSession& session, std::span<const ParamRecord> records,
                       const Pump& pump = {});

// Whether Accept may go on to ValidateAndEncode: the port is open, the line is
// free, and the record holds a successful read since the connection.
StepResult CheckWritable(Link& link, const ParameterSession& session, ParamRecord record);

// Sends the whole record (after ValidateAndEncode and the user's Yes). The
// environment sends nothing and succeeds with nothing to show.
StepResult WriteRecord(Link& link, ParameterSession& session, ParamRecord record,
                       const Pump& pump = {});

// On exit: if the port is open, sends the disconnection request without waiting
// and closes the port. An exchange still waiting further down this thread is
// cancelled. The window's close and velmora-cli's end both say goodbye here.
void SendDisconnectOnExit(Link& link, ParameterSession& session);

}  // namespace velmora
