#pragma once
// The folder a splicer's files go into, FS/<device name> under the working
// directory, named from the serial number the splicer reports at connection.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

// The device name in a device-configuration reply: the serial number without its
// first character (existing folders are named this way), as UTF-8: the bytes from
// frame offset 40 (41 when the serial number begins with a two-byte GBK character)
// up to the first NUL, at most up to offset 54. "" when the reply does not reach
// offset 40.
std::string DeviceNameFromReply(std::span<const std::uint8_t> reply);

// The whole serial number in a device-configuration reply (from frame offset 39),
// as UTF-8; "" when the reply does not reach it.
std::string SerialNumberFromReply(std::span<const std::uint8_t> reply);

// `name` made fit to be one folder name: bytes that are not UTF-8 become U+FFFD,
// path separators and control characters become '_', leading dots become '_' (so
// never "." or ".."), and an empty name becomes "unnamed".
std::string SafeFolderName(std::string_view name);

// Creates <appDirectory>/FS/<safe name> (existing folders are fine) and returns it.
// On failure `error` (when given) says why; the path is returned all the same.
std::filesystem::path MakeDeviceFolder(const std::filesystem::path& appDirectory,
                                       std::string_view deviceName, std::string* error = nullptr);

}  // namespace velmora
