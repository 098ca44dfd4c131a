#include "sim/image_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "sim/jpeg_writer.h"
#include "sim/record_commands.h"
#include "sim/splicer_frames.h"

namespace velmora::sim {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kViewHeight = 210;  // two views, X above Y
constexpr int kCaptionTop = 2 * kViewHeight + 2;
constexpr int kJpegQuality = 85;

struct Rgb {
    std::uint8_t r, g, b;
};

class Picture {
  public:
    Picture() : pixels_(static_cast<std::size_t>(kWidth) * kHeight * 3) {}
    void Set(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        std::uint8_t* p = &pixels_[(static_cast<std::size_t>(y) * kWidth + x) * 3];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    }
    void Fill(int top, int bottom, Rgb c) {
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < kWidth; ++x) Set(x, y, c);
    }
    const std::uint8_t* Row(int y) const {
        return &pixels_[static_cast<std::size_t>(y) * kWidth * 3];
    }

  private:
    std::vector<std::uint8_t> pixels_;
};

// A small fixed random source, so that every run draws the same grain.
class Grain {
  public:
    explicit Grain(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    int Next(int amplitude) {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<int>((state_ >> 16) % (2 * amplitude + 1)) - amplitude;
    }

  private:
    std::uint32_t state_;
};

// 5 x 7 glyphs, one row per byte, the leftmost pixel in bit 4.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}},
};

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;  // drawn as a space
}

void DrawText(Picture& picture, int left, int top, int scale, std::string_view text, Rgb colour) {
    for (char c : text) {
        if (const Glyph* glyph = FindGlyph(c)) {
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (glyph->rows[row] & (0x10 >> col))
                        for (int dy = 0; dy < scale; ++dy)
                            for (int dx = 0; dx < scale; ++dx)
                                picture.Set(left + col * scale + dx, top + row * scale + dy,
                                            colour);
        }
        left += 6 * scale;
    }
}

// Brightness of a backlit fibre at `distance` from its axis: dark rims where the
// cladding bends the light away, a bright body and a faint core line.
double FibreShade(double distance, double radius, double background) {
    const double t = std::abs(distance) / radius;
    if (t > 1.0 + 2.0 / radius) return background;
    double shade = 230.0 - 190.0 * std::pow(std::min(t, 1.0), 4);
    if (std::abs(distance) < 3.0) shade -= 35.0;
    if (t > 1.0) {  // soften the outer edge over two pixels
        const double blend = (t - 1.0) * radius / 2.0;
        shade = shade * (1.0 - blend) + background * blend;
    }
    return shade;
}

// One side view: the left and right fibres, their axes `offsetLeft` and
// `offsetRight` pixels off centre, fused at the middle.
void DrawView(Picture& picture, int top, double offsetLeft, double offsetRight, Grain& grain) {
    constexpr double kRadius = 62.0;
    constexpr double kJoint = kWidth / 2.0;
    const double centre = top + kViewHeight / 2.0;
    for (int x = 0; x < kWidth; ++x) {
        // The axis bends smoothly from one fibre to the other across the joint.
        const double s = std::clamp((x - kJoint + 20.0) / 40.0, 0.0, 1.0);
        const double blend = s * s * (3.0 - 2.0 * s);
        const double axis = centre + offsetLeft * (1.0 - blend) + offsetRight * blend;
        const double along = (x - kJoint) / 10.0;
        const double radius = kRadius * (1.0 + 0.03 * std::exp(-along * along));
        for (int y = top; y < top + kViewHeight; ++y) {
            const double background = 150.0 + 40.0 * (y - top) / kViewHeight;
            double shade = FibreShade(y - axis, radius, background);
            if (std::abs(x - kJoint) < 2.0 && std::abs(y - axis) < radius) shade -= 15.0;
            const int v = std::clamp(static_cast<int>(shade) + grain.Next(5), 0, 255);
            picture.Set(x, y,
                        {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v),
                         static_cast<std::uint8_t>(std::min(255, v + 8))});
        }
    }
}

// Image `index` is the picture of record `index` of the splicer's memory: its loss,
// in hundredths of a dB, is the record's.
int LossOf(int index) {
    const std::array<std::uint8_t, kSpliceRecordLength> record = SampleRecord(index);
    return record[8] | (record[9] << 8);
}

Picture DrawSplice(int index) {
    Picture picture;
    Grain grain(static_cast<std::uint32_t>(index));
    const double shift = (index * 5 % 9) - 4;  // a small core offset that differs per image
    DrawView(picture, 0, 0.0, shift * 0.5, grain);
    picture.Fill(kViewHeight, kViewHeight + 2, {60, 60, 70});
    DrawView(picture, kViewHeight + 2, 0.0, -shift * 0.3, grain);
    picture.Fill(kCaptionTop, kHeight, {20, 20, 30});
    const Rgb label{255, 230, 0};
    DrawText(picture, 8, 8, 3, "X", label);
    DrawText(picture, 8, kViewHeight + 10, 3, "Y", label);
    char loss[32];
    const int hundredths = LossOf(index);
    std::snprintf(loss, sizeof loss, "LOSS: %d.%02ddB", hundredths / 100, hundredths % 100);
    DrawText(picture, 16, kCaptionTop + 16, 4, loss, label);
    return picture;
}

std::vector<std::uint8_t> EncodeJpeg(const Picture& picture) {
    return EncodeRgbJpeg(picture.Row(0), kWidth, kHeight, kJpegQuality);
}

// An index past the list.
std::vector<std::uint8_t> Rejection() {
    return RefuseFrame(0);
}

// The images are drawn once, on first request, and kept for the splicer's life.
class ImageStore {
  public:
    std::vector<std::uint8_t> Jpeg(int index) {
        std::lock_guard lock(mutex_);
        auto it = jpegs_.find(index);
        if (it == jpegs_.end()) it = jpegs_.emplace(index, SimulatedImageJpeg(index)).first;
        return it->second;
    }

  private:
    std::mutex mutex_;
    std::map<int, std::vector<std::uint8_t>> jpegs_;
};

}  // namespace

std::array<std::uint8_t, 7> SimulatedImageEntry(int index) {
    // Taken at the second its splice was recorded, as a splicer stamps the picture of
    // a splice: the archive ties an image to the records of that second.
    const std::array<std::uint8_t, kSpliceRecordLength> record = SampleRecord(index);
    return {1, record[0], record[1], record[2], record[3], record[4], record[5]};
}

std::vector<std::uint8_t> SimulatedImageJpeg(int index) {
    return EncodeJpeg(DrawSplice(index));
}

std::vector<std::uint8_t> ImageListReply(int count) {
    count = std::clamp(count, 0, kMaxImageCount);
    // The count, three spare bytes, then a slot per image. The length byte cannot
    // state more than 255 (it carries the low 8 bits); the program goes by the count.
    std::vector<std::uint8_t> data = {static_cast<std::uint8_t>(count), 0, 0, 0};
    for (int i = 0; i < count; ++i) {
        const std::array<std::uint8_t, 7> entry = SimulatedImageEntry(i);
        data.insert(data.end(), entry.begin(), entry.end());
        // Three spare bytes the program does not look at.
        data.insert(data.end(), {0xA5, 0x5A, static_cast<std::uint8_t>(i)});
    }
    return SplicerFrame(code::ImageList, data);
}

std::vector<std::uint8_t> ImageDownloadReply(std::span<const std::uint8_t> jpeg,
                                             bool sizeCountsHead) {
    const auto size = static_cast<std::uint32_t>(jpeg.size() + (sizeCountsHead ? 8 : 0));
    // The head is a frame of its own, the size as its four data bytes; the JPEG follows it.
    const std::uint8_t sizeBytes[] = {
        static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
        static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
    std::vector<std::uint8_t> reply = SplicerFrame(code::ImageDownload, sizeBytes);
    reply.insert(reply.end(), jpeg.begin(), jpeg.end());
    return reply;
}

void InstallImageCommands(VirtualSplicer& splicer, int count) {
    ImageCommandOptions options;
    options.count = count;
    InstallImageCommands(splicer, options);
}

void InstallImageCommands(VirtualSplicer& splicer, const ImageCommandOptions& options) {
    const int count = std::clamp(options.count, 0, kMaxImageCount);
    auto store = std::make_shared<ImageStore>();
    splicer.SetHandler(code::ImageList, [count](const Request&) { return ImageListReply(count); });
    splicer.SetHandler(code::ImageDownload, [count, store, options](const Request& request) {
        if (request.data.empty() || request.data[0] >= count) return Rejection();
        return ImageDownloadReply(store->Jpeg(request.data[0]), options.sizeCountsHead);
    });
}

}  // namespace velmora::sim
