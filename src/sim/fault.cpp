#include "sim/fault.h"

#include <array>
#include <charconv>

#include "sim/splicer_frames.h"

namespace velmora::sim {
namespace {

struct KindName {
    FaultKind kind;
    std::string_view name;
};
constexpr std::array<KindName, 12> kKinds{{
    {FaultKind::None, "none"},
    {FaultKind::Silent, "silent"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Trickle, "trickle"},
    {FaultKind::BadCheck, "badcheck"},
    {FaultKind::Reject, "reject"},
    {FaultKind::WrongEcho, "wrongecho"},
    {FaultKind::Short, "short"},
    {FaultKind::HangUp, "hangup"},
    {FaultKind::Junk, "junk"},
    {FaultKind::Twice, "twice"},
    {FaultKind::LateTail, "latetail"},
}};

bool ParseInt(std::string_view s, int base, int* out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out, base);
    return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

std::string_view FaultKindName(FaultKind kind) {
    for (const auto& k : kKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

std::optional<CommandFault> ParseFault(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<CommandFault> {
        if (error) *error = "bad fault \"" + std::string(text) + "\": " + why;
        return std::nullopt;
    };
    CommandFault result{};
    std::string_view rest = text;
    if (size_t x = rest.find('x'); x != std::string_view::npos && x > 0 && rest.find(':') < x) {
        std::string_view times = rest.substr(x + 1);
        rest = rest.substr(0, x);
        while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
        if (!ParseInt(times, 10, &result.fault.times) || result.fault.times < 1)
            return fail("the count after 'x' must be a positive number");
    }
    size_t c1 = rest.find(':');
    if (c1 == std::string_view::npos) return fail("expected CMD:KIND");
    int command = 0;
    if (!ParseInt(rest.substr(0, c1), 16, &command) || command < 0 || command > 0xFF)
        return fail("the command must be a hexadecimal byte");
    result.command = static_cast<std::uint8_t>(command);
    std::string_view kindText = rest.substr(c1 + 1);
    std::string_view argText;
    if (size_t c2 = kindText.find(':'); c2 != std::string_view::npos) {
        argText = kindText.substr(c2 + 1);
        kindText = kindText.substr(0, c2);
    }
    bool known = false;
    for (const auto& k : kKinds) {
        if (k.name == kindText) {
            result.fault.kind = k.kind;
            known = true;
        }
    }
    if (!known) return fail("unknown kind");
    if (!argText.empty() && (!ParseInt(argText, 10, &result.fault.arg) || result.fault.arg < 0))
        return fail("the argument must be a number");
    return result;
}

std::vector<std::uint8_t> ApplyToReply(const Fault& fault, std::vector<std::uint8_t> reply) {
    if (reply.empty()) return reply;
    switch (fault.kind) {
        case FaultKind::BadCheck:
            reply.back() = static_cast<std::uint8_t>(reply.back() ^ 0x5A);
            break;
        case FaultKind::Reject:
            if (reply.size() >= 2) reply[1] = kRefusedByte;
            SealFrame(reply);
            break;
        case FaultKind::WrongEcho:
            if (reply.size() >= 2) reply[1] = static_cast<std::uint8_t>(reply[1] + 1);
            SealFrame(reply);
            break;
        case FaultKind::Short: {
            size_t keep = fault.arg > 0 ? static_cast<size_t>(fault.arg) : reply.size() / 2;
            reply.resize(std::min(keep, reply.size() - 1));
            break;
        }
        case FaultKind::Junk:
            reply.insert(reply.begin(), static_cast<size_t>(fault.arg > 0 ? fault.arg : 3), 0x55);
            break;
        case FaultKind::Twice: {
            const std::vector<std::uint8_t> again = reply;
            reply.insert(reply.end(), again.begin(), again.end());
            break;
        }
        default:
            break;
    }
    return reply;
}

}  // namespace velmora::sim
