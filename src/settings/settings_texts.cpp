#include "settings/settings_texts.h"

#include "protocol/outcome_texts.h"

namespace velmora {
namespace {

std::string OutcomeText(Outcome outcome) {
    // An intact reply that is not the one awaited has no text of its own.
    const Message* text = StandardFailureText(outcome);
    return Say(text ? *text : msg::DataError);
}

}  // namespace

std::string StepStatusText(const StepResult& result) {
    switch (result.problem) {
        case StepProblem::None:
        case StepProblem::PortNotChosen:
        case StepProblem::ReadGroupFirst:
            return {};
        case StepProblem::OpenFailed:
            return PortOpenFailureText(result.systemReason);
        case StepProblem::AccessDenied:
            return PortOpenFailureText(result.systemReason, true);
        case StepProblem::PortClosed:
            return Say(msg::CommDisconnected);
        case StepProblem::Busy:
            return Say(msg::LineBusy);
        case StepProblem::DataError:
            return Say(msg::DataError);
        case StepProblem::PortLost:
            return Say(msg::PortLost);
        case StepProblem::WriteRefused:
            return Say(result.record == ParamRecord::Heater ? msg::HeaterWriteRefused
                                                            : msg::WriteRefused);
        case StepProblem::WriteUnconfirmed:
            return Say(msg::WriteUnconfirmed, {OutcomeText(result.outcome)});
        case StepProblem::ConfigUnread:
            return Say(msg::ConfigUnread, {OutcomeText(result.outcome)});
        case StepProblem::Exchange:
            return OutcomeText(result.outcome);
    }
    return {};
}

std::vector<std::string> StepBoxTexts(const StepResult& result) {
    switch (result.problem) {
        case StepProblem::PortNotChosen:
            return {Say(msg::PortError)};
        case StepProblem::PortClosed:
            return {Say(msg::CommDisconnected)};
        case StepProblem::Busy:
            return {Say(msg::LineBusy)};
        case StepProblem::ReadGroupFirst:
            return {Say(msg::ReadGroupFirst)};
        // What to do next does not fit the status pane alone.
        case StepProblem::WriteUnconfirmed:
        case StepProblem::ConfigUnread:
            return {StepStatusText(result)};
        // The fix is too long for the status pane alone.
        case StepProblem::AccessDenied:
            return {StepStatusText(result)};
        default:
            break;
    }
    if (result.written) return {Say(msg::WriteSucceeded)};
    return {};
}

}  // namespace velmora
