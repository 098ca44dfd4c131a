#include "images/image_files.h"

namespace velmora {

std::filesystem::path JpgFolder(const std::filesystem::path& deviceFolder) {
    if (deviceFolder.empty()) return {};
    return deviceFolder / "JPG";
}

bool EnsureJpgFolder(const std::filesystem::path& deviceFolder) {
    const std::filesystem::path folder = JpgFolder(deviceFolder);
    if (folder.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

std::string ImageFileName(const ImageEntry& entry, std::size_t position) {
    return ImageStampText(entry) + std::to_string(position) + ".jpg";
}

std::optional<std::filesystem::path> ImageFilePath(const std::filesystem::path& deviceFolder,
                                                   const ImageCatalogue& catalogue,
                                                   std::size_t position) {
    if (deviceFolder.empty() || position >= catalogue.size()) return std::nullopt;
    return JpgFolder(deviceFolder) / ImageFileName(catalogue[position], position);
}

bool ImageFileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

FileWriteResult SaveImageFile(const std::filesystem::path& path,
                              std::span<const std::uint8_t> image) {
    return ReplaceFile(path, image);
}

FileReadResult ReadImageFile(const std::filesystem::path& path) {
    return ReadWholeFile(path, kLargestImageFile);
}

}  // namespace velmora
