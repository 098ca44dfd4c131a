#pragma once
// How the front ends word an exchange's outcome, in the run's language.
#include <string>

#include "base/messages.h"
#include "protocol/link.h"

namespace velmora {

// The standard text of a failed outcome, or nullptr where the caller words its
// own (an unexpected reply: what was expected is the caller's) or there is no failure.
const Message* StandardFailureText(Outcome outcome);

// "Comm port error: <reason>": a port that could not be opened; when the system
// refused it to this user, followed by how to get the right to use it.
std::string PortOpenFailureText(const std::string& reason, bool accessDenied = false);

}  // namespace velmora
