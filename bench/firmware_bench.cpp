// Measures a firmware update of 1 MB to the paced virtual splicer at 256000 bit/s
// as the user sees it: from the transfer worker's start until the SPLICER has the
// last byte (its count of received bytes reaches the file size), not until our
// last write returns. Goal: the pause before the file plus its line time plus a
// few ms. Also the worker's CPU (goal: under 2 % of one core). The splicer
// confirms the file arrived whole. An update whose splicer took the bytes in
// slower than the line by its own doing is discarded and made again.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "base/messages.h"
#include "bench/bench_support.h"
#include "firmware/firmware_texts.h"
#include "firmware/firmware_update.h"
#include "protocol/link.h"
#include "protocol/outcome_texts.h"
#include "sim/firmware_commands.h"
#include "sim/virtual_splicer.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 256000;
constexpr std::size_t kFileSize = 1024 * 1024;
constexpr double kSlackGoalMs = 5.0;  // "a few ms" beyond pause + line time
constexpr double kCpuGoalPercent = 2.0;
constexpr int kTries = 4;
// How far the splicer's intake may lag the line by its own doing: a small part of
// the goal's few ms.
constexpr double kPaceToleranceMs = 1.0;

std::string FirmwareBytes() {
    std::string bytes(kFileSize, '\0');
    for (std::size_t i = 0; i < kFileSize; ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    return bytes;
}

struct Attempt {
    double toSplicer = 0;    // worker start to the splicer's last byte
    double firstToLast = 0;  // the splicer's first to last byte
    double lastWriteVsSplicer = 0;
    double handshakes = 0;
    double workerCpu = 0, workerWall = 0, processCpu = 0;
    sim::FirmwareReceipt receipt;
};

// One update of `file` over a newly opened port. Says why and returns false when
// it could not be made, or the splicer's intake fell behind the line.
bool Update(sim::VirtualSplicer& splicer, sim::FirmwareLog& log, const std::filesystem::path& file,
            Attempt& a) {
    Link link;
    std::string error;
    if (!link.OpenPort(splicer.PortPath(), kBaud, &error)) {
        std::printf("  cannot open %s: %s\n", splicer.PortPath().c_str(), error.c_str());
        return false;
    }
    const std::size_t receipts = log.Receipts().size();
    std::optional<LineClaim> claim = link.ClaimLine();
    const auto start = Clock::now();
    const HandshakeResult handshakes = RunFirmwareHandshakes(link, *claim);
    if (!handshakes.Accepted()) {
        const Message* text = StandardFailureText(handshakes.outcome);
        std::printf("  handshakes refused: %s\n",
                    (text ? Say(*text) : NotStartedText(handshakes)).c_str());
        return false;
    }
    a.handshakes = Seconds(Clock::now() - start);
    // Everything the splicer took in so far was frames; the file comes on top.
    const std::size_t before = splicer.BytesReceived();
    splicer.ResetPaceLag();

    FirmwareResult result;
    Clock::time_point workerStart{}, workerEnd{};
    const double processCpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    // A plain thread: a jthread would ask for a stop as it is joined.
    std::thread worker([&, held = std::move(*claim)]() mutable {
        workerStart = Clock::now();
        const double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        result = FirmwareSendThread(link, std::move(held), file, {});
        a.workerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        workerEnd = Clock::now();
    });
    // Watch the splicer's count; the first byte and the last as it sees them.
    Clock::time_point firstByte{}, lastByte{};
    const auto giveUp = Clock::now() + std::chrono::seconds(120);
    for (;;) {
        const std::size_t got = splicer.BytesReceived() - before;
        const auto now = Clock::now();
        if (got > 0 && firstByte == Clock::time_point{}) firstByte = now;
        if (got >= kFileSize) {
            lastByte = now;
            break;
        }
        if (now > giveUp) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    worker.join();
    a.processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu0;
    if (!result.Finished()) {
        std::printf("  transfer ended early: %s\n", FirmwareEndText(result, file).c_str());
        return false;
    }
    if (lastByte == Clock::time_point{}) {
        std::printf("  the splicer never had the whole file\n");
        return false;
    }
    if (!log.WaitForReceipts(receipts + 1, std::chrono::seconds(10))) {
        std::printf("  the splicer gave no receipt\n");
        return false;
    }
    a.receipt = log.Receipts().back();
    a.toSplicer = Seconds(lastByte - workerStart);
    a.firstToLast = Seconds(lastByte - firstByte);
    a.lastWriteVsSplicer = Seconds(workerEnd - lastByte);
    a.workerWall = Seconds(workerEnd - workerStart);
    std::printf("  update: worker start to the splicer's last byte %.3f s\n", a.toSplicer);
    return SplicerKeptPace(splicer.IntakeLag(), "taken in", kPaceToleranceMs);
}

}  // namespace

int main() {
    Goals goals("bench_firmware");
    sim::SplicerOptions options;
    options.baud = kBaud;
    sim::VirtualSplicer splicer(options);
    sim::FirmwareSimOptions firmwareOptions;
    firmwareOptions.quiet = std::chrono::milliseconds(500);
    auto log = sim::InstallFirmwareCommands(splicer, firmwareOptions);
    std::string error;
    if (!splicer.Start(&error)) {
        goals.NotMeasured("the virtual splicer", error);
        return goals.Finish();
    }

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "velmora-firmware-bench.bin";
    const std::string bytes = FirmwareBytes();
    std::ofstream(file, std::ios::binary) << bytes;
    std::printf("firmware update of %zu bytes at %d bit/s\n", kFileSize, kBaud);
    Attempt a;
    const bool fair = FairRun(kTries, [&] { return Update(splicer, *log, file, a); });
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!fair) {
        goals.NotMeasured("firmware update against the line time", "no fair update");
        return goals.Finish();
    }

    const std::uint32_t crc =
        sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    const double pause = Seconds(kPauseBeforeFirmware);
    const double line = LineSeconds(kFileSize, kBaud);
    std::printf("  handshakes and the splicer's text         %8.3f s\n", a.handshakes);
    std::printf("  line time of the file                     %8.3f s\n", line);
    std::printf(
        "  worker start to the splicer's last byte   %8.3f s = pause %.0f ms + line %+.1f ms\n",
        a.toSplicer, pause * 1e3, (a.toSplicer - pause - line) * 1e3);
    std::printf(
        "  splicer's first to last byte              %8.3f s (%+.1f ms against the line time)\n",
        a.firstToLast, (a.firstToLast - line) * 1e3);
    std::printf("  our last write returned vs splicer's last %+8.1f ms (negative: before it)\n",
                a.lastWriteVsSplicer * 1e3);
    std::printf(
        "  process CPU (splicer's pacing and this watch too) %.1f ms = %.2f%% of one core\n",
        a.processCpu * 1e3, 100.0 * a.processCpu / a.workerWall);
    std::printf("  splicer: %s\n", sim::DescribeReceipt(a.receipt).c_str());
    goals.Expect("bytes the splicer received", static_cast<long long>(a.receipt.bytes),
                 static_cast<long long>(kFileSize));
    goals.Expect("the file's CRC-32 at the splicer matches", a.receipt.crc32 == crc, 1);
    goals.AtMost("update beyond the pause and the line time", (a.toSplicer - pause - line) * 1e3,
                 kSlackGoalMs, "ms", 1);
    goals.Under("worker CPU, % of one core", 100.0 * a.workerCpu / a.workerWall, kCpuGoalPercent,
                "%");
    return goals.Finish();
}
