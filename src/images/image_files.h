#pragma once
// Where downloaded splice images live: the JPG folder of the splicer's own
// folder, one file per image named from its time stamp and its list position.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "base/atomic_file.h"
#include "base/file_read.h"
#include "images/image_catalogue.h"

namespace velmora {

// DeviceFolder/JPG, or an empty path while no device folder is known.
std::filesystem::path JpgFolder(const std::filesystem::path& deviceFolder);

// Creates DeviceFolder/JPG when it is missing. Before the first connection the
// device folder is empty and nothing is created (never a JPG folder at the root).
// True when the folder exists afterwards; callers may ignore a failure, since
// saving into it then fails with its own message.
bool EnsureJpgFolder(const std::filesystem::path& deviceFolder);

// "201612050907032.jpg": the time stamp, then the 0-based position without leading zeros.
std::string ImageFileName(const ImageEntry& entry, std::size_t position);

// DeviceFolder/JPG/<name> of catalogue entry `position`; nullopt when there is
// no such entry or no device folder is known.
std::optional<std::filesystem::path> ImageFilePath(const std::filesystem::path& deviceFolder,
                                                   const ImageCatalogue& catalogue,
                                                   std::size_t position);

// Whether a file (or anything else) stands at `path`.
bool ImageFileExists(const std::filesystem::path& path);

// Writes `image` unchanged to `path`: into a temporary file beside it first, then
// renamed over any existing file, so a failed write never leaves half an image.
FileWriteResult SaveImageFile(const std::filesystem::path& path,
                              std::span<const std::uint8_t> image);

// A splice image is well under a megabyte; a saved file beyond this is not one.
inline constexpr std::uintmax_t kLargestImageFile = 16 * 1024 * 1024;

// The bytes of a saved image file, read whole and closed at once: refused with
// why (not a file, too large, unreadable), never read past kLargestImageFile.
FileReadResult ReadImageFile(const std::filesystem::path& path);

}  // namespace velmora
