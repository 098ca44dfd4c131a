#include "sim/firmware_commands.h"

#include <array>
#include <cinttypes>

#include "sim/splicer_frames.h"

namespace velmora::sim {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// Faults under which the PC never sees the acknowledgement intact.
bool SpoilsReply(FaultKind kind) {
    switch (kind) {
        case FaultKind::Silent:
        case FaultKind::BadCheck:
        case FaultKind::Reject:
        case FaultKind::WrongEcho:
        case FaultKind::Short:
            return true;
        default:
            return false;
    }
}

// The running count and check of the transfer under way.
struct Transfer {
    std::uint64_t bytes = 0;
    std::uint32_t crc = 0;
};

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    crc = ~crc;
    for (std::uint8_t b : bytes) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string DescribeReceipt(const FirmwareReceipt& receipt) {
    char text[96];
    std::snprintf(text, sizeof text, "received %" PRIu64 " bytes, CRC-32 %08" PRIX32, receipt.bytes,
                  receipt.crc32);
    return text;
}

void FirmwareLog::Record(const FirmwareReceipt& receipt) {
    {
        std::lock_guard lock(mutex_);
        receipts_.push_back(receipt);
    }
    ended_.notify_all();
}

std::vector<FirmwareReceipt> FirmwareLog::Receipts() const {
    std::lock_guard lock(mutex_);
    return receipts_;
}

bool FirmwareLog::WaitForReceipts(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [&] { return receipts_.size() >= count; });
}

std::shared_ptr<FirmwareLog> InstallFirmwareCommands(VirtualSplicer& splicer,
                                                     FirmwareSimOptions options) {
    auto log = std::make_shared<FirmwareLog>();
    if (options.text.size() > kFirmwareTextMax) options.text.resize(kFirmwareTextMax);

    splicer.SetHandler(code::FirmwareHandshake1,
                       [](const Request&) { return AcceptFrame(code::FirmwareHandshake1); });

    // Runs on the splicer's thread, like the intake it starts.
    splicer.SetHandler(code::FirmwareHandshake2, [&splicer, log, options](const Request& request) {
        std::vector<std::uint8_t> reply = AcceptFrame(code::FirmwareHandshake2);
        if (SpoilsReply(request.fault.kind)) return reply;

        auto transfer = std::make_shared<Transfer>();
        RawIntake intake;
        intake.quiet = options.quiet;
        if (request.fault.kind == FaultKind::HangUp) intake.hangUpAfter = request.fault.arg;
        intake.take = [transfer](std::span<const std::uint8_t> bytes) {
            transfer->bytes += bytes.size();
            transfer->crc = Crc32(bytes, transfer->crc);
        };
        intake.ended = [transfer, log, report = options.report](bool hungUp) {
            FirmwareReceipt receipt{transfer->bytes, transfer->crc, hungUp};
            if (report) {
                std::fprintf(report, "velmora-sim: firmware %s%s\n",
                             DescribeReceipt(receipt).c_str(),
                             hungUp ? " before the line was dropped (hang-up fault)" : "");
                std::fflush(report);
            }
            log->Record(receipt);
        };
        splicer.StartRawIntake(std::move(intake));
        reply.insert(reply.end(), options.text.begin(), options.text.end());
        return reply;
    });
    return log;
}

}  // namespace velmora::sim
