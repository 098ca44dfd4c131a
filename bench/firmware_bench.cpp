// Measures a firmware update of 1 MB to the paced virtual splicer at 256000 bit/s:
// the transfer's time against the line time it needs, and the CPU the worker and
// the whole process use meanwhile. The splicer confirms the file arrived whole.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "firmware/firmware_update.h"
#include "protocol/link.h"
#include "sim/firmware_commands.h"
#include "sim/virtual_splicer.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 256000;
constexpr std::size_t kFileSize = 1024 * 1024;

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
    if (!link.Port().OpenPort(splicer.PortPath(), kBaud))
        return Fail("cannot open " + splicer.PortPath() + ": " + link.Port().LastError());
    std::optional<LineClaim> claim = link.ClaimLine();
    const auto start = Clock::now();
    const HandshakeResult handshakes = RunFirmwareHandshakes(link, *claim);
    if (!handshakes.Accepted()) return Fail("handshakes refused: " + link.CommStatusText);
    const auto handshaken = Clock::now();

    FirmwareResult result;
    double workerCpu = 0;
    const double processCpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    {
        // A plain thread: a jthread would ask for a stop as it is joined.
        std::thread worker([&, held = std::move(*claim)]() mutable {
            const double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            result = FirmwareSendThread(link, std::move(held), file, {});
            workerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        });
        worker.join();
    }
    const auto finished = Clock::now();
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu0;
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!result.Finished()) return Fail("transfer ended early: " + result.text);
    if (!log->WaitForReceipts(1, std::chrono::seconds(10))) return Fail("no receipt");
    const sim::FirmwareReceipt receipt = log->Receipts().back();
    const std::uint32_t crc =
        sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});

    const double pause = std::chrono::duration<double>(kPauseBeforeFirmware).count();
    const double line = LineSeconds(kFileSize, kBaud);
    const double transfer = Seconds(finished - handshaken);
    std::printf("firmware update of %zu bytes at %d bit/s\n", kFileSize, kBaud);
    std::printf("  handshakes and the splicer's text    %8.3f s\n", Seconds(handshaken - start));
    std::printf("  line time of the file                %8.3f s\n", line);
    std::printf("  worker start to end (pause %.0f ms)  %8.3f s (%+.1f ms beyond pause + line)\n",
                pause * 1e3, transfer, (transfer - pause - line) * 1e3);
    std::printf("  worker CPU                           %8.1f ms = %.2f%% of one core\n",
                workerCpu * 1e3, 100.0 * workerCpu / transfer);
    std::printf("  process CPU (splicer's pacing too)   %8.1f ms = %.2f%% of one core\n",
                processCpu * 1e3, 100.0 * processCpu / transfer);
    std::printf("  splicer: %s (%s)\n", sim::DescribeReceipt(receipt).c_str(),
                receipt.bytes == kFileSize && receipt.crc32 == crc ? "whole" : "NOT WHOLE");
    return receipt.bytes == kFileSize && receipt.crc32 == crc ? 0 : 1;
}
