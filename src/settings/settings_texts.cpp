#include "settings/settings_texts.h"

#include "protocol/outcome_texts.h"

namespace velmora {

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
            return Say(result.group == group::Heating ? msg::HeaterWriteRefused
                                                      : msg::WriteRefused);
        case StepProblem::Exchange: {
            const Message* text = StandardFailureText(result.outcome);
            return text ? Say(*text) : std::string();
        }
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
