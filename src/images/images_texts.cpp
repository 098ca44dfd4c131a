#include "images/images_texts.h"

#include <cstdio>

#include "protocol/outcome_texts.h"

namespace velmora {
namespace {

// The refusal of a head that announces more than the buffer can hold.
std::string ImageTooLargeText(std::uint32_t announced) {
    static constexpr Message kTooLarge{
        "熔接机发来的图片有 %u 字节，超出可接收的上限（最多 %u 字节）",
        "The splicer announced an image of %u bytes, more than can be received (at most %u)"};
    char text[200];
    std::snprintf(text, sizeof text, Say(kTooLarge).c_str(), static_cast<unsigned>(announced),
                  static_cast<unsigned>(kMaxImageSize));
    return text;
}

// `message` with how much of the image came: the bytes behind the head, and the size.
std::string HowFarText(const Message& message, const ImageDownloadResult& result) {
    const std::size_t behindHead =
        result.bytesReceived > kImageHeadSize ? result.bytesReceived - kImageHeadSize : 0;
    char text[200];
    std::snprintf(text, sizeof text, Say(message).c_str(), static_cast<unsigned>(behindHead),
                  static_cast<unsigned>(result.imageSize));
    return text;
}

}  // namespace

std::string ImageDownloadFailureText(const ImageDownloadResult& result) {
    switch (result.outcome) {
        case Outcome::Accepted:
        case Outcome::Cancelled:
            return {};
        case Outcome::Unexpected:
            if (result.incomplete) {
                static constexpr Message kIncomplete{
                    "图片未完整到达（%u / %u 字节），未保存",
                    "The image did not arrive whole (%u of %u bytes); nothing was saved"};
                return HowFarText(kIncomplete, result);
            }
            return result.tooLarge ? ImageTooLargeText(result.announcedSize) : Say(msg::DataError);
        case Outcome::NoAnswer:
            if (result.stalled) {
                static constexpr Message kStalled{
                    "熔接机停止发送图片（%u / %u 字节）",
                    "The splicer stopped sending the image (%u of %u bytes)"};
                return HowFarText(kStalled, result);
            }
            [[fallthrough]];
        default: {
            const Message* text = StandardFailureText(result.outcome);
            return text ? Say(*text) : Say(msg::DataError);
        }
    }
}

}  // namespace velmora
