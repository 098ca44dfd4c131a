#pragma once
// Ways the virtual splicer can misbehave, per command, so that every failure
// path of the program can be driven on purpose.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::sim {

enum class FaultKind {
    None,
    Silent,     // answer nothing
    Delay,      // answer after `arg` ms
    Trickle,    // answer byte by byte, `arg` ms apart (default 2)
    BadCheck,   // corrupt the check byte
    Reject,     // 0xEC in the command position, check byte correct
    WrongEcho,  // echo another command, check byte correct
    Short,      // send only the first `arg` bytes (default: half)
    HangUp,     // send the first `arg` bytes (default none), then drop the line
    Junk,       // send `arg` bytes of noise (default 3) before the reply
    Twice,      // send the reply twice
    LateTail,   // send all but the last `arg` bytes (default 4), the rest 20 ms later
};

struct Fault {
    FaultKind kind = FaultKind::None;
    int arg = 0;
    // How many requests it applies to; -1 for all of them.
    int times = -1;
};

struct CommandFault {
    std::uint8_t command;
    Fault fault;
};

// Parses "CMD:KIND[:ARG][xTIMES]" with CMD in hexadecimal, e.g. "60:silent",
// "6a:delay:2000", "68:reject x1". Returns nullopt and sets `error` otherwise.
std::optional<CommandFault> ParseFault(std::string_view text, std::string* error);

std::string_view FaultKindName(FaultKind kind);

// Applies a fault that changes the reply's bytes (BadCheck, Reject, WrongEcho, Short).
// Others leave the bytes as they are; they act on timing or the line.
std::vector<std::uint8_t> ApplyToReply(const Fault& fault, std::vector<std::uint8_t> reply);

}  // namespace velmora::sim
