// Measures a firmware update of 1 MB to the paced virtual splicer at 256000 bit/s
// as the user sees it: from the transfer worker's start until the SPLICER has the
// last byte (its count of received bytes reaches the file size), not until our
// last write returns. Goal: the pause before the file plus its line time plus a
// few ms. Also the worker's CPU (goal: under 2 % of one core). The splicer
// confirms the file arrived whole.
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

std::string FirmwareBytes() {
    std::string bytes(kFileSize, '\0');
    for (std::size_t i = 0; i < kFileSize; ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    return bytes;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "bench_firmware: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main() {
    sim::SplicerOptions options;
    options.baud = kBaud;
    sim::VirtualSplicer splicer(options);
    sim::FirmwareSimOptions firmwareOptions;
    firmwareOptions.quiet = std::chrono::milliseconds(500);
    auto log = sim::InstallFirmwareCommands(splicer, firmwareOptions);
    std::string error;
    if (!splicer.Start(&error)) return Fail("cannot start the virtual splicer: " + error);

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "velmora-firmware-bench.bin";
    const std::string bytes = FirmwareBytes();
    std::ofstream(file, std::ios::binary) << bytes;

    Link link;
    if (!link.OpenPort(splicer.PortPath(), kBaud, &error))
        return Fail("cannot open " + splicer.PortPath() + ": " + error);
    std::optional<LineClaim> claim = link.ClaimLine();
    const auto start = Clock::now();
    const HandshakeResult handshakes = RunFirmwareHandshakes(link, *claim);
    if (!handshakes.Accepted()) {
        const Message* text = StandardFailureText(handshakes.outcome);
        return Fail("handshakes refused: " + (text ? Say(*text) : NotStartedText(handshakes)));
    }
    const auto handshaken = Clock::now();
    // Everything the splicer took in so far was frames; the file comes on top.
    const std::size_t before = splicer.BytesReceived();

    FirmwareResult result;
    double workerCpu = 0;
    Clock::time_point workerStart{}, workerEnd{};
    const double processCpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    // A plain thread: a jthread would ask for a stop as it is joined.
    std::thread worker([&, held = std::move(*claim)]() mutable {
        workerStart = Clock::now();
        const double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        result = FirmwareSendThread(link, std::move(held), file, {});
        workerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
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
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu0;
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!result.Finished()) return Fail("transfer ended early: " + FirmwareEndText(result, file));
    if (lastByte == Clock::time_point{}) return Fail("the splicer never had the whole file");
    if (!log->WaitForReceipts(1, std::chrono::seconds(10))) return Fail("no receipt");
    const sim::FirmwareReceipt receipt = log->Receipts().back();
    const std::uint32_t crc =
        sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    const bool whole = receipt.bytes == kFileSize && receipt.crc32 == crc;

    const double pause = Seconds(kPauseBeforeFirmware);
    const double line = LineSeconds(kFileSize, kBaud);
    const double toSplicer = Seconds(lastByte - workerStart);
    const double beyond = (toSplicer - pause - line) * 1e3;
    const double workerWall = Seconds(workerEnd - workerStart);
    const double cpuPercent = 100.0 * workerCpu / workerWall;
    const bool timeOk = beyond <= kSlackGoalMs;
    const bool cpuOk = cpuPercent < kCpuGoalPercent;
    std::printf("firmware update of %zu bytes at %d bit/s\n", kFileSize, kBaud);
    std::printf("  handshakes and the splicer's text         %8.3f s\n",
                Seconds(handshaken - start));
    std::printf("  line time of the file                     %8.3f s\n", line);
    std::printf(
        "  worker start to the splicer's last byte   %8.3f s = pause %.0f ms + line %+.1f ms"
        " (goal: at most %+.0f ms)  %s\n",
        toSplicer, pause * 1e3, beyond, kSlackGoalMs, timeOk ? "met" : "MISSED");
    std::printf(
        "  splicer's first to last byte              %8.3f s (%+.1f ms against the line time)\n",
        Seconds(lastByte - firstByte), (Seconds(lastByte - firstByte) - line) * 1e3);
    std::printf("  our last write returned vs splicer's last %+8.1f ms (negative: before it)\n",
                Seconds(workerEnd - lastByte) * 1e3);
    std::printf(
        "  worker CPU                                %8.1f ms = %.2f%% of one core"
        " (goal: under %.0f%%)  %s\n",
        workerCpu * 1e3, cpuPercent, kCpuGoalPercent, cpuOk ? "met" : "MISSED");
    std::printf(
        "  process CPU (splicer's pacing and this watch too) %.1f ms = %.2f%% of one core\n",
        processCpu * 1e3, 100.0 * processCpu / workerWall);
    std::printf("  splicer: %s (%s)\n", sim::DescribeReceipt(receipt).c_str(),
                whole ? "whole" : "NOT WHOLE");
    std::printf("%s\n", timeOk && cpuOk ? "RESULT: all goals met" : "RESULT: a goal was MISSED");
    return whole && timeOk && cpuOk ? 0 : 1;
}
