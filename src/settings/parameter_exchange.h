#pragma once
// The Setting page's exchanges with the splicer: connect, disconnect, read a
// group, write a group, and the goodbye on exit. The page and the command-line
// tool both call these; they only present the result (status pane, message
// boxes) and ask the user where a question is due.
#include <array>
#include <string>
#include <vector>

#include "app/messages.h"
#include "protocol/link.h"
#include "settings/parameter_records.h"

namespace velmora {

namespace msg {
inline constexpr Message WriteQuestion{"是否写入参数？", "Whether in parameter"};
inline constexpr Message WriteSucceeded{"参数写入成功", "Parameter in success"};
inline constexpr Message WriteRefused{"写参数错误", "write parameters error"};
inline constexpr Message HeaterWriteRefused{"写参数错误", "write Heating Parameters error"};
// Our own: a write of a group whose values were not read from this splicer.
inline constexpr Message ReadGroupFirst{"请先读取该组参数，再写入",
                                        "Please read this group before writing it"};
}  // namespace msg

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

    bool GroupWasRead(int group) const;
};

enum class StatusPane { Unchanged, Success, Failure };

// What a step leaves for the page to show.
struct StepResult {
    bool ok = false;
    // The exchange's outcome where one ran (Accepted otherwise when ok).
    Outcome outcome = Outcome::Accepted;
    // Refused before anything reached the line through the user's doing (no
    // port chosen, a group not read): not a failure of the splicer or the line.
    bool userError = false;
    StatusPane pane = StatusPane::Unchanged;  // the failure pane shows CommStatusText
    std::vector<std::string> boxes;           // OK message boxes, caption "Info", in order
};

// Opens `device` at `speed` (an open port is kept as it is), shakes hands, and on
// acceptance reads the device configuration to set link.DeviceFolder under the
// run's AppDirectory. An empty device means nothing was chosen.
StepResult Connect(Link& link, ParameterSession& session, const std::string& device, int speed,
                   const Pump& pump = {});

// Asks the splicer to let go, then closes the port whatever it answered.
StepResult Disconnect(Link& link, ParameterSession& session, const Pump& pump = {});

// Reads `group` into its record (the caller then shows it with ShowGroup).
StepResult ReadGroup(Link& link, ParameterSession& session, int group, const Pump& pump = {});

// Whether Accept may go on to ValidateAndEncode: the port is open, the line is
// free, and the group's record holds a successful read since the connection.
StepResult CheckWritable(Link& link, const ParameterSession& session, int group);

// Sends the group's whole record (after ValidateAndEncode and the user's Yes).
// The environment group sends nothing and succeeds with nothing to show.
StepResult WriteGroup(Link& link, ParameterSession& session, int group, const Pump& pump = {});

// On exit: if the port is open, sends the disconnection request without waiting
// and closes the port. An exchange still waiting further down this thread is cancelled.
void SendDisconnectOnExit(Link& link);

}  // namespace velmora
