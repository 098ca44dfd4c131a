#pragma once
// Fetching the splice records: ask the splicer how many it holds (0x63), ask for
// all of them (0x64), then gather the stream of 38-byte record frames on a worker
// thread, handing each record over once all its bytes are there.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "history/splice_record.h"
#include "protocol/link.h"

namespace velmora {

inline constexpr int kRecordCountTimeoutMs = 1000;
inline constexpr std::chrono::milliseconds kDownloadDeadline{40000};
// Most records the receive buffer can hold in one download (5263).
inline constexpr int kMaxRecordCount = static_cast<int>(kReceiveBufferSize / kRecordFrameSize);
// After the last announced record, a line quiet this long means the stream ended
// (StreamEndQuiet). Bytes beyond the announced records (a splicer that goes on
// sending) follow them at the line's pace, and a USB adapter hands a continuing
// stream over in packets of 64 bytes: once no packet has come for the time of one,
// and this much more for the host's scheduling, nothing more is coming.
inline constexpr std::chrono::milliseconds kStreamEndQuiet{10};
inline constexpr std::size_t kAdapterPacket = 64;
// The quiet for a line of `bitsPerSecond` (0: unknown, the least quiet).
std::chrono::milliseconds StreamEndQuiet(int bitsPerSecond);

struct RecordCountAnswer {
    Outcome outcome = Outcome::NoAnswer;
    // The 16-bit count (low byte first); 0 unless Accepted. A count the splicer cannot
    // hold (0x8000 and up) is refused as too many, never taken as "no records".
    int count = 0;
};

// Sends 87 63 01 00 EB and waits up to 1000 ms for the six-byte answer. A reply
// shorter than six bytes counts as a bad check byte.
RecordCountAnswer AskRecordCount(Link& link, const LineClaim& claim, const Pump& pump = {});

// The download request for `count` records: only the low byte travels, the check
// byte adds the high byte too. Sends nothing and returns false unless
// 1 <= count <= kMaxRecordCount.
bool RequestRecordDownload(Link& link, const LineClaim& claim, int count);

enum class ReceiveStep {
    Download,   // the request went out: run DownloadHistory for `count` records
    NoRecords,  // count 0 or negative: nothing to fetch, the previous store stays
    TooMany,    // refused at once: more than one download can hold
    Failed,     // the count exchange or the request failed; see `outcome`
};

struct ReceiveStart {
    ReceiveStep step = ReceiveStep::Failed;
    Outcome outcome = Outcome::NoAnswer;  // of the count exchange, or of the request
    int count = 0;
};

// What the Receive button does before the worker starts: the count exchange, the
// decision, and the download request.
ReceiveStart BeginHistoryReceive(Link& link, const LineClaim& claim, const Pump& pump = {});

// Whether a record frame is one: 87 64, length 34, and a time that is a real
// date and time. A value outside an option table is no reason to refuse it.
bool RecordFrameHoldsUp(std::span<const std::uint8_t> frame);

// Gathers the stream of `count` record frames in a caller's buffer. A record is
// handed out once all its 38 bytes are there and its frame holds up, and only
// once; the first frame that does not hold up ends the listing (Garbled()). A
// stream that begins 87 EC is the splicer refusing the request (Refused()).
class RecordStream {
  public:
    // `buffer` must hold count * 38 bytes; `count` is limited to what fits.
    RecordStream(std::span<std::uint8_t> buffer, int count);

    // Where the next bytes go: the rest of the expected length, never beyond it.
    std::span<std::uint8_t> Room() const;
    // Counts `n` more bytes written into Room(); returns the records now ready to list.
    std::vector<SpliceRecord> Add(std::size_t n);

    std::size_t Received() const { return received_; }
    std::size_t Expected() const { return expected_; }
    std::size_t Listed() const { return listed_; }
    bool Complete() const { return received_ >= expected_; }
    // 0-100: the position of the last listed record among `count`; 100 when complete.
    int Progress() const;
    // The position of the first frame that did not hold up, if one did not.
    std::optional<std::size_t> Garbled() const { return garbled_; }
    bool Refused() const { return refused_; }

  private:
    std::span<std::uint8_t> buffer_;
    std::size_t count_;
    std::size_t expected_;
    std::size_t received_ = 0;
    std::size_t listed_ = 0;
    std::optional<std::size_t> garbled_;
    bool refused_ = false;
};

struct DownloadResult {
    // Accepted (all records in), NoAnswer (deadline passed), Cancelled (stop
    // requested), PortLost or NotOpen (the port went away or was closed),
    // Rejected (the splicer refused the request), Unexpected (the stream did not hold up).
    Outcome outcome = Outcome::NoAnswer;
    std::size_t recordsListed = 0;
    std::size_t bytesReceived = 0;
    // Unexpected: the first record whose frame did not hold up, or more bytes
    // than the announced records came. The records before it were listed.
    std::optional<std::size_t> garbledRecord;
    bool surplus = false;
    // NoAnswer: records had begun to come and then stopped.
    bool stalled = false;
    std::size_t recordsAnnounced = 0;
};

// Called on the worker's thread. A page hands them to its own thread and waits
// (`records` must be taken before it returns: the vector is reused).
struct DownloadCallbacks {
    // ReceiveHistory only: the request for `count` records went out.
    std::function<void(int count)> started;
    // Records that just became complete; `first` is records[0]'s position in this download.
    std::function<void(std::size_t first, const std::vector<SpliceRecord>& records)> records;
    std::function<void(int percent)> progress;
    // Called once at the end, after the line has been released.
    std::function<void(const DownloadResult&)> finished;
};

struct DownloadOptions {
    std::chrono::milliseconds deadline = kDownloadDeadline;
};

// The worker: gathers the reply to a download request already sent for `count`
// records into link.ReceiveBuffer(), holding `claim` until it ends. Blocks on the
// port in short slices, so a stop request is seen within about 10 ms. Partial
// results stay handed out when it ends early.
DownloadResult DownloadHistory(Link& link, LineClaim claim, int count, std::stop_token stop,
                               const DownloadCallbacks& callbacks, DownloadOptions options = {});

// The whole Receive: the count exchange, the decision, the request, and the
// download of every record, holding `claim` throughout. What the Result page and
// velmora-cli history run on their worker; they only present what it reports.
struct HistoryReceipt {
    ReceiveStart start;       // how the count exchange ended and what was decided
    DownloadResult download;  // when start.step is Download
};
HistoryReceipt ReceiveHistory(Link& link, LineClaim claim, std::stop_token stop,
                              const DownloadCallbacks& callbacks, DownloadOptions options = {});

}  // namespace velmora
