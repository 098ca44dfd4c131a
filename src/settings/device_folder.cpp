#include "settings/device_folder.h"

#include <algorithm>
#include <system_error>

#include "base/path_text.h"
#include "base/text_codec.h"

namespace velmora {
namespace {
constexpr std::size_t kNameStart = 40;
constexpr std::size_t kNameEnd = 55;  // one past frame offset 54
}  // namespace

std::string DeviceNameFromReply(std::span<const std::uint8_t> reply) {
    if (reply.size() <= kNameStart) return {};
    const auto field = reply.subspan(kNameStart, std::min(reply.size(), kNameEnd) - kNameStart);
    const auto end = std::find(field.begin(), field.end(), 0);
    return GbkToUtf8(std::string(field.begin(), end));
}

std::string SerialNumberFromReply(std::span<const std::uint8_t> reply) {
    if (reply.size() <= kNameStart - 1) return {};
    const auto field =
        reply.subspan(kNameStart - 1, std::min(reply.size(), kNameEnd) - (kNameStart - 1));
    const auto end = std::find(field.begin(), field.end(), 0);
    return GbkToUtf8(std::string(field.begin(), end));
}

std::string SafeFolderName(std::string_view name) {
    std::string safe(name);
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) c = '_';
    }
    for (char& c : safe) {
        if (c != '.') break;
        c = '_';
    }
    return safe.empty() ? "unnamed" : safe;
}

std::filesystem::path MakeDeviceFolder(const std::filesystem::path& appDirectory,
                                       std::string_view deviceName, std::string* error) {
    const std::filesystem::path folder = appDirectory / "FS" / SafeFolderName(deviceName);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec && error) *error = PathText(folder) + ": " + ec.message();
    return folder;
}

}  // namespace velmora
