#pragma once
// Where each field of the splicer's four parameter records lies: its first byte
// and its width. The virtual splicer keeps this description of its own, apart
// from the program's record code, so that a field the program puts at a wrong
// offset reads back wrong instead of matching a splicer built with the same slip.
// Numbers are little-endian (signed ones in two's complement); texts are padded
// with NULs; spare bytes are bytes the PC never looks at and sends back as they came.
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace velmora::sim {

struct Field {
    std::size_t offset;
    std::size_t width;
};

// Every field, spares included, in the order of the bytes: each starts where the
// one before it ends and the last ends at the record's size.
template <std::size_t N>
constexpr bool Tiles(const std::array<Field, N>& fields, std::size_t size) {
    std::size_t next = 0;
    for (const Field& f : fields) {
        if (f.offset != next || f.width == 0) return false;
        next = f.offset + f.width;
    }
    return next == size;
}

// The splice program (read 0x6A, write 0x6B).
namespace splice {
inline constexpr std::size_t kSize = 84;
inline constexpr Field FiberType{0, 2}, Name1{2, 10}, Name2{12, 16}, Spare28{28, 4},
    CutAngle{32, 2}, LossLimit{34, 2}, ArcValue{36, 2}, ArcTime{38, 2}, ClearArcTime{40, 2},
    AddArcTime{42, 2}, AlignType{44, 2}, AlignSpace{46, 2}, ArcLine{48, 2}, Spare50{50, 2},
    PreArc{52, 2}, PreTime{54, 2}, OverLen{56, 2}, Arc2Power{58, 2}, Arc2Time{60, 2}, Arc2On{62, 2},
    Arc2Off{64, 2}, Spare66{66, 16}, PullingTest{82, 2};
static_assert(Tiles(std::array{FiberType, Name1,   Name2,        Spare28,    CutAngle,   LossLimit,
                               ArcValue,  ArcTime, ClearArcTime, AddArcTime, AlignType,  AlignSpace,
                               ArcLine,   Spare50, PreArc,       PreTime,    OverLen,    Arc2Power,
                               Arc2Time,  Arc2On,  Arc2Off,      Spare66,    PullingTest},
                    kSize));
}  // namespace splice

// The heater program (read 0x6C, write 0x6D).
namespace heater {
inline constexpr std::size_t kSize = 28;
inline constexpr Field HeatType{0, 1}, Name1{1, 6}, Name2{7, 14}, Spare21{21, 1}, Time{22, 2},
    Temperature{24, 2}, EndTemperature{26, 2};
static_assert(Tiles(std::array{HeatType, Name1, Name2, Spare21, Time, Temperature, EndTemperature},
                    kSize));
}  // namespace heater

// The readings (read 0x6E only).
namespace environment {
inline constexpr std::size_t kSize = 24;
inline constexpr Field Year{0, 1}, Month{1, 1}, Day{2, 1}, Hour{3, 1}, Minute{4, 1}, Second{5, 1},
    Spare6{6, 2}, InsideTemperature{8, 4}, AirPressure{12, 4}, Spare16{16, 4}, Voltage{20, 4};
static_assert(Tiles(std::array{Year, Month, Day, Hour, Minute, Second, Spare6, InsideTemperature,
                               AirPressure, Spare16, Voltage},
                    kSize));
}  // namespace environment

// The device configuration (read 0x72, write 0x73).
namespace config {
inline constexpr std::size_t kSize = 52;
inline constexpr Field Spare0{0, 1}, FsMode{1, 1}, HtMode{2, 1}, Autostart{3, 1}, Pause1{4, 1},
    Pause2{5, 1}, Spare6{6, 3}, Angle{9, 1}, Loss{10, 1}, Bubble{11, 1}, Wide{12, 1}, Thin{13, 1},
    Spare14{14, 1}, Autopush{15, 1}, AddArcs{16, 1}, Spare17{17, 1}, Language{18, 1}, LcdDir{19, 1},
    LcdBright{20, 1}, Spare21{21, 1}, Beep{22, 1}, Lamp{23, 1}, Fan{24, 1}, BaudRate{25, 1},
    Spare26{26, 2}, SysTime{28, 2}, LcdTime{30, 2}, Spare32{32, 4}, SerialNumber{36, 16};
static_assert(Tiles(std::array{Spare0,    FsMode,   HtMode,  Autostart, Pause1,      Pause2,
                               Spare6,    Angle,    Loss,    Bubble,    Wide,        Thin,
                               Spare14,   Autopush, AddArcs, Spare17,   Language,    LcdDir,
                               LcdBright, Spare21,  Beep,    Lamp,      Fan,         BaudRate,
                               Spare26,   SysTime,  LcdTime, Spare32,   SerialNumber},
                    kSize));
}  // namespace config

// A number into its field, low byte first (a negative one in two's complement).
inline void PutNumber(std::span<std::uint8_t> record, Field field, long long value) {
    const auto bits = static_cast<unsigned long long>(value);
    for (std::size_t i = 0; i < field.width; ++i)
        record[field.offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// An ASCII text into its field, cut to the width and padded with NULs.
inline void PutText(std::span<std::uint8_t> record, Field field, std::string_view text) {
    for (std::size_t i = 0; i < field.width; ++i)
        record[field.offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

// Bytes into a field, as they are (the rest of the field left as it was).
inline void PutBytes(std::span<std::uint8_t> record, Field field,
                     std::initializer_list<std::uint8_t> bytes) {
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        if (i < field.width) record[field.offset + i++] = b;
}

}  // namespace velmora::sim
