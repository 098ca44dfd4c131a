#include "jobs/fibre_colours.h"

namespace velmora::jobs {
namespace {

struct ColourEntry {
    std::string_view name;
    std::uint32_t rgb;
};
// In the order of FibreColour.
constexpr std::array<ColourEntry, kColourCount> kColours{{
    {"blue", 0x1f5fd6},
    {"orange", 0xf28c1b},
    {"green", 0x2e9e3e},
    {"brown", 0x8b5a2b},
    {"slate", 0x7a8690},
    {"white", 0xffffff},
    {"red", 0xd8262c},
    {"black", 0x1a1a1a},
    {"yellow", 0xf5d81c},
    {"violet", 0x8a3fb5},
    {"rose", 0xf29bb8},
    {"aqua", 0x36c9d6},
}};

}  // namespace

FibrePlace PlaceOfFibre(int fibre, int perTube) {
    const int index = fibre - 1;
    const int tubeIndex = index / perTube;
    return {.tube = tubeIndex + 1,
            .tubeColour = static_cast<FibreColour>(tubeIndex % kColourCount),
            .colour = static_cast<FibreColour>((index % perTube) % kColourCount)};
}

std::string_view ColourName(FibreColour colour) {
    return kColours[static_cast<std::size_t>(colour)].name;
}

std::uint32_t ColourRgb(FibreColour colour) {
    return kColours[static_cast<std::size_t>(colour)].rgb;
}

}  // namespace velmora::jobs
