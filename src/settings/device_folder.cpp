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

namespace {

// The serial number's field of the reply, up to its first NUL; empty when the reply
// does not reach it.
std::string_view SerialField(std::span<const std::uint8_t> reply) {
    if (reply.size() <= kNameStart - 1) return {};
    const auto field =
        reply.subspan(kNameStart - 1, std::min(reply.size(), kNameEnd) - (kNameStart - 1));
    const auto end = std::find(field.begin(), field.end(), 0);
    return {reinterpret_cast<const char*>(field.data()),
            static_cast<std::size_t>(end - field.begin())};
}

// The length of the GBK character `text` begins with: two bytes for a lead byte
// followed by a trail byte, else one.
std::size_t FirstGbkCharacter(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const bool lead = !text.empty() && byte(0) >= 0x81 && byte(0) <= 0xFE;
    const bool trail = text.size() > 1 && byte(1) >= 0x40 && byte(1) <= 0xFE && byte(1) != 0x7F;
    return lead && trail ? 2 : 1;
}

}  // namespace

std::string DeviceNameFromReply(std::span<const std::uint8_t> reply) {
    if (reply.size() <= kNameStart) return {};
    // The name starts after the serial number's first character: at offset 40 for
    // every serial number that starts with a one-byte character (the folders made
    // so far), one further when it starts with a two-byte GBK character, so that
    // the cut never splits one.
    const std::string_view serial = SerialField(reply);
    if (serial.empty()) {
        const auto field = reply.subspan(kNameStart, std::min(reply.size(), kNameEnd) - kNameStart);
        const auto end = std::find(field.begin(), field.end(), 0);
        return GbkToUtf8(std::string(field.begin(), end));
    }
    return GbkToUtf8(serial.substr(std::min(serial.size(), FirstGbkCharacter(serial))));
}

std::string SerialNumberFromReply(std::span<const std::uint8_t> reply) {
    return GbkToUtf8(SerialField(reply));
}

std::string SafeFolderName(std::string_view name) {
    std::string safe = ValidUtf8(name);
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
