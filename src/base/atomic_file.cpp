// What PreparedFile does alike on every platform; the steps are atomic_file_<platform>.cpp's.
#include "base/atomic_file.h"

#include <optional>
#include <system_error>
#include <utility>

#include "base/file_read.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// As many links as the system itself follows before it calls it a loop.
constexpr int kMaxLinks = 40;

// No file written through a library comes near this; a bound for reading it back.
constexpr std::uintmax_t kMaxScratchBytes = 1ull << 31;

// `target` with its symbolic links followed to what they name, which need not
// exist yet; nothing when they go round in a loop.
std::optional<fs::path> FollowLinks(fs::path target) {
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(target, ec))) return target;
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) return target;  // not readable as a link: the system will say why
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return std::nullopt;
}

}  // namespace

PreparedFile::PreparedFile(fs::path target, std::span<const std::uint8_t> bytes)
    : target_(std::move(target)) {
    prepared_ = Locate();
    if (prepared_.ok) prepared_ = Keep(bytes);
}

PreparedFile::PreparedFile(fs::path target, FileWriteResult failure)
    : target_(std::move(target)), prepared_(std::move(failure)) {}

PreparedFile::PreparedFile(fs::path target, const ScratchWriter& write)
    : target_(std::move(target)) {
    prepared_ = Locate();
    if (!prepared_.ok) return;
    std::error_code ec;
    const fs::path beside = stream_ ? fs::temp_directory_path(ec) / "velmora-output" : place_;
    fs::path scratch;
    prepared_ = Write(beside, {}, scratch);
    if (!prepared_.ok) return;
    prepared_ = write(scratch);
    if (prepared_.ok) {
        const FileReadResult read = ReadWholeFile(scratch, kMaxScratchBytes);
        prepared_ = read.ok()
                        ? Keep(std::span(reinterpret_cast<const std::uint8_t*>(read.bytes.data()),
                                         read.bytes.size()))
                        : FileWriteResult{false, read.systemReason.empty()
                                                     ? "the file written cannot be read"
                                                     : read.systemReason};
    }
    Remove(scratch);
}

PreparedFile::PreparedFile(PreparedFile&& other) noexcept
    : target_(std::move(other.target_)),
      place_(std::move(other.place_)),
      temporary_(std::exchange(other.temporary_, {})),
      streamBytes_(std::move(other.streamBytes_)),
      stream_(other.stream_),
      committed_(std::exchange(other.committed_, true)),
      prepared_(std::move(other.prepared_)) {}

PreparedFile::~PreparedFile() {
    if (!temporary_.empty()) Remove(temporary_);
}

FileWriteResult PreparedFile::Locate() {
    place_ = target_;
    if (target_ == kStandardOutput) {
        stream_ = true;
        return {true, {}};
    }
    // The system follows the links to tell what is there (a link such as /dev/stdout
    // may name a pipe, which has no path); a file is replaced where its last link points.
    FileWriteResult failure;
    switch (KindOf(target_, failure)) {
        case Kind::Failed:
            return failure;
        case Kind::Folder:
            return FolderRefused();
        case Kind::Stream:
            stream_ = true;
            return {true, {}};
        case Kind::File:
            break;
    }
    const std::optional<fs::path> place = FollowLinks(target_);
    if (!place)
        return {false, std::make_error_code(std::errc::too_many_symbolic_link_levels).message()};
    place_ = *place;
    return {true, {}};
}

FileWriteResult PreparedFile::Keep(std::span<const std::uint8_t> bytes) {
    if (!stream_) return Write(place_, bytes, temporary_);
    streamBytes_.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return {true, {}};
}

FileWriteResult PreparedFile::Commit() {
    return Place(true);
}

FileWriteResult PreparedFile::CommitNew() {
    return Place(false);
}

FileWriteResult PreparedFile::Place(bool replace) {
    if (!prepared_.ok) return prepared_;
    if (committed_) return {false, "already put in place"};
    committed_ = true;
    if (stream_)
        return WriteStream(place_,
                           std::span(reinterpret_cast<const std::uint8_t*>(streamBytes_.data()),
                                     streamBytes_.size()));
    return MoveOver(std::exchange(temporary_, {}), place_, replace);
}

}  // namespace velmora
