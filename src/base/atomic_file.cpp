// What PreparedFile does alike on every platform; the steps are atomic_file_<platform>.cpp's.
#include "base/atomic_file.h"

#include <utility>

namespace velmora {

PreparedFile::PreparedFile(std::filesystem::path target, std::span<const std::uint8_t> bytes)
    : target_(std::move(target)) {
    prepared_ = Write(target_, bytes, temporary_);
}

PreparedFile::PreparedFile(std::filesystem::path target, FileWriteResult failure)
    : target_(std::move(target)), prepared_(std::move(failure)) {}

PreparedFile::PreparedFile(PreparedFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      prepared_(std::move(other.prepared_)) {}

PreparedFile::~PreparedFile() {
    if (!temporary_.empty()) Remove(temporary_);
}

FileWriteResult PreparedFile::Commit() {
    if (!prepared_.ok) return prepared_;
    if (temporary_.empty()) return {false, "already put in place"};
    return MoveOver(std::exchange(temporary_, {}), target_);
}

}  // namespace velmora
