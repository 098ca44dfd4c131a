#include "base/zip_writer.h"

#include <zlib.h>

#include <array>
#include <limits>
#include <span>

#include "base/little_endian.h"

namespace velmora {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint16_t kVersion = 20;  // 2.0: deflate and folders
constexpr std::uint16_t kUtf8Names = 1 << 11;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kMaxEntries = std::numeric_limits<std::uint16_t>::max();

// Raw deflate (no zlib header), as a ZIP member holds it; nothing when zlib fails.
bool Deflate(std::string_view bytes, std::string& packed) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    packed.resize(deflateBound(&stream, static_cast<uLong>(bytes.size())));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    const int status = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return status == Z_STREAM_END;
}

}  // namespace

DosStamp DosStampOf(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980) return {};
    return {static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2)),
            static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day)};
}

ZipWriter::ZipWriter(std::ostream& out, std::uint16_t dosTime, std::uint16_t dosDate)
    : out_(out), dosTime_(dosTime), dosDate_(dosDate) {}

bool ZipWriter::Fail(std::string reason) {
    if (error_.empty()) error_ = std::move(reason);
    return false;
}

bool ZipWriter::Put(std::string_view bytes) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    written_ += bytes.size();
    return out_.good() ? true : Fail("the file could not be written");
}

bool ZipWriter::Add(std::string_view name, std::string_view bytes) {
    if (!error_.empty()) return false;
    if (finished_) return Fail("the ZIP file is already finished");
    if (name.empty() || name.size() > std::numeric_limits<std::uint16_t>::max())
        return Fail("a member's name must have 1 to 65,535 bytes");
    // Without ZIP64 every size and offset must fit in 32 bits, and the count in 16.
    if (bytes.size() >= kMax32 || written_ >= kMax32 || entries_.size() >= kMaxEntries)
        return Fail("the ZIP file would exceed 4 GiB or 65,535 members");

    Entry entry{.name = std::string(name), .size = static_cast<std::uint32_t>(bytes.size())};
    entry.crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    std::string packed;
    if (!Deflate(bytes, packed)) return Fail("zlib could not deflate " + entry.name);
    const bool deflated = packed.size() < bytes.size();
    const std::string_view data = deflated ? std::string_view(packed) : bytes;
    entry.method = deflated ? kDeflated : kStored;
    entry.packedSize = static_cast<std::uint32_t>(data.size());
    entry.offset = static_cast<std::uint32_t>(written_);
    if (written_ + 30 + name.size() + data.size() >= kMax32)
        return Fail("the ZIP file would exceed 4 GiB or 65,535 members");

    std::array<std::uint8_t, 30> header{};
    WriteU32(header, 0, kLocalSignature);
    WriteU16(header, 4, kVersion);
    WriteSharedFields(header, 6, entry);
    WriteU16(header, 28, 0);
    if (!Put({reinterpret_cast<const char*>(header.data()), header.size()}) || !Put(name) ||
        !Put(data))
        return false;
    entries_.push_back(std::move(entry));
    return true;
}

void ZipWriter::WriteSharedFields(std::span<std::uint8_t> header, std::size_t at,
                                  const Entry& entry) const {
    WriteU16(header, at, kUtf8Names);
    WriteU16(header, at + 2, entry.method);
    WriteU16(header, at + 4, dosTime_);
    WriteU16(header, at + 6, dosDate_);
    WriteU32(header, at + 8, entry.crc);
    WriteU32(header, at + 12, entry.packedSize);
    WriteU32(header, at + 16, entry.size);
    WriteU16(header, at + 20, static_cast<std::uint16_t>(entry.name.size()));
}

bool ZipWriter::Finish() {
    if (!error_.empty()) return false;
    if (finished_) return true;
    const std::uint64_t start = written_;
    for (const Entry& entry : entries_) {
        std::array<std::uint8_t, 46> header{};
        WriteU32(header, 0, kCentralSignature);
        WriteU16(header, 4, kVersion);  // made by: MS-DOS attributes, version 2.0
        WriteU16(header, 6, kVersion);
        WriteSharedFields(header, 8, entry);
        // Extra field, comment, disk, internal and external attributes: none.
        WriteU32(header, 42, entry.offset);
        if (!Put({reinterpret_cast<const char*>(header.data()), header.size()}) || !Put(entry.name))
            return false;
    }
    const std::uint64_t size = written_ - start;
    if (written_ + 22 >= kMax32) return Fail("the ZIP file would exceed 4 GiB or 65,535 members");
    std::array<std::uint8_t, 22> end{};
    WriteU32(end, 0, kEndSignature);
    WriteU16(end, 8, static_cast<std::uint16_t>(entries_.size()));
    WriteU16(end, 10, static_cast<std::uint16_t>(entries_.size()));
    WriteU32(end, 12, static_cast<std::uint32_t>(size));
    WriteU32(end, 16, static_cast<std::uint32_t>(start));
    if (!Put({reinterpret_cast<const char*>(end.data()), end.size()})) return false;
    out_.flush();
    finished_ = true;
    return out_.good() ? true : Fail("the file could not be written");
}

}  // namespace velmora
