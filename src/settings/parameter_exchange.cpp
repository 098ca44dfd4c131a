#include "settings/parameter_exchange.h"

#include <algorithm>

#include "app/app_config.h"
#include "protocol/command_catalogue.h"
#include "settings/device_folder.h"

namespace velmora {
namespace {

constexpr std::uint8_t kHandshakeAccepted[] = {kFrameStart, cmd::Handshake, 1, kAccepted, 0x94};

int TimeoutOf(std::uint8_t command) {
    const std::optional<CommandEntry> entry = FindCommand(command);
    return entry ? entry->timeoutMs : 1500;
}

StepResult Succeeded(StatusPane pane = StatusPane::Success) {
    StepResult result;
    result.ok = true;
    result.pane = pane;
    return result;
}

StepResult Failed(Outcome outcome, StatusPane pane = StatusPane::Failure) {
    StepResult result;
    result.outcome = outcome;
    result.pane = pane;
    return result;
}

// The port is closed: say so in a box and in the failure pane.
StepResult PortClosed(Link& link) {
    link.SetStatus(msg::CommDisconnected);
    StepResult result = Failed(Outcome::NotOpen);
    result.boxes.push_back(Say(msg::CommDisconnected));
    return result;
}

// Another exchange is in flight: refuse with a box and leave the panes to it.
StepResult LineInUse() {
    StepResult result = Failed(Outcome::Busy, StatusPane::Unchanged);
    result.boxes.push_back(Say(msg::LineBusy));
    return result;
}

// After an exchange: a port that went away leaves the page disconnected.
void FollowPort(const Link& link, ParameterSession& session) {
    if (link.Port().IsOpen()) return;
    session.state = ConnectionState::Disconnected;
    session.readSinceConnect = {};
}

bool StartsWith(std::span<const std::uint8_t> reply, std::initializer_list<std::uint8_t> head) {
    return reply.size() >= head.size() && std::equal(head.begin(), head.end(), reply.begin());
}

// Names the device folder from the configuration the splicer reports. Nothing is
// reported for this request, so the status text of the handshake stays.
void NameDeviceFolder(Link& link, const Pump& pump) {
    const std::string status = link.CommStatusText;
    const Outcome outcome = link.Exchange(FixedRequest(cmd::ReadConfig), 56,
                                          TimeoutOf(cmd::ReadConfig), false, pump);
    link.CommStatusText = status;
    const bool gathered = outcome != Outcome::NotOpen && outcome != Outcome::Busy &&
                          outcome != Outcome::WriteFailed;
    // The check byte is not tested here: any reply that starts 87 72 names the folder.
    if (!gathered || !StartsWith(link.Reply(), {kFrameStart, cmd::ReadConfig})) return;
    link.DeviceFolder = MakeDeviceFolder(Config().AppDirectory, DeviceNameFromReply(link.Reply()));
}

}  // namespace

bool ParameterSession::GroupWasRead(int group) const {
    const std::optional<GroupWire> wire = WireOfGroup(group);
    return wire && readSinceConnect[static_cast<std::size_t>(wire->record)];
}

StepResult Connect(Link& link, ParameterSession& session, const std::string& device, int speed,
                   const Pump& pump) {
    if (device.empty()) {
        StepResult result = Failed(Outcome::NotOpen, StatusPane::Unchanged);
        result.userError = true;
        result.boxes.push_back(Say(msg::PortError));
        return result;
    }
    if (link.LineBusy()) return LineInUse();
    if (!link.OpenPort(device, speed)) return Failed(Outcome::NotOpen);
    session.readSinceConnect = {};
    const Outcome outcome = link.Exchange(FixedRequest(cmd::Handshake), 5,
                                          TimeoutOf(cmd::Handshake), false, pump);
    switch (outcome) {
        case Outcome::Accepted:
        case Outcome::Rejected:
        case Outcome::Unexpected: break;  // an intact reply: judged below
        case Outcome::Busy: return LineInUse();
        default:
            // Nothing usable arrived: the port stays open and Connect asks again.
            session.state = link.Port().IsOpen() ? ConnectionState::HandshakeUnanswered
                                                 : ConnectionState::Disconnected;
            return Failed(outcome);
    }
    const std::span<const std::uint8_t> reply = link.Reply();
    if (!std::ranges::equal(reply, kHandshakeAccepted)) {
        // Any other intact reply refuses the connection: data error, port closed.
        link.SetStatus(msg::DataError);
        link.Port().ClosePort();
        session.state = ConnectionState::Disconnected;
        return Failed(outcome == Outcome::Accepted ? Outcome::Unexpected : outcome);
    }
    session.state = ConnectionState::Connected;
    NameDeviceFolder(link, pump);
    if (!link.Port().IsOpen()) {
        link.SetStatus(msg::PortLost);
        FollowPort(link, session);
        return Failed(Outcome::PortLost);
    }
    return Succeeded();
}

StepResult Disconnect(Link& link, ParameterSession& session, const Pump& pump) {
    if (!link.Port().IsOpen()) return PortClosed(link);
    if (link.LineBusy()) return LineInUse();
    const Outcome outcome = link.Exchange(FixedRequest(cmd::Disconnect), 5,
                                          TimeoutOf(cmd::Disconnect), false, pump);
    if (outcome == Outcome::Busy) return LineInUse();
    StepResult result;
    if (outcome == Outcome::Accepted && StartsWith(link.Reply(), {kFrameStart, cmd::Disconnect, 1}))
        result = Succeeded();
    else {
        if (outcome == Outcome::Rejected || outcome == Outcome::Accepted ||
            outcome == Outcome::Unexpected)
            link.SetStatus(msg::DataError);
        result = Failed(outcome == Outcome::Accepted ? Outcome::Unexpected : outcome);
    }
    link.Port().ClosePort();
    session.state = ConnectionState::Disconnected;
    session.readSinceConnect = {};
    return result;
}

StepResult ReadGroup(Link& link, ParameterSession& session, int group, const Pump& pump) {
    if (!link.Port().IsOpen()) return PortClosed(link);
    const std::optional<GroupWire> wire = WireOfGroup(group);
    if (!wire) return Failed(Outcome::Unexpected, StatusPane::Unchanged);
    if (link.LineBusy()) return LineInUse();
    const int expected = static_cast<int>(wire->ReadReplyLength());
    const Outcome outcome = link.Exchange(FixedRequest(wire->readCommand), expected,
                                          TimeoutOf(wire->readCommand), false, pump);
    if (outcome == Outcome::Busy) return LineInUse();
    bool& wasRead = session.readSinceConnect[static_cast<std::size_t>(wire->record)];
    // A reply shorter than the record would leave part of it unread: refuse it.
    if (outcome == Outcome::Accepted && link.Reply().size() >= wire->ReadReplyLength() &&
        DecodeGroupReply(group, link.Reply(), session.records)) {
        wasRead = true;
        return Succeeded();
    }
    wasRead = false;
    if (outcome == Outcome::Accepted || outcome == Outcome::Rejected ||
        outcome == Outcome::Unexpected)
        link.SetStatus(msg::DataError);
    FollowPort(link, session);
    return Failed(outcome == Outcome::Accepted ? Outcome::Unexpected : outcome);
}

StepResult CheckWritable(Link& link, const ParameterSession& session, int group) {
    if (!link.Port().IsOpen()) return PortClosed(link);
    if (link.LineBusy()) return LineInUse();
    const std::optional<GroupWire> wire = WireOfGroup(group);
    if (!wire) return Failed(Outcome::Unexpected, StatusPane::Unchanged);
    if (!wire->writeCommand || session.GroupWasRead(group)) return Succeeded(StatusPane::Unchanged);
    StepResult result = Failed(Outcome::Accepted, StatusPane::Unchanged);
    result.userError = true;
    result.boxes.push_back(Say(msg::ReadGroupFirst));
    return result;
}

StepResult WriteGroup(Link& link, ParameterSession& session, int group, const Pump& pump) {
    StepResult gate = CheckWritable(link, session, group);
    if (!gate.ok) return gate;
    const std::optional<GroupWire> wire = WireOfGroup(group);
    if (!wire->writeCommand) return gate;  // the environment: nothing to send
    const std::uint8_t command = *wire->writeCommand;
    const Outcome outcome =
        link.Exchange(WriteRequest(command, EncodeGroupRecord(group, session.records)), 5,
                      TimeoutOf(command), true, pump);
    switch (outcome) {
        case Outcome::Accepted: {
            StepResult result = Succeeded();
            result.boxes.push_back(Say(msg::WriteSucceeded));
            return result;
        }
        case Outcome::Busy: return LineInUse();
        case Outcome::Rejected:
            link.SetStatus(group == group::Heating ? msg::HeaterWriteRefused : msg::WriteRefused);
            break;
        case Outcome::Unexpected: link.SetStatus(msg::DataError); break;
        default: break;  // the link has stored its own text
    }
    FollowPort(link, session);
    return Failed(outcome);
}

void SendDisconnectOnExit(Link& link) {
    if (!link.Port().IsOpen()) return;
    // An exchange that still holds the line can only be waiting further down this
    // thread (workers are stopped before this): abandon it rather than wait for it.
    const std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) link.Cancel();
    link.Port().SendBytes(LayOutFrame(FixedRequest(cmd::Disconnect)));
    link.Port().ClosePort();
}

}  // namespace velmora
