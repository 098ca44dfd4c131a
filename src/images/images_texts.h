#pragma once
// How the Image page and velmora-cli word the image list, downloads and files.
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "images/image_download.h"

namespace velmora {

// The failure text of a download that brought no image ("" for a stop on request).
std::string ImageDownloadFailureText(const ImageDownloadResult& result);

// An image that could not be written to `path`, with the system's reason.
std::string ImageSaveFailureText(const std::filesystem::path& path, const std::string& reason);

}  // namespace velmora
