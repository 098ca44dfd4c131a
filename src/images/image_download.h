#pragma once
// Fetching one splice image (command 0x71): the request, then on a worker thread
// an 8-byte head 87 71 04 with the image size, followed by the JPEG bytes, which
// are gathered into a buffer of their own.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>

#include "protocol/link.h"

namespace velmora {

inline constexpr std::size_t kImageBufferSize = 1'000'000;
inline constexpr std::size_t kImageHeadSize = 8;
// Largest image the buffer can take behind its head.
inline constexpr std::uint32_t kMaxImageSize = kImageBufferSize - kImageHeadSize;
inline constexpr std::chrono::milliseconds kImageDownloadDeadline{50000};
// Splicers differ in whether the announced size counts the head. Once that many
// bytes are in, a line quiet for this long means no more are coming.
inline constexpr std::chrono::milliseconds kImageTailQuiet{200};
// While the splicer prepares the image the bar creeps one step per this time, up to 50.
inline constexpr std::chrono::milliseconds kImageCreepStep{100};

enum class ImageHead {
    Pending,   // fewer than 8 bytes, all agreeing with 87 71 04 so far
    Accepted,  // 87 71 04 and a size that fits
    Refused,   // 87 EC: the splicer refused the request
    Foreign,   // not the head of an image
    TooLarge,  // a size beyond kMaxImageSize
};

// The bytes of one download: the head, then the image. Filled by one worker at a
// time; the image stays readable until the next Clear().
class ImageBuffer {
  public:
    ImageBuffer();

    void Clear();
    // Where the next read goes: the head's 8 bytes first, then never beyond the
    // announced size behind the head; empty once the head is refused.
    std::span<std::uint8_t> Room();
    // Counts `n` bytes written into Room() and judges the head once it can.
    void Add(std::size_t n);

    ImageHead Head() const { return head_; }
    // The announced size (bytes 3 to 6, low byte first); 0 until the head is accepted.
    std::uint32_t ImageSize() const { return imageSize_; }
    // The head's size field as read, also when it was refused as too large.
    std::uint32_t AnnouncedSize() const { return announced_; }
    std::size_t Received() const { return received_; }
    // Announced size reached, counting the head as some splicers do.
    bool SizeReached() const;
    // Announced size reached behind the head: nothing more can belong to the image.
    bool AllArrived() const;
    // Whether what arrived is the whole image: the announced size behind the head,
    // or, when the size counted the head, a JPEG that ends with its end marker.
    // An announced size of 0 is no image.
    bool ImageWhole() const;
    // The image bytes that arrived after the head, at most ImageSize(); never padded.
    std::span<const std::uint8_t> Image() const;
    // 50 + 50 * received / size while the image comes in, below 100 until it is done.
    int DataProgress() const;

  private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t received_ = 0;
    ImageHead head_ = ImageHead::Pending;
    std::uint32_t imageSize_ = 0;
    std::uint32_t announced_ = 0;
};

struct ImageRequest {
    // Accepted when the request went out, else NotOpen, Busy (another exchange or
    // download holds the line), PortLost or WriteFailed.
    Outcome outcome = Outcome::NotOpen;
    // The line, to hand to ImageDownloadThread; held only when Accepted.
    std::optional<LineClaim> claim;
};

// Claims the line and sends 87 71 02 index 20 with the check byte that leaves
// the 0x20 out. `imageIndex` travels as its low 8 bits.
ImageRequest StartImageDownload(Link& link, int imageIndex);

struct ImageDownloadResult {
    // Accepted (the image is in `image`), NoAnswer (deadline passed), Rejected (the
    // splicer refused the request), Unexpected (foreign or oversized head), PortLost,
    // NotOpen, Cancelled (stop requested).
    Outcome outcome = Outcome::NoAnswer;
    std::uint32_t imageSize = 0;
    std::uint32_t announcedSize = 0;  // as the head said it, also when refused
    bool tooLarge = false;            // the head announced more than the buffer holds
    bool incomplete = false;          // Unexpected: the image did not arrive whole
    bool stalled = false;             // NoAnswer: the image began to come, then stopped
    std::size_t bytesReceived = 0;    // head included
    // Points into the ImageBuffer; empty unless Accepted.
    std::span<const std::uint8_t> image;
};

// Called on the worker's thread; a page hands them over to its own thread.
struct ImageDownloadCallbacks {
    // 0-100, only when it changes: creeping to 50 while the splicer prepares,
    // then 50 + 50 * received / size; 100 when complete, 0 on a failure.
    std::function<void(int percent)> progress;
    // Called once at the end, after the line has been released.
    std::function<void(const ImageDownloadResult&)> finished;
};

struct ImageDownloadOptions {
    std::chrono::milliseconds deadline = kImageDownloadDeadline;
    std::chrono::milliseconds tailQuiet = kImageTailQuiet;
    std::chrono::milliseconds creepStep = kImageCreepStep;
};

// The worker: gathers the reply to a request sent by StartImageDownload into
// `buffer`, holding `claim` until it ends. Blocks on the port in short slices,
// so a stop request is seen within about 10 ms. After a refused head it drops
// the rest of the stream until the line is quiet.
ImageDownloadResult ImageDownloadThread(Link& link, LineClaim claim, ImageBuffer& buffer,
                                        std::stop_token stop,
                                        const ImageDownloadCallbacks& callbacks = {},
                                        ImageDownloadOptions options = {});

// The whole download of image `imageIndex`: the request, then the worker's
// gathering (on the caller's thread: the Image page and velmora-cli run it on
// their worker). What the request's failure was when it could not go out.
ImageDownloadResult FetchImage(Link& link, int imageIndex, ImageBuffer& buffer,
                               std::stop_token stop, const ImageDownloadCallbacks& callbacks = {},
                               ImageDownloadOptions options = {});

}  // namespace velmora
