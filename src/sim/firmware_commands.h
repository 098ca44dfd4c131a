#pragma once
// The splicer's side of a firmware update: the two handshakes 0x61 and 0x62,
// its text line, and the raw file bytes that follow, counted and checked with a
// CRC-32 so that anyone can tell whether the file arrived whole.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "sim/virtual_splicer.h"

namespace velmora::sim {

// CRC-32 as zip and PNG compute it (reflected polynomial 0xEDB88320), continued
// from `crc`, which is 0 for the first piece.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// Most bytes of text the splicer sends after the second handshake.
inline constexpr std::size_t kFirmwareTextMax = 38;

// One firmware transfer as the splicer saw it.
struct FirmwareReceipt {
    std::uint64_t bytes = 0;
    std::uint32_t crc32 = 0;
    bool hungUp = false;  // a hang-up fault dropped the line during the transfer
};

// "received N bytes, CRC-32 XXXXXXXX"
std::string DescribeReceipt(const FirmwareReceipt& receipt);

// The transfers received so far; shared by the handlers and whoever asks.
class FirmwareLog {
  public:
    void Record(const FirmwareReceipt& receipt);
    std::vector<FirmwareReceipt> Receipts() const;
    // Waits until at least `count` transfers have ended; false if `timeout` passed first.
    bool WaitForReceipts(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable ended_;
    std::vector<FirmwareReceipt> receipts_;
};

struct FirmwareSimOptions {
    // Sent after the second handshake's acknowledgement; cut to kFirmwareTextMax bytes.
    std::string text = "Boot loader V1.2, waiting for firmware";
    // A transfer ends once the line has been quiet this long.
    std::chrono::milliseconds quiet{2000};
    // When set, a line about each finished transfer is printed here.
    std::FILE* report = nullptr;
};

// Answers 0x61 and 0x62. Once 0x62 is accepted the splicer sends its text and
// takes everything after it as firmware until the line is quiet. Faults on either
// command refuse it as usual; "62:hangup:N" accepts, then drops the line after N
// firmware bytes.
std::shared_ptr<FirmwareLog> InstallFirmwareCommands(VirtualSplicer& splicer,
                                                     FirmwareSimOptions options = {});

}  // namespace velmora::sim
