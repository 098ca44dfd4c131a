#include "settings/parameter_exchange.h"

#include <algorithm>

#include "base/app_config.h"
#include "protocol/command_catalogue.h"
#include "settings/device_folder.h"

namespace velmora {
namespace {

constexpr std::uint8_t kHandshakeAccepted[] = {kFrameStart, cmd::Handshake, 1, kAccepted, 0x94};

StepResult Succeeded(StatusPane pane = StatusPane::Success) {
    StepResult result;
    result.ok = true;
    result.pane = pane;
    return result;
}

StepResult Failed(Outcome outcome, StepProblem problem, StatusPane pane = StatusPane::Failure) {
    StepResult result;
    result.outcome = outcome;
    result.problem = problem;
    result.pane = pane;
    return result;
}

// The port is closed: said in a box and in the failure pane.
StepResult PortClosed() {
    return Failed(Outcome::NotOpen, StepProblem::PortClosed);
}

// Another exchange is in flight: refused with a box, the panes left to it.
StepResult LineInUse() {
    return Failed(Outcome::Busy, StepProblem::Busy, StatusPane::Unchanged);
}

// A failed exchange whose outcome words itself; an intact reply that is not the
// awaited one is a data error.
StepResult ExchangeFailed(const ExchangeResult& exchange) {
    switch (exchange.outcome) {
        case Outcome::Busy:
            return LineInUse();
        case Outcome::Accepted:
        case Outcome::Rejected:
        case Outcome::Unexpected: {
            StepResult result = Failed(
                exchange.outcome == Outcome::Accepted ? Outcome::Unexpected : exchange.outcome,
                StepProblem::DataError);
            return result;
        }
        default: {
            StepResult result = Failed(exchange.outcome, StepProblem::Exchange);
            result.systemReason = exchange.systemReason;
            return result;
        }
    }
}

// A handshake answered by bytes that are no frame of its own: the splicer was
// still sending something else. Silence, a refusal (87 EC) and the handshake's
// own frame are answers, judged as they are.
bool LineWasBusy(const ExchangeResult& handshake) {
    const std::span<const std::uint8_t> reply = handshake.reply;
    if (reply.empty() || handshake.outcome == Outcome::Accepted ||
        handshake.outcome == Outcome::Rejected)
        return false;
    return handshake.outcome == Outcome::BadCheck || handshake.outcome == Outcome::NoAnswer ||
           (handshake.outcome == Outcome::Unexpected &&
            (reply.size() < 2 || reply[0] != kFrameStart || reply[1] != cmd::Handshake));
}

// After an exchange: a port that went away leaves the session disconnected.
void FollowPort(const Link& link, ParameterSession& session) {
    if (link.Port().IsOpen()) return;
    session.state = ConnectionState::Disconnected;
    session.readSinceConnect = {};
}

bool StartsWith(std::span<const std::uint8_t> reply, std::initializer_list<std::uint8_t> head) {
    return reply.size() >= head.size() && std::equal(head.begin(), head.end(), reply.begin());
}

// Names the device folder from the configuration the splicer reports; the
// exchange's outcome, Accepted when the folder and serial number were taken.
Outcome NameDeviceFolder(Link& link, ParameterSession& session, const Pump& pump) {
    const ExchangeResult read = link.Exchange(FixedRequest(cmd::ReadConfig), {pump, {}});
    const bool gathered = read.outcome != Outcome::NotOpen && read.outcome != Outcome::Busy &&
                          read.outcome != Outcome::WriteFailed;
    // The check byte is not tested here: a reply that starts 87 72 names the
    // folder, but only a whole one: a reply cut short holds no name to trust.
    if (!gathered || !StartsWith(read.reply, {kFrameStart, cmd::ReadConfig}) ||
        read.reply.size() < kParamDataOffset + kDeviceConfigSize + 1)
        return read.outcome == Outcome::Accepted ? Outcome::Unexpected : read.outcome;
    session.DeviceFolder = MakeDeviceFolder(Config().AppDirectory, DeviceNameFromReply(read.reply));
    session.SerialNumber = SerialNumberFromReply(read.reply);
    return Outcome::Accepted;
}

}  // namespace

bool ParameterSession::RecordWasRead(ParamRecord record) const {
    return readSinceConnect.at(static_cast<std::size_t>(record));
}

StepResult Connect(Link& link, ParameterSession& session, const std::string& device, int speed,
                   const Pump& pump) {
    if (device.empty()) {
        StepResult result =
            Failed(Outcome::NotOpen, StepProblem::PortNotChosen, StatusPane::Unchanged);
        result.userError = true;
        return result;
    }
    if (link.LineBusy()) return LineInUse();
    OpenFailure failure;
    if (!link.OpenPort(device, speed, failure)) {
        StepResult result =
            Failed(Outcome::NotOpen,
                   failure.accessDenied ? StepProblem::AccessDenied : StepProblem::OpenFailed);
        result.systemReason = failure.reason;
        return result;
    }
    session.readSinceConnect = {};
    std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) return LineInUse();
    // The handshake goes out at once: a line with nothing on it, the usual case,
    // needs no wait. Whatever the splicer may still be sending (the rest of a
    // download an earlier run left) shows as a reply that is not a whole frame of
    // the handshake; only then is the line drained until quiet and the handshake
    // repeated, so that those bytes are never taken for its answer.
    ExchangeResult handshake = link.Exchange(*claim, FixedRequest(cmd::Handshake), {pump, {}});
    if (LineWasBusy(handshake)) {
        link.DiscardUntilQuiet(*claim, kSettleQuiet, kSettleLimit, {}, pump);
        handshake = link.Exchange(*claim, FixedRequest(cmd::Handshake), {pump, {}});
    }
    claim.reset();
    switch (handshake.outcome) {
        case Outcome::Accepted:
        case Outcome::Rejected:
        case Outcome::Unexpected:
            break;  // an intact reply: judged below
        case Outcome::Busy:
            return LineInUse();
        default:
            // Nothing usable arrived: the port stays open and Connect asks again.
            session.state = link.Port().IsOpen() ? ConnectionState::HandshakeUnanswered
                                                 : ConnectionState::Disconnected;
            return ExchangeFailed(handshake);
    }
    if (!std::ranges::equal(handshake.reply, kHandshakeAccepted)) {
        // Any other intact reply refuses the connection: data error, port closed.
        link.Port().ClosePort();
        session.state = ConnectionState::Disconnected;
        return ExchangeFailed(handshake);
    }
    session.state = ConnectionState::Connected;
    const Outcome named = NameDeviceFolder(link, session, pump);
    if (!link.Port().IsOpen()) {
        FollowPort(link, session);
        return Failed(Outcome::PortLost, StepProblem::PortLost);
    }
    if (named != Outcome::Accepted) return Failed(named, StepProblem::ConfigUnread);
    return Succeeded();
}

StepResult Disconnect(Link& link, ParameterSession& session, const Pump& pump) {
    if (!link.Port().IsOpen()) return PortClosed();
    if (link.LineBusy()) return LineInUse();
    const ExchangeResult goodbye = link.Exchange(FixedRequest(cmd::Disconnect), {pump, {}});
    if (goodbye.outcome == Outcome::Busy) return LineInUse();
    const StepResult result = goodbye.outcome == Outcome::Accepted &&
                                      StartsWith(goodbye.reply, {kFrameStart, cmd::Disconnect, 1})
                                  ? Succeeded()
                                  : ExchangeFailed(goodbye);
    link.Port().ClosePort();
    session.state = ConnectionState::Disconnected;
    session.readSinceConnect = {};
    return result;
}

StepResult ReadRecord(Link& link, ParameterSession& session, ParamRecord record, const Pump& pump) {
    if (!link.Port().IsOpen()) return PortClosed();
    if (link.LineBusy()) return LineInUse();
    const RecordInfo& info = InfoOf(record);
    const ExchangeResult read = link.Exchange(FixedRequest(info.readCommand), {pump, {}});
    if (read.outcome == Outcome::Busy) return LineInUse();
    bool& wasRead = session.readSinceConnect.at(static_cast<std::size_t>(record));
    // A reply shorter than the record would leave part of it unread: refuse it.
    if (read.outcome == Outcome::Accepted && read.reply.size() >= info.ReadReplyLength() &&
        DecodeRecordReply(record, read.reply, session.records)) {
        wasRead = true;
        StepResult result = Succeeded();
        result.record = record;
        return result;
    }
    wasRead = false;
    FollowPort(link, session);
    StepResult result = ExchangeFailed(read);
    result.record = record;
    return result;
}

StepResult ReadRecords(Link& link, ParameterSession& session, std::span<const ParamRecord> records,
                       const Pump& pump) {
    StepResult result = Succeeded();
    for (const ParamRecord record : records) {
        result = ReadRecord(link, session, record, pump);
        if (!result.ok) break;
    }
    return result;
}

StepResult CheckWritable(Link& link, const ParameterSession& session, ParamRecord record) {
    if (!link.Port().IsOpen()) return PortClosed();
    if (link.LineBusy()) return LineInUse();
    if (!InfoOf(record).writeCommand || session.RecordWasRead(record))
        return Succeeded(StatusPane::Unchanged);
    StepResult result =
        Failed(Outcome::Accepted, StepProblem::ReadGroupFirst, StatusPane::Unchanged);
    result.userError = true;
    result.record = record;
    return result;
}

StepResult WriteRecord(Link& link, ParameterSession& session, ParamRecord record,
                       const Pump& pump) {
    StepResult gate = CheckWritable(link, session, record);
    if (!gate.ok) return gate;
    const std::optional<std::uint8_t> command = InfoOf(record).writeCommand;
    if (!command) return gate;  // the environment: nothing to send
    const ExchangeResult write =
        link.Exchange(WriteRequest(*command, EncodeRecord(record, session.records)), {pump, {}});
    StepResult result;
    switch (write.outcome) {
        case Outcome::Accepted:
            result = Succeeded();
            result.written = true;
            break;
        case Outcome::Busy:
            return LineInUse();
        case Outcome::Rejected:
            result = Failed(Outcome::Rejected, StepProblem::WriteRefused);
            break;
        case Outcome::NotOpen:
        case Outcome::WriteFailed:
        case Outcome::PortLost:
            result = ExchangeFailed(write);
            break;
        case Outcome::NoAnswer:
        case Outcome::BadCheck:
        case Outcome::Unexpected:
        case Outcome::Cancelled:
            // The record went out; what came back (or nothing) does not say whether
            // the splicer took it.
            result = Failed(write.outcome, StepProblem::WriteUnconfirmed);
            break;
    }
    result.record = record;
    FollowPort(link, session);
    return result;
}

void SendDisconnectOnExit(Link& link, ParameterSession& session) {
    session.state = ConnectionState::Disconnected;
    session.readSinceConnect = {};
    if (!link.Port().IsOpen()) return;
    // An exchange that still holds the line can only be waiting further down this
    // thread (workers are stopped before this): abandon it rather than wait for it.
    const std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) link.Cancel();
    link.Port().SendBytes(LayOutFrame(FixedRequest(cmd::Disconnect)));
    link.Port().ClosePort();
}

}  // namespace velmora
