// LockFile over Windows: LockFileEx on one byte far past the file's text, so that
// the lock never stands in the way of reading or writing the text itself.
#include <windows.h>

#include "base/lock_file.h"

namespace velmora {
namespace {

constexpr DWORD kLockOffset = 0x40000000;

bool Lock(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    at.Offset = kLockOffset;
    return LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

void Unlock(HANDLE file) {
    OVERLAPPED at{};
    at.Offset = kLockOffset;
    UnlockFileEx(file, 0, 1, 0, &at);
}

}  // namespace

struct LockFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool locked = false;
    ~Handle() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);  // closing releases the lock
    }
};

LockFile::LockFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
LockFile::~LockFile() = default;

std::unique_ptr<LockFile> LockFile::Open(const std::filesystem::path& file) {
    auto handle = std::make_unique<Handle>();
    handle->file = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle->file == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<LockFile>(new LockFile(std::move(handle)));
}

bool LockFile::TryExclusive() {
    if (handle_->locked) Unlock(handle_->file);
    handle_->locked = Lock(handle_->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY);
    return handle_->locked;
}

bool LockFile::Shared() {
    if (handle_->locked) Unlock(handle_->file);
    handle_->locked = Lock(handle_->file, 0);
    return handle_->locked;
}

std::string LockFile::Read() {
    char buffer[256];
    DWORD n = 0;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(handle_->file, start, nullptr, FILE_BEGIN) ||
        !ReadFile(handle_->file, buffer, sizeof buffer, &n, nullptr))
        return {};
    return std::string(buffer, n);
}

bool LockFile::Write(std::string_view text) {
    LARGE_INTEGER start{};
    DWORD written = 0;
    return SetFilePointerEx(handle_->file, start, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handle_->file) &&
           WriteFile(handle_->file, text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) &&
           written == text.size();
}

}  // namespace velmora
