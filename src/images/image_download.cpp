#include "images/image_download.h"

#include <algorithm>
#include <cstdio>

#include "app/messages.h"
#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint8_t kHeadStart[] = {kFrameStart, cmd::ImageDownload, 0x04};
constexpr std::size_t kSizeOffset = 3;

std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The bar's first half fills with the time the splicer takes to prepare the image.
int CreepProgress(Clock::duration elapsed, milliseconds step) {
    if (step.count() <= 0) return 50;
    return static_cast<int>(std::min<long long>(50, elapsed / step));
}

// How long the next wait on the port may block: up to the next moment the loop
// has something to decide, and never longer than one slice.
milliseconds NextWait(Clock::time_point now, Clock::time_point until) {
    const auto left = std::chrono::ceil<milliseconds>(until - now);
    return std::clamp(left, milliseconds(0), kWaitSlice);
}

}  // namespace

ImageBuffer::ImageBuffer() : bytes_(std::make_unique<std::uint8_t[]>(kImageBufferSize)) {}

void ImageBuffer::Clear() {
    received_ = 0;
    head_ = ImageHead::Pending;
    imageSize_ = 0;
    announced_ = 0;
}

std::span<std::uint8_t> ImageBuffer::Room() {
    std::span<std::uint8_t> all(bytes_.get(), kImageBufferSize);
    switch (head_) {
        // The head alone first, so that nothing is stored before its size is known.
        case ImageHead::Pending:
            return all.subspan(received_, kImageHeadSize - received_);
        case ImageHead::Accepted: {
            const std::size_t wanted = kImageHeadSize + imageSize_;
            if (received_ >= wanted) return {};
            return all.subspan(received_, wanted - received_);
        }
        case ImageHead::Foreign:
        case ImageHead::TooLarge:
            return {};
    }
    return {};
}

void ImageBuffer::Add(std::size_t n) {
    received_ += std::min(n, Room().size());
    if (head_ != ImageHead::Pending) return;
    // A head that already disagrees is refused at once: a rejection is shorter than 8 bytes.
    const std::size_t known = std::min(received_, std::size(kHeadStart));
    if (!std::equal(kHeadStart, kHeadStart + known, bytes_.get())) {
        head_ = ImageHead::Foreign;
        return;
    }
    if (received_ < kImageHeadSize) return;
    announced_ = ReadLittleEndian32(bytes_.get() + kSizeOffset);
    if (announced_ > kMaxImageSize) {
        head_ = ImageHead::TooLarge;
        return;
    }
    imageSize_ = announced_;
    head_ = ImageHead::Accepted;
}

bool ImageBuffer::SizeReached() const {
    return head_ == ImageHead::Accepted && received_ >= imageSize_;
}

bool ImageBuffer::AllArrived() const {
    return head_ == ImageHead::Accepted && received_ >= kImageHeadSize + imageSize_;
}

std::span<const std::uint8_t> ImageBuffer::Image() const {
    if (head_ != ImageHead::Accepted) return {};
    const std::size_t behindHead = received_ - kImageHeadSize;
    return {bytes_.get() + kImageHeadSize, std::min<std::size_t>(behindHead, imageSize_)};
}

int ImageBuffer::DataProgress() const {
    if (head_ != ImageHead::Accepted || imageSize_ == 0) return 50;
    const std::size_t percent = 50 + received_ * 50 / imageSize_;
    return static_cast<int>(std::min<std::size_t>(percent, 99));
}

std::string ImageTooLargeText(std::uint32_t announced) {
    static constexpr Message kTooLarge{
        "熔接机发来的图片有 %u 字节，超出可接收的上限（最多 %u 字节）",
        "The splicer announced an image of %u bytes, more than can be received (at most %u)"};
    char text[200];
    std::snprintf(text, sizeof text, Say(kTooLarge).c_str(), static_cast<unsigned>(announced),
                  static_cast<unsigned>(kMaxImageSize));
    return text;
}

ImageRequest StartImageDownload(Link& link, int imageIndex) {
    ImageRequest request;
    request.outcome = [&] {
        if (!link.Port().IsOpen()) return Outcome::NotOpen;
        std::optional<LineClaim> claim = link.ClaimLine();
        if (!claim) return Outcome::Busy;
        link.Frame() = ImageDownloadRequest(static_cast<std::uint8_t>(imageIndex & 0xFF));
        if (!link.SendFrame(*claim))
            return link.Port().WasLost() ? Outcome::PortLost : Outcome::WriteFailed;
        request.claim.emplace(std::move(*claim));
        return Outcome::Accepted;
    }();
    if (const Message* text = StandardFailureText(request.outcome)) link.SetStatus(*text);
    return request;
}

ImageDownloadResult ImageDownloadThread(Link& link, LineClaim claim, ImageBuffer& buffer,
                                        std::stop_token stop,
                                        const ImageDownloadCallbacks& callbacks,
                                        ImageDownloadOptions options) {
    std::optional<LineClaim> held(std::move(claim));
    SerialPort& port = link.Port();
    buffer.Clear();
    const auto start = Clock::now();
    const auto deadline = start + options.deadline;
    auto lastArrival = start;
    int shown = -1;
    auto show = [&](int percent) {
        if (percent == shown) return;
        shown = percent;
        if (callbacks.progress) callbacks.progress(percent);
    };

    const Outcome end = [&] {
        for (;;) {
            if (stop.stop_requested() || link.CancelRequested()) return Outcome::Cancelled;
            const auto now = Clock::now();
            switch (buffer.Head()) {
                case ImageHead::Foreign:
                case ImageHead::TooLarge:
                    return Outcome::Unexpected;
                case ImageHead::Pending:
                    show(CreepProgress(now - start, options.creepStep));
                    break;
                case ImageHead::Accepted:
                    show(buffer.DataProgress());
                    break;
            }
            if (buffer.AllArrived()) return Outcome::Accepted;
            // The announced size counted the head, or the splicer has stopped
            // sending: either way, what came after the head is the image.
            if (buffer.SizeReached() &&
                (now - lastArrival >= options.tailQuiet || now > deadline || !port.IsOpen()))
                return Outcome::Accepted;
            if (now > deadline) return Outcome::NoAnswer;
            if (!port.IsOpen()) return port.WasLost() ? Outcome::PortLost : Outcome::NotOpen;
            const std::size_t n = port.ReadAvailable(buffer.Room());
            if (n > 0) {
                buffer.Add(n);
                lastArrival = Clock::now();
                continue;  // more may be waiting already
            }
            const auto until = buffer.SizeReached()
                                   ? std::min(deadline, lastArrival + options.tailQuiet)
                                   : deadline;
            port.WaitReadable(NextWait(now, until) + milliseconds(1));
        }
    }();

    ImageDownloadResult result;
    result.outcome = end;
    result.imageSize = buffer.ImageSize();
    result.bytesReceived = buffer.Received();
    switch (end) {
        case Outcome::Accepted:
            result.image = buffer.Image();
            show(100);
            break;
        case Outcome::Cancelled:
            break;
        case Outcome::Unexpected:
            result.statusText = buffer.Head() == ImageHead::TooLarge
                                    ? ImageTooLargeText(buffer.AnnouncedSize())
                                    : Say(msg::DataError);
            show(0);
            break;
        default:
            if (const Message* text = StandardFailureText(end)) result.statusText = Say(*text);
            show(0);
            break;
    }
    held.reset();  // the line is free before anyone is told the download ended
    if (callbacks.finished) callbacks.finished(result);
    return result;
}

}  // namespace velmora
