#pragma once
// How the Image page and velmora-cli word the image downloads.
#include <string>

#include "base/messages.h"
#include "images/image_download.h"

namespace velmora {

// The failure text of a download that brought no image ("" for a stop on request).
std::string ImageDownloadFailureText(const ImageDownloadResult& result);

}  // namespace velmora
