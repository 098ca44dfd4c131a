#include "images/image_download.h"

#include <algorithm>

#include "base/little_endian.h"
#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint8_t kHeadStart[] = {kFrameStart, cmd::ImageDownload, 0x04};
constexpr std::size_t kSizeOffset = 3;

// The bar's first half fills with the time the splicer takes to prepare the image.
int CreepProgress(Clock::duration elapsed, milliseconds step) {
    if (step.count() <= 0) return 50;
    return static_cast<int>(std::min<long long>(50, elapsed / step));
}

// The image's bytes as the receive loop gathers them.
class ImageShape final : public ReplyShape {
  public:
    explicit ImageShape(ImageBuffer& buffer) : buffer_(buffer) {}
    std::span<std::uint8_t> Room() override { return buffer_.Room(); }
    Gathered Add(std::size_t n) override {
        buffer_.Add(n);
        switch (buffer_.Head()) {
            case ImageHead::Refused:
            case ImageHead::Foreign:
            case ImageHead::TooLarge:
                return Gathered::Refused;
            case ImageHead::Pending:
                return Gathered::More;
            case ImageHead::Accepted:
                break;
        }
        if (buffer_.AllArrived()) return Gathered::Complete;
        // The announced size counted the head, or the splicer has stopped
        // sending: either way, what came after the head is the image.
        return buffer_.SizeReached() ? Gathered::CompleteUnlessMore : Gathered::More;
    }

  private:
    ImageBuffer& buffer_;
};

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
        case ImageHead::Refused:
        case ImageHead::Foreign:
        case ImageHead::TooLarge:
            return {};
    }
    return {};
}

void ImageBuffer::Add(std::size_t n) {
    received_ += std::min(n, Room().size());
    if (head_ != ImageHead::Pending) return;
    // A head that already disagrees is refused at once: a refusal is shorter than 8 bytes.
    if (received_ >= 2 && bytes_[0] == kFrameStart && bytes_[1] == kRejected) {
        head_ = ImageHead::Refused;
        return;
    }
    const std::size_t known = std::min(received_, std::size(kHeadStart));
    if (!std::equal(kHeadStart, kHeadStart + known, bytes_.get())) {
        head_ = ImageHead::Foreign;
        return;
    }
    if (received_ < kImageHeadSize) return;
    announced_ = ReadU32(std::span(bytes_.get(), kImageHeadSize), kSizeOffset);
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

bool ImageBuffer::ImageWhole() const {
    if (head_ != ImageHead::Accepted || imageSize_ == 0) return false;
    if (AllArrived()) return true;
    // The shorter reading (the size counted the head) holds only when the JPEG
    // ends with its end marker.
    const std::span<const std::uint8_t> image = Image();
    return SizeReached() && image.size() >= 2 && image[image.size() - 2] == 0xFF &&
           image.back() == 0xD9;
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
    return request;
}

ImageDownloadResult ImageDownloadThread(Link& link, LineClaim claim, ImageBuffer& buffer,
                                        std::stop_token stop,
                                        const ImageDownloadCallbacks& callbacks,
                                        ImageDownloadOptions options) {
    std::optional<LineClaim> held(std::move(claim));
    buffer.Clear();
    const auto start = Clock::now();
    int shown = -1;
    auto show = [&](int percent) {
        if (percent == shown) return;
        shown = percent;
        if (callbacks.progress) callbacks.progress(percent);
    };
    ImageShape shape(buffer);
    ReceiveWatch watch;
    watch.timeout = options.deadline;
    watch.quiet = options.tailQuiet;
    watch.stall = kStalledLine;
    watch.stop = stop;
    watch.tick = [&] {
        show(buffer.Head() == ImageHead::Accepted
                 ? buffer.DataProgress()
                 : CreepProgress(Clock::now() - start, options.creepStep));
    };
    const ReceiveEnd end = link.Receive(*held, shape, watch);

    ImageDownloadResult result;
    result.outcome = buffer.Head() == ImageHead::Refused ? Outcome::Rejected : end.outcome;
    if (end.outcome == Outcome::Accepted && !buffer.ImageWhole()) {
        // Nothing short of the whole image is called an image.
        result.outcome = Outcome::Unexpected;
        result.incomplete = true;
    }
    result.stalled = end.stalled;
    result.imageSize = buffer.ImageSize();
    result.announcedSize = buffer.AnnouncedSize();
    result.tooLarge = buffer.Head() == ImageHead::TooLarge;
    result.bytesReceived = buffer.Received();
    switch (result.outcome) {
        case Outcome::Accepted:
            result.image = buffer.Image();
            show(100);
            break;
        case Outcome::Cancelled:
            break;
        case Outcome::Rejected:
        case Outcome::Unexpected:
            // The rest of a refused stream must not spoil the next exchange.
            link.DiscardUntilQuiet(*held, kQuietLine, options.deadline, stop);
            show(0);
            break;
        default:
            show(0);
            break;
    }
    held.reset();  // the line is free before anyone is told the download ended
    if (callbacks.finished) callbacks.finished(result);
    return result;
}

ImageDownloadResult FetchImage(Link& link, int imageIndex, ImageBuffer& buffer,
                               std::stop_token stop, const ImageDownloadCallbacks& callbacks,
                               ImageDownloadOptions options) {
    ImageRequest request = StartImageDownload(link, imageIndex);
    if (request.outcome != Outcome::Accepted) {
        ImageDownloadResult result;
        result.outcome = request.outcome;
        if (callbacks.finished) callbacks.finished(result);
        return result;
    }
    return ImageDownloadThread(link, std::move(*request.claim), buffer, std::move(stop), callbacks,
                               options);
}

}  // namespace velmora
