#include "images/image_catalogue.h"

#include <algorithm>

#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kCountOffset = 3;

bool HasListHead(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == kFrameStart && bytes[1] == cmd::ImageList;
}

// Bytes a list reply of `count` entries needs before it counts as complete.
std::size_t ListLengthFor(std::size_t count) {
    return kImageSlotSize * count + kCountOffset + 1;
}

// "0%d" below 10, "%d" otherwise: values past 99 keep all their digits.
std::string TwoDigits(int value) {
    std::string text = std::to_string(value);
    return value < 10 ? "0" + text : text;
}

std::string YearText(const ImageEntry& entry) {
    return std::to_string(entry.yearOffset + 2000);
}

Outcome AskForImageList(Link& link, const Pump& pump, ImageListOptions options,
                        ImageCatalogue& catalogue) {
    if (!link.Port().IsOpen()) return Outcome::NotOpen;
    std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) return Outcome::Busy;
    link.Frame() = FixedRequest(cmd::ImageList);
    if (!link.SendFrame(*claim))
        return link.Port().WasLost() ? Outcome::PortLost : Outcome::WriteFailed;
    // The list's length comes from its own count, not from ReplyLength.
    const bool complete = link.ReceiveReply(*claim, static_cast<int>(options.limit.count()), pump,
                                            ImageListComplete);
    if (link.CancelRequested()) return Outcome::Cancelled;
    if (!complete) {
        if (link.Port().WasLost()) return Outcome::PortLost;
        return link.Port().IsOpen() ? Outcome::NoAnswer : Outcome::NotOpen;
    }
    std::optional<ImageCatalogue> parsed = ParseImageList(link.Reply());
    if (!parsed) return Outcome::Unexpected;
    catalogue = std::move(*parsed);
    return Outcome::Accepted;
}

}  // namespace

bool ImageListComplete(std::span<const std::uint8_t> gathered) {
    if (gathered.size() >= 2 && !HasListHead(gathered)) return true;
    if (gathered.size() <= kCountOffset) return false;
    return gathered.size() >= ListLengthFor(gathered[kCountOffset]);
}

std::optional<ImageCatalogue> ParseImageList(std::span<const std::uint8_t> reply) {
    if (!HasListHead(reply) || reply.size() <= kCountOffset) return std::nullopt;
    const std::size_t count = reply[kCountOffset];
    if (reply.size() < ListLengthFor(count)) return std::nullopt;
    ImageCatalogue catalogue;
    catalogue.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::span<const std::uint8_t> e =
            reply.subspan(kImageListHeadSize + kImageSlotSize * i, kImageEntrySize);
        catalogue.push_back({e[0], e[1], e[2], e[3], e[4], e[5], e[6]});
    }
    return catalogue;
}

ImageListAnswer FetchImageList(Link& link, const Pump& pump, ImageListOptions options) {
    ImageListAnswer answer;
    answer.outcome = AskForImageList(link, pump, options, answer.catalogue);
    if (const Message* text = StandardFailureText(answer.outcome)) link.SetStatus(*text);
    return answer;
}

std::string ImageTimeText(const ImageEntry& entry) {
    return YearText(entry) + "-" + TwoDigits(entry.month) + "-" + TwoDigits(entry.day) + " " +
           TwoDigits(entry.hour) + ":" + TwoDigits(entry.minute) + ":" + TwoDigits(entry.second);
}

std::string ImageStampText(const ImageEntry& entry) {
    return YearText(entry) + TwoDigits(entry.month) + TwoDigits(entry.day) + TwoDigits(entry.hour) +
           TwoDigits(entry.minute) + TwoDigits(entry.second);
}

std::vector<ImageRow> ImageListRows(const ImageCatalogue& catalogue) {
    std::vector<ImageRow> rows;
    rows.reserve(catalogue.size());
    for (std::size_t i = 0; i < catalogue.size(); ++i)
        rows.push_back({std::to_string(i + 1), ImageTimeText(catalogue[i])});
    return rows;
}

}  // namespace velmora
