#pragma once
// The virtual splicer's stored splice images: the image list (0x70) and the
// download of one image (0x71), each image a JPEG of a splice it draws itself.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/virtual_splicer.h"

namespace velmora::sim {

inline constexpr int kDefaultImageCount = 6;
inline constexpr int kMaxImageCount = 255;  // the list's count is one byte

struct ImageCommandOptions {
    int count = kDefaultImageCount;  // limited to 0..255
    // Announce the JPEG's length plus the 8 head bytes, as some splicers count.
    bool sizeCountsHead = false;
};

// Answers 0x70 with `count` images and 0x71 with the image asked for; an index
// past the list is rejected (0xEC).
void InstallImageCommands(VirtualSplicer& splicer, int count = kDefaultImageCount);
void InstallImageCommands(VirtualSplicer& splicer, const ImageCommandOptions& options);

// Image `index`'s list entry: tag, year - 2000, month, day, hour, minute, second.
// Image `index` shows the splice of record `index` (SampleRecord) and carries its time.
std::array<std::uint8_t, 7> SimulatedImageEntry(int index);

// Image `index` as a JPEG: two fibres fused in the middle, seen from two sides,
// with the record's splice loss written below. The same bytes every time.
std::vector<std::uint8_t> SimulatedImageJpeg(int index);

// 87 70, length, count, three spare bytes, a 10-byte slot per image, check.
std::vector<std::uint8_t> ImageListReply(int count);

// 87 71 04, the size (low byte first), the head's check byte, then the JPEG.
std::vector<std::uint8_t> ImageDownloadReply(std::span<const std::uint8_t> jpeg,
                                             bool sizeCountsHead = false);

}  // namespace velmora::sim
