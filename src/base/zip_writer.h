#pragma once
// A ZIP file written member by member to a stream: each member deflated with zlib
// (stored when deflating does not make it smaller), its CRC-32 and sizes in its local
// header, the central directory at the end, names flagged as UTF-8 (bit 11) so that
// a Chinese name opens as written. No ZIP64: a member or an archive of 4 GiB or more,
// or more than 65,535 members, is refused rather than written wrongly.
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class ZipWriter {
  public:
    // Members are written to `out`, which must outlive the writer. `dosTime` and
    // `dosDate` stamp every member (MS-DOS format, local time).
    ZipWriter(std::ostream& out, std::uint16_t dosTime, std::uint16_t dosDate);

    // Adds the member `name` ('/' between folders, UTF-8) holding `bytes`; false, with
    // Error() saying why, when it cannot be written (the stream failed, a limit above).
    bool Add(std::string_view name, std::string_view bytes);
    // Writes the central directory; false as Add. Nothing can be added after it.
    bool Finish();

    const std::string& Error() const { return error_; }

  private:
    struct Entry {
        std::string name;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint32_t packedSize = 0;
        std::uint32_t size = 0;
        std::uint32_t offset = 0;
    };
    bool Fail(std::string reason);
    bool Put(std::string_view bytes);
    // The fields a member's local header and its central record share, in the same
    // order (flags, method, time, date, CRC-32, sizes, name length), from `at`.
    void WriteSharedFields(std::span<std::uint8_t> header, std::size_t at,
                           const Entry& entry) const;

    std::ostream& out_;
    std::uint16_t dosTime_;
    std::uint16_t dosDate_;
    std::uint64_t written_ = 0;
    std::vector<Entry> entries_;
    bool finished_ = false;
    std::string error_;
};

// A local date and time in MS-DOS form (two-second steps); 1980-01-01 00:00 for
// anything before 1980, the first date it can hold.
struct DosStamp {
    std::uint16_t time = 0;
    std::uint16_t date = (1 << 5) | 1;
};
DosStamp DosStampOf(int year, int month, int day, int hour, int minute, int second);

}  // namespace velmora
