// Image replies off the serial line: the image list (0x70) and its rows, and an
// image download (0x71) gathered piece by piece into an ImageBuffer, head first.
//
// Input: the whole input is parsed as a list reply; then a flags byte and pieces,
// each a length byte followed by up to that many line bytes, go into the buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "base/text_codec.h"
#include "fuzz_common.h"
#include "images/image_catalogue.h"
#include "images/image_download.h"
#include "protocol/command_catalogue.h"

using namespace velmora;
using velmora_fuzz::Bytes;

namespace {

void CheckList(std::span<const std::uint8_t> reply) {
    const std::optional<ImageCatalogue> list = ParseImageList(reply);
    if (!list) return;
    FUZZ_CHECK(reply.size() >= 4 && reply[0] == 0x87 && reply[1] == cmd::ImageList);
    FUZZ_CHECK(list->size() == reply[3]);
    for (std::size_t i = 0; i < list->size(); ++i) {
        const ImageEntry& e = (*list)[i];
        const std::size_t at = kImageListHeadSize + kImageSlotSize * i;
        FUZZ_CHECK(at + kImageEntrySize <= reply.size());
        FUZZ_CHECK(e.tag == reply[at] && e.second == reply[at + 6]);
        FUZZ_CHECK(IsValidUtf8(ImageTimeText(e)));
        FUZZ_CHECK(IsValidUtf8(ImageStampText(e)));
    }
    const std::vector<ImageRow> rows = ImageListRows(*list);
    FUZZ_CHECK(rows.size() == list->size());
    // A reply the list's own rule calls complete parses whenever its head is a list.
    (void)ImageListComplete(reply);
}

void CheckBuffer(const ImageBuffer& buffer, const std::vector<std::uint8_t>& written) {
    FUZZ_CHECK(buffer.Received() == written.size());
    FUZZ_CHECK(buffer.Received() <= kImageBufferSize);
    const std::span<const std::uint8_t> image = buffer.Image();
    switch (buffer.Head()) {
        case ImageHead::Pending:
            FUZZ_CHECK(buffer.Received() < kImageHeadSize);
            FUZZ_CHECK(image.empty() && !buffer.ImageWhole());
            break;
        case ImageHead::Foreign:
        case ImageHead::TooLarge:
            FUZZ_CHECK(image.empty() && !buffer.ImageWhole() && !buffer.AllArrived());
            break;
        case ImageHead::Accepted:
            FUZZ_CHECK(buffer.ImageSize() <= kMaxImageSize);
            FUZZ_CHECK(buffer.Received() <= kImageHeadSize + buffer.ImageSize());
            FUZZ_CHECK(image.size() <= buffer.ImageSize());
            FUZZ_CHECK(image.size() == buffer.Received() - kImageHeadSize);
            FUZZ_CHECK(std::memcmp(image.data(), written.data() + kImageHeadSize, image.size()) ==
                       0);
            if (buffer.AllArrived()) FUZZ_CHECK(buffer.ImageSize() == 0 || buffer.ImageWhole());
            if (buffer.ImageWhole()) FUZZ_CHECK(buffer.SizeReached() && !image.empty());
            break;
    }
    const int progress = buffer.DataProgress();
    FUZZ_CHECK(progress >= 0 && progress <= 99);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckList({data, size});
    if (size > 0) CheckList({data + 1, size - 1});

    static ImageBuffer buffer;  // 1 MB: made once, cleared per input
    buffer.Clear();
    std::vector<std::uint8_t> written;

    Bytes in(data, size);
    const std::uint8_t flags = in.Byte();
    while (!in.Empty()) {
        std::span<std::uint8_t> room = buffer.Room();
        if (room.empty()) break;
        std::span<const std::uint8_t> piece =
            in.Take(std::min<std::size_t>(in.Byte(), room.size()));
        std::copy(piece.begin(), piece.end(), room.begin());
        written.insert(written.end(), piece.begin(), piece.end());
        buffer.Add(piece.size());
        CheckBuffer(buffer, written);
    }
    // Now and then the rest of a large image, up to the buffer's very end, ending
    // in the JPEG end marker: the last bytes the buffer can take.
    if ((flags & 1) && buffer.Head() == ImageHead::Accepted) {
        for (std::span<std::uint8_t> room = buffer.Room(); !room.empty(); room = buffer.Room()) {
            const std::size_t n = std::min<std::size_t>(room.size(), 65536);
            std::memset(room.data(), 0xFF, n);
            if (n == room.size() && n >= 1) room[n - 1] = 0xD9;
            written.insert(written.end(), room.begin(), room.begin() + n);
            buffer.Add(n);
        }
        CheckBuffer(buffer, written);
        FUZZ_CHECK(buffer.AllArrived());
    }
    return 0;
}
