// ReplaceFile over Windows: a temporary file created exclusively beside the
// target, written, flushed to the disk, then moved over the target (MoveFileExW);
// a device (NUL, CON, a named pipe) opened as it is and written in order.
#include <windows.h>
// <windows.h> names ReplaceFileA/W ReplaceFile; ours is velmora::ReplaceFile.
#undef ReplaceFile

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <string>

#include "base/atomic_file.h"
#include "base/windows_error.h"

namespace velmora {
namespace {

// Closes the handle it holds unless it was closed on purpose first.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (valid()) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

  private:
    HANDLE h_;
};

bool WriteAll(HANDLE file, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), piece, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes = bytes.subspan(written);
    }
    return true;
}

// A fresh, hidden name beside `target`, created exclusively so that two writers never share it.
HANDLE CreateTemporaryBeside(const std::filesystem::path& target,
                             std::filesystem::path& temporary) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = target.parent_path() / (L"." + target.filename().wstring() + L"." +
                                            std::to_wstring(GetCurrentProcessId()) + L"." +
                                            std::to_wstring(serial++) + L".tmp");
        HANDLE h = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

FileWriteResult Failed(DWORD error) {
    return {false, WindowsErrorText(error)};
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// A device rather than a file: a path in the device namespace (\\.\pipe\x, \\.\COM3),
// or a name Windows keeps for a device in every folder (NUL, CON, COM1, LPT1...).
// Told by its name: opening a named pipe to look would take it.
bool IsDeviceName(const std::filesystem::path& target) {
    const std::wstring text = target.wstring();
    if (text.starts_with(L"\\\\.\\") || text.starts_with(L"//./")) return true;
    std::wstring name = Upper(target.filename().wstring());
    while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
    static constexpr std::array<const wchar_t*, 6> kNames{L"CON", L"PRN",    L"AUX",
                                                          L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kNames)
        if (name == device) return true;
    return name.size() == 4 && (name.starts_with(L"COM") || name.starts_with(L"LPT")) &&
           name[3] >= L'1' && name[3] <= L'9';
}

}  // namespace

bool IsStandardOutput(const std::filesystem::path& output) {
    if (output == kStandardOutput) return true;
    const std::wstring name = Upper(output.filename().wstring());
    return output.parent_path().empty() && (name == L"CON" || name == L"CONOUT$");
}

PreparedFile::Kind PreparedFile::KindOf(const std::filesystem::path& target, FileWriteResult&) {
    if (IsDeviceName(target)) return Kind::Stream;
    // A folder is never replaced by a file. Windows refuses the move itself, but Wine
    // moves a file over an empty folder: refuse it here, as Windows does.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Kind::Folder;
    return Kind::File;
}

FileWriteResult PreparedFile::FolderRefused() {
    return Failed(ERROR_ACCESS_DENIED);
}

FileWriteResult PreparedFile::WriteStream(const std::filesystem::path& place,
                                          std::span<const std::uint8_t> bytes) {
    if (place == kStandardOutput) {
        std::fflush(stdout);  // what was printed before comes first
        if (!WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes)) return Failed(GetLastError());
        return {true, {}};
    }
    Handle device(CreateFileW(place.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device.valid()) return Failed(GetLastError());
    if (!WriteAll(device.get(), bytes)) return Failed(GetLastError());
    if (!device.Close()) return Failed(GetLastError());
    return {true, {}};
}

FileWriteResult PreparedFile::Write(const std::filesystem::path& target,
                                    std::span<const std::uint8_t> bytes,
                                    std::filesystem::path& temporary) {
    Handle file(CreateTemporaryBeside(target, temporary));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        temporary.clear();
        return Failed(error);
    }
    // Flushed to the disk before the move, so a crash never leaves an empty file in its place.
    const bool written = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    const DWORD writeError = GetLastError();
    const bool closed = file.Close();
    if (!written || !closed) {
        const DWORD error = !written ? writeError : GetLastError();
        Remove(temporary);
        temporary.clear();
        return Failed(error);
    }
    return {true, {}};
}

// Moves the finished temporary file to `target` in one step. Not ReplaceFileW: where
// it fails halfway (the target held open by a reader) it can leave a backup file of its
// own beside the target, under a name we cannot know.
FileWriteResult PreparedFile::MoveOver(const std::filesystem::path& temporary,
                                       const std::filesystem::path& target, bool replace) {
    if (MoveFileExW(temporary.c_str(), target.c_str(),
                    (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH))
        return {true, {}};
    const DWORD error = GetLastError();
    Remove(temporary);
    FileWriteResult failed = Failed(error);
    failed.existed = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return failed;
}

void PreparedFile::Remove(const std::filesystem::path& temporary) {
    DeleteFileW(temporary.c_str());
}

}  // namespace velmora
