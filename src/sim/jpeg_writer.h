#pragma once
// The JPEG encoder the virtual splicer draws its images with: libjpeg where it
// is found (jpeg_writer_libjpeg.cpp), else Qt's image writer (jpeg_writer_qt.cpp).
#include <cstdint>
#include <vector>

namespace velmora::sim {

// `width` x `height` pixels of 8-bit RGB, row after row, as a baseline JPEG of
// `quality` (0..100); empty on failure.
std::vector<std::uint8_t> EncodeRgbJpeg(const std::uint8_t* rgb, int width, int height,
                                        int quality);

}  // namespace velmora::sim
