#pragma once
// The members of a ZIP file held in memory (an XLSX workbook), read with zlib's
// inflate. Nothing in the file is trusted: every offset and size is bounded by the
// file before it is used, a member is inflated only up to the size its directory
// declares and the caller's limit (a small file that would inflate to gigabytes is
// refused as it grows past them), and its CRC-32 is checked. ZIP64, encrypted,
// multi-disk members and methods other than stored and deflate are refused.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class ZipReader {
  public:
    // A reader of `bytes`, which must outlive it; nothing, with `error` saying why
    // (in English, as a system's reason is), when they are not a ZIP file it reads.
    static std::optional<ZipReader> Open(std::string_view bytes, std::string* error);

    bool Has(std::string_view name) const;
    // The member `name` whole; nothing, with `error` saying why, when it is missing,
    // damaged or larger than `limit` once inflated.
    std::optional<std::string> Read(std::string_view name, std::size_t limit,
                                    std::string* error) const;

    // No workbook the program reads has more members than this.
    static constexpr std::size_t kMaxEntries = 10000;

  private:
    struct Entry {
        std::string name;
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint32_t packedSize = 0;
        std::uint32_t size = 0;
        std::uint32_t localOffset = 0;
    };
    explicit ZipReader(std::string_view bytes) : bytes_(bytes) {}
    const Entry* Find(std::string_view name) const;

    std::string_view bytes_;
    std::vector<Entry> entries_;
};

}  // namespace velmora
