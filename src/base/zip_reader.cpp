#include "base/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <span>

#include "base/little_endian.h"

namespace velmora {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kDirectorySignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kDirectorySize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kEncrypted = 1;

std::span<const std::uint8_t> Bytes(std::string_view bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// Whether [at, at + length) lies within `size` bytes, without overflowing.
bool Within(std::size_t size, std::size_t at, std::size_t length) {
    return at <= size && length <= size - at;
}

bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

// Nothing, with `error` saying why.
std::nullopt_t Refused(std::string* error, const char* why) {
    Fail(error, why);
    return std::nullopt;
}

// Raw deflate data (no zlib header) inflated into exactly `size` bytes.
bool Inflate(std::string_view packed, std::size_t size, std::string& out, std::string* error) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return Fail(error, "the inflater could not start");
    out.assign(size, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(size);
    int rc = inflate(&z, Z_FINISH);
    // Output full but the stream goes on: the member is larger than it says.
    if (rc == Z_BUF_ERROR && z.avail_out == 0) {
        unsigned char spare = 0;
        z.next_out = &spare;
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
        if (rc != Z_STREAM_END || z.avail_out == 0) rc = Z_DATA_ERROR;
    }
    const bool whole = rc == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return whole || Fail(error, "a member of the file is damaged or larger than it says");
}

}  // namespace

std::optional<ZipReader> ZipReader::Open(std::string_view bytes, std::string* error) {
    const auto b = Bytes(bytes);
    if (bytes.size() < kEndSize) return Refused(error, "the file is not a ZIP file");
    // The end record is the last thing in the file but for its comment.
    std::size_t end = bytes.size() - kEndSize;
    const std::size_t lowest = end > kMaxComment ? end - kMaxComment : 0;
    while (ReadU32(b, end) != kEndSignature ||
           std::size_t{ReadU16(b, end + 20)} != bytes.size() - end - kEndSize) {
        if (end == lowest) return Refused(error, "the file is not a ZIP file");
        --end;
    }
    const std::uint16_t disk = ReadU16(b, end + 4), directoryDisk = ReadU16(b, end + 6);
    const std::uint16_t onDisk = ReadU16(b, end + 8), count = ReadU16(b, end + 10);
    const std::uint32_t directorySize = ReadU32(b, end + 12), directoryAt = ReadU32(b, end + 16);
    if (disk != 0 || directoryDisk != 0 || onDisk != count)
        return Refused(error, "a ZIP file of several parts is not read");
    if (count == 0xFFFF || directorySize == 0xFFFFFFFF || directoryAt == 0xFFFFFFFF)
        return Refused(error, "a ZIP64 file is not read");
    if (count > kMaxEntries) return Refused(error, "the file has too many members");
    if (!Within(end, directoryAt, directorySize))
        return Refused(error, "the file's directory lies outside it");

    ZipReader reader(bytes);
    reader.entries_.reserve(count);
    std::size_t at = directoryAt;
    const std::size_t directoryEnd = std::size_t{directoryAt} + directorySize;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (!Within(directoryEnd, at, kDirectorySize) || ReadU32(b, at) != kDirectorySignature)
            return Refused(error, "the file's directory is damaged");
        const std::size_t nameLength = ReadU16(b, at + 28), extra = ReadU16(b, at + 30),
                          comment = ReadU16(b, at + 32);
        if (!Within(directoryEnd, at + kDirectorySize, nameLength + extra + comment))
            return Refused(error, "the file's directory is damaged");
        Entry entry;
        entry.flags = ReadU16(b, at + 8);
        entry.method = ReadU16(b, at + 10);
        entry.crc = ReadU32(b, at + 16);
        entry.packedSize = ReadU32(b, at + 20);
        entry.size = ReadU32(b, at + 24);
        entry.localOffset = ReadU32(b, at + 42);
        entry.name = std::string(bytes.substr(at + kDirectorySize, nameLength));
        reader.entries_.push_back(std::move(entry));
        at += kDirectorySize + nameLength + extra + comment;
    }
    return reader;
}

const ZipReader::Entry* ZipReader::Find(std::string_view name) const {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [name](const Entry& e) { return e.name == name; });
    return found == entries_.end() ? nullptr : &*found;
}

bool ZipReader::Has(std::string_view name) const {
    return Find(name) != nullptr;
}

std::optional<std::string> ZipReader::Read(std::string_view name, std::size_t limit,
                                           std::string* error) const {
    const Entry* entry = Find(name);
    if (!entry) return Refused(error, "a member of the file is missing");
    if (entry->flags & kEncrypted) return Refused(error, "the file is encrypted");
    if (entry->method != kStored && entry->method != kDeflated)
        return Refused(error, "a member of the file is packed in a way not read");
    if (entry->size > limit) return Refused(error, "a member of the file is too large");
    const auto b = Bytes(bytes_);
    const std::size_t local = entry->localOffset;
    if (!Within(bytes_.size(), local, kLocalSize) || ReadU32(b, local) != kLocalSignature)
        return Refused(error, "a member of the file is damaged");
    const std::size_t data = local + kLocalSize + ReadU16(b, local + 26) + ReadU16(b, local + 28);
    if (!Within(bytes_.size(), data, entry->packedSize))
        return Refused(error, "a member of the file lies outside it");
    const std::string_view packed = bytes_.substr(data, entry->packedSize);
    std::string out;
    if (entry->method == kStored) {
        if (entry->packedSize != entry->size)
            return Refused(error, "a member of the file is damaged");
        out.assign(packed);
    } else if (!Inflate(packed, entry->size, out, error)) {
        return std::nullopt;
    }
    const auto crc =
        crc32(0L, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()));
    if (crc != entry->crc) return Refused(error, "a member of the file is damaged");
    return out;
}

}  // namespace velmora
