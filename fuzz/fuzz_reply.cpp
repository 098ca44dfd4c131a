// Replies as they come off the serial line: the verdict on a gathered reply, its
// check byte, the image list's completion rule, the request-check rule, and the
// gathering of a reply piece by piece with late answers to drop.
//
// Input: command byte, flags byte, buffer-size byte, expected-length byte, then
// pieces, each a length byte followed by up to that many line bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fuzz_common.h"
#include "protocol/command_catalogue.h"
#include "protocol/frame.h"
#include "protocol/link.h"

using namespace velmora;
using velmora_fuzz::Bytes;

namespace {

void JudgeWhole(std::span<const std::uint8_t> reply, std::uint8_t command, bool ack) {
    const ReplyVerdict verdict = JudgeReply(reply, command, ack);
    const std::uint8_t check = ReplyChecksum(reply);
    if (reply.empty()) {
        FUZZ_CHECK(verdict == ReplyVerdict::NoAnswer);
        FUZZ_CHECK(check == 0);
        return;
    }
    FUZZ_CHECK(check == SumCheck(reply.first(reply.size() - 1)));
    if (verdict == ReplyVerdict::Accepted) {
        FUZZ_CHECK(reply.size() >= 2 && reply[0] == kFrameStart && reply[1] == command);
        FUZZ_CHECK(check == reply.back());
    }
    if (check != reply.back()) FUZZ_CHECK(verdict == ReplyVerdict::BadCheck);
    (void)OutcomeOf(verdict);

    // The image list's rule on every prefix: once complete, it stays complete.
    bool complete = false;
    for (std::size_t n = 0; n <= reply.size(); ++n) {
        const Gathered g = ImageListComplete(reply.first(n));
        if (complete) FUZZ_CHECK(g != Gathered::More);
        if (g == Gathered::Complete) complete = true;
    }
}

void Gather(Bytes& in, std::uint8_t command, std::uint8_t flags, std::size_t bufferSize,
            std::size_t expected) {
    // An exact-size heap buffer, so that a write past it is caught.
    std::unique_ptr<std::uint8_t[]> storage(new std::uint8_t[bufferSize]);
    std::span<std::uint8_t> buffer(storage.get(), bufferSize);

    BufferedReply::Rule rule = nullptr;
    if (flags & 0x02) {
        rule = ImageListComplete;
    } else if (const std::optional<CommandEntry> entry = FindCommand(command)) {
        if (entry->complete) rule = entry->complete;
        if (!(flags & 0x04) && entry->replyLength > 0)
            expected = static_cast<std::size_t>(entry->replyLength);
    }
    BufferedReply reply(buffer, expected, rule);
    // One or two late-answer commands, from the flags: the previous request's and
    // the disconnection of an earlier run.
    if (flags & 0x08) reply.DropLateAnswersTo(static_cast<std::uint8_t>(command ^ (flags & 0xF0)));
    if (flags & 0x10) reply.DropLateAnswersTo(cmd::Disconnect);
    if (flags & 0x20) reply.DropLateAnswersTo(command);

    Gathered state = reply.Start();
    while (!in.Empty() && state != Gathered::Complete && state != Gathered::Refused) {
        std::span<std::uint8_t> room = reply.Room();
        if (room.empty()) break;  // overflow: the receive loop gives up here
        FUZZ_CHECK(room.data() >= buffer.data());
        FUZZ_CHECK(room.data() + room.size() <= buffer.data() + buffer.size());
        const std::size_t want = in.Byte();
        std::span<const std::uint8_t> piece = in.Take(std::min(want, room.size()));
        std::copy(piece.begin(), piece.end(), room.begin());
        state = reply.Add(piece.size());
        const std::span<const std::uint8_t> bytes = reply.Bytes();
        FUZZ_CHECK(bytes.size() <= buffer.size());
        FUZZ_CHECK(bytes.data() == buffer.data());
        FUZZ_CHECK(reply.Room().size() == buffer.size() - bytes.size());
    }
    const std::span<const std::uint8_t> bytes = reply.Bytes();
    JudgeWhole(bytes, command, flags & 0x01);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The whole input as one reply, against the command of its second byte.
    const std::span<const std::uint8_t> whole(data, size);
    JudgeWhole(whole, size >= 2 ? data[1] : 0, size >= 1 && (data[0] & 1));

    Bytes in(data, size);
    const std::uint8_t command = in.Byte();
    const std::uint8_t flags = in.Byte();
    const std::size_t bufferSize = 1 + in.Byte() * 4u;  // 1 to 1021 bytes
    const std::size_t expected = in.Byte();
    Gather(in, command, flags, bufferSize, expected);
    return 0;
}
