#pragma once
// Sending a new firmware file to the splicer: two handshakes (0x61, 0x62), the
// splicer's text line, then the file written to the line as raw bytes in blocks of
// 30000, outside any frame and without replies. The page and the command-line tool
// only present what these report.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stop_token>
#include <string>

#include "protocol/link.h"

namespace velmora {

inline constexpr std::size_t kFirmwareBlockSize = 30000;
inline constexpr int kFirmwareHandshakeTimeoutMs = 1000;
// Most bytes of the text the splicer sends after the handshakes.
inline constexpr std::size_t kSplicerTextMax = 38;
// A firmware file is a few megabytes; one beyond this (a disk image, a video) is
// not one, and would hold the splicer for hours at the line's pace.
inline constexpr std::uintmax_t kLargestFirmwareFile = 32 * 1024 * 1024;
// Lets the splicer get ready between its text and the first firmware byte.
inline constexpr std::chrono::milliseconds kPauseBeforeFirmware{100};

// How far the handshakes got (the page's m_nUpdateState).
enum class UpdateState : int {
    NotStarted = 0,
    FirstAccepted = 1,
    SecondAccepted = 2,
    FirstRefused = -1,   // refused or unanswered
    SecondRefused = -2,  // refused or unanswered
};

// What the handshakes tell as they go, on the caller's thread.
struct HandshakeCallbacks {
    // The first handshake was answered (its outcome may still be a refusal).
    std::function<void()> firstAnswered;
    // The splicer's text arrived, as shown (UTF-8).
    std::function<void(const std::string& text)> splicerText;
};

struct HandshakeResult {
    UpdateState state = UpdateState::NotStarted;
    // Of the last handshake sent: Accepted when both were accepted.
    Outcome outcome = Outcome::NoAnswer;
    // True when the splicer sent any text after the handshakes.
    bool textArrived = false;
    std::string splicerText;  // as shown, UTF-8

    bool Accepted() const { return state == UpdateState::SecondAccepted; }
};

// The two handshakes and the splicer's text, under the caller's claim of the
// line. Runs on the caller's thread; `pump` is called while it waits.
HandshakeResult RunFirmwareHandshakes(Link& link, const LineClaim& claim,
                                      const HandshakeCallbacks& callbacks = {},
                                      const Pump& pump = {});

// The splicer's text as shown: the bytes up to the first zero byte, leading white
// space removed, read as GBK; other control characters than tab and line feed
// become spaces so that they cannot act on a terminal or a label.
std::string SplicerTextForDisplay(std::span<const std::uint8_t> bytes);

enum class FirmwareFileProblem {
    None,
    Missing,
    NotRegular,  // a folder, a device such as /dev/zero, a pipe
    TooLarge,    // beyond kLargestFirmwareFile
    Unopenable,
    Empty,
    ReadFailed,  // a read failed or came up short while sending
};

// Whether `file` can be sent, and why not: the rules of every file the program
// reads (CheckFileToRead), with kLargestFirmwareFile as the limit.
FirmwareFileProblem CheckFirmwareFile(const std::filesystem::path& file);

// The share of the file that lies before block `block` (0-based), in per cent;
// 64-bit arithmetic, so files of any size are fine.
int PercentBeforeBlock(std::uint64_t block, std::uint64_t fileLength);
// "Updating ,N%"
std::string UpdatingText(int percent);

struct FirmwareProgress {
    std::uint64_t block = 0;      // the full block just written, 0-based
    std::uint64_t bytesSent = 0;  // including that block
    std::uint64_t fileLength = 0;
    int percent = 0;   // PercentBeforeBlock(block)
    std::string text;  // UpdatingText(percent)
};

enum class FirmwareEnd {
    Finished,        // every byte was written
    FileUnreadable,  // the file could not be opened or read; nothing more was sent
    LineFailed,      // the port was lost, closed, or a write failed
    Cancelled,       // a stop was requested
};

struct FirmwareResult {
    FirmwareEnd end = FirmwareEnd::LineFailed;
    // For LineFailed: NotOpen, PortLost or WriteFailed.
    Outcome line = Outcome::Accepted;
    std::uint64_t bytesSent = 0;
    std::uint64_t fileLength = 0;
    // For FileUnreadable: what was wrong with the file.
    FirmwareFileProblem fileProblem = FirmwareFileProblem::None;

    bool Finished() const { return end == FirmwareEnd::Finished; }
};

// Called on the worker's thread.
struct FirmwareCallbacks {
    // After each full block of 30000 bytes (not after the rest).
    std::function<void(const FirmwareProgress&)> progress;
    // Once at the end, after the port was closed and the line released.
    std::function<void(const FirmwareResult&)> finished;
};

struct FirmwareSendOptions {
    std::chrono::milliseconds pause = kPauseBeforeFirmware;
    // Bytes per write; 0 chooses about 20 ms of line time, so that a stop is seen soon.
    std::size_t pieceBytes = 0;
};

// The transfer worker. Holds `claim` for its whole run; waits `options.pause`,
// then writes `file` in blocks of 30000 bytes, one buffer refilled per block.
// A stop request or Link::Cancel is seen between writes of about 20 ms of line
// time. At the end, whatever the result, the port is closed: the splicer is no
// longer reading frames and has to be connected again. Each call is a fresh
// transfer; nothing carries over from an earlier one.
FirmwareResult FirmwareSendThread(Link& link, LineClaim claim, const std::filesystem::path& file,
                                  std::stop_token stop, const FirmwareCallbacks& callbacks = {},
                                  const FirmwareSendOptions& options = {});

}  // namespace velmora
