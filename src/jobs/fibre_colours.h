#pragma once
// Where a fibre lies in its cable and which colours mark it: fibres are numbered
// from 1, tubes hold `perTube` fibres each (12 unless the cable says otherwise),
// and both tubes and fibres take the 12-colour sequence in order.
#include <array>
#include <cstdint>
#include <string_view>

namespace velmora::jobs {

enum class FibreColour : std::uint8_t {
    Blue,
    Orange,
    Green,
    Brown,
    Slate,
    White,
    Red,
    Black,
    Yellow,
    Violet,
    Rose,
    Aqua,
};
inline constexpr std::size_t kColourCount = 12;

// A cable's fibre count and fibres per tube are within these.
inline constexpr int kMinFibres = 12;
inline constexpr int kMaxFibres = 864;
inline constexpr int kDefaultPerTube = 12;

struct FibrePlace {
    int tube = 0;              // 1, 2, ...
    FibreColour tubeColour{};  // the tube's colour
    FibreColour colour{};      // the fibre's colour within its tube
    bool operator==(const FibrePlace&) const = default;
};

// Fibre `fibre` (1-based) of a cable with `perTube` fibres a tube; `fibre` and
// `perTube` must be at least 1. A tube past the 12th starts the sequence again.
FibrePlace PlaceOfFibre(int fibre, int perTube = kDefaultPerTube);

// "blue", "orange", ... : the English name, for files that name colours (CSV, CLI).
std::string_view ColourName(FibreColour colour);
// 0xRRGGBB of the swatch drawn for the colour (in the window and the spreadsheet).
std::uint32_t ColourRgb(FibreColour colour);

}  // namespace velmora::jobs
