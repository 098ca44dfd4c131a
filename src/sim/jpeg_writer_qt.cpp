// The virtual splicer's JPEG writer over Qt's image writer (its JPEG plugin),
// for builds without libjpeg of their own.
#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include "sim/jpeg_writer.h"

namespace velmora::sim {

std::vector<std::uint8_t> EncodeRgbJpeg(const std::uint8_t* rgb, int width, int height,
                                        int quality) {
    const QImage image(rgb, width, height, width * 3, QImage::Format_RGB888);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image)) return {};
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            reinterpret_cast<const std::uint8_t*>(bytes.constData()) + bytes.size()};
}

}  // namespace velmora::sim
