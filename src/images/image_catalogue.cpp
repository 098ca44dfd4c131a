#include "images/image_catalogue.h"

#include <algorithm>

#include "base/time_text.h"
#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

constexpr std::size_t kCountOffset = 3;

bool HasListHead(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == kFrameStart && bytes[1] == cmd::ImageList;
}

// Bytes a list reply of `count` entries needs before it counts as complete.
std::size_t ListLengthFor(std::size_t count) {
    return kImageSlotSize * count + kCountOffset + 1;
}

Outcome AskForImageList(Link& link, const Pump& pump, ImageListOptions options,
                        ImageCatalogue& catalogue) {
    const ExchangeResult list = link.Exchange(FixedRequest(cmd::ImageList), {pump, options.limit});
    if (list.outcome != Outcome::Accepted) return list.outcome;
    std::optional<ImageCatalogue> parsed = ParseImageList(list.reply);
    if (!parsed) return Outcome::Unexpected;
    catalogue = std::move(*parsed);
    return Outcome::Accepted;
}

}  // namespace

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
    return answer;
}

std::string ImageTimeText(const ImageEntry& e) {
    return TimeStampText(e.yearOffset, e.month, e.day, e.hour, e.minute, e.second);
}

std::string ImageStampText(const ImageEntry& e) {
    return CompactTimeStampText(e.yearOffset, e.month, e.day, e.hour, e.minute, e.second);
}

std::vector<ImageRow> ImageListRows(const ImageCatalogue& catalogue) {
    std::vector<ImageRow> rows;
    rows.reserve(catalogue.size());
    for (std::size_t i = 0; i < catalogue.size(); ++i)
        rows.push_back({std::to_string(i + 1), ImageTimeText(catalogue[i])});
    return rows;
}

}  // namespace velmora
