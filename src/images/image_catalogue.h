#pragma once
// The splicer's list of stored splice images (command 0x70): the request, the
// reply's own completion rule, its decoding, and the texts of the list rows.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/command_catalogue.h"
#include "protocol/link.h"

namespace velmora {

// One entry of the image list, its 7 bytes kept as they arrive; no field is range-checked.
struct ImageEntry {
    std::uint8_t tag = 0;         // carried, not interpreted
    std::uint8_t yearOffset = 0;  // year minus 2000
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;

    bool operator==(const ImageEntry&) const = default;
};

// An image is named towards the splicer only by its position in this list.
using ImageCatalogue = std::vector<ImageEntry>;

inline constexpr int kImageListTimeoutMs = 1500;
inline constexpr std::size_t kImageListHeadSize = 7;
inline constexpr std::size_t kImageSlotSize = 10;  // 7 entry bytes, 3 not examined
inline constexpr std::size_t kImageEntrySize = 7;

// The entries of a complete list reply, or nullopt when its head is not 87 70 or
// it is too short for the count it states. The bytes past the last entry are ignored.
std::optional<ImageCatalogue> ParseImageList(std::span<const std::uint8_t> reply);

struct ImageListAnswer {
    // Accepted (a list; may be empty), NoAnswer (no complete reply in time; the
    // catalogue is then empty), Unexpected (another head: no text, the page keeps
    // its rows), NotOpen and Busy (nothing was sent; the page keeps its catalogue),
    // PortLost, WriteFailed, Cancelled.
    Outcome outcome = Outcome::NoAnswer;
    ImageCatalogue catalogue;
};

struct ImageListOptions {
    std::chrono::milliseconds limit{kImageListTimeoutMs};
};

// Claims the line, sends 87 70 01 00 F8 and gathers the reply with the list's own
// completion rule into the link's ReceiveBuffer. Refused with Busy while a
// download holds the line.
ImageListAnswer FetchImageList(Link& link, const Pump& pump = {}, ImageListOptions options = {});

// "2016-12-05 09:07:03": the year, then month, day, hour, minute and second with two digits.
std::string ImageTimeText(const ImageEntry& entry);
// "20161205090703": the same parts without separators, for file names.
std::string ImageStampText(const ImageEntry& entry);

// One row of the image list: the number from 1 and the time text.
struct ImageRow {
    std::string number;
    std::string time;
};
std::vector<ImageRow> ImageListRows(const ImageCatalogue& catalogue);

}  // namespace velmora
