#include "sim/record_commands.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "sim/splicer_frames.h"

namespace velmora::sim {
namespace {

// A well-mixed 64-bit value per index (splitmix64), so records look varied but repeat.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Draws small numbers one after another from one mixed value.
class Dice {
  public:
    explicit Dice(int index) : bits_(Mix(static_cast<std::uint64_t>(index))) {}
    int Roll(int sides) {
        int value = static_cast<int>(bits_ % static_cast<std::uint64_t>(sides));
        bits_ = Mix(bits_);
        return value;
    }

  private:
    std::uint64_t bits_;
};

// Program numbers: 0 AUTO, 1 SM AUTO, 2 MM AUTO, 3 NZ AUTO, 4 DS AUTO, 5 SM, 6 NZ, 7 DS, 8 MM.
int PickProgram(Dice& dice) {
    static constexpr int kWeighted[20] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                          5, 5, 5, 2, 2, 3, 3, 4, 0, 8};
    return kWeighted[dice.Roll(20)];
}

bool IsMultimode(int program) {
    return program == 2 || program == 8;
}

void Put16(std::array<std::uint8_t, kSpliceRecordLength>& r, std::size_t at, int value) {
    r[at] = static_cast<std::uint8_t>(value & 0xFF);
    r[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void PutTime(std::array<std::uint8_t, kSpliceRecordLength>& r, int index, Dice& dice) {
    using namespace std::chrono;
    // Sixty splices a working day from 08:00, about seven minutes apart, from 3 March 2025.
    constexpr int kPerDay = 60;
    const sys_days date = sys_days{year{2025} / March / 3} + days{index / kPerDay};
    const year_month_day ymd{date};
    const int minuteOfDay = 8 * 60 + (index % kPerDay) * 7 + dice.Roll(5);
    r[0] = static_cast<std::uint8_t>(static_cast<int>(ymd.year()) - 2000);
    r[1] = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.month()));
    r[2] = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.day()));
    r[3] = static_cast<std::uint8_t>(minuteOfDay / 60);
    r[4] = static_cast<std::uint8_t>(minuteOfDay % 60);
    r[5] = static_cast<std::uint8_t>(dice.Roll(60));
}

}  // namespace

std::array<std::uint8_t, kSpliceRecordLength> SampleRecord(int index) {
    std::array<std::uint8_t, kSpliceRecordLength> r{};
    Dice dice(index);
    PutTime(r, index, dice);
    const bool failed = dice.Roll(25) == 0;
    const int program = PickProgram(dice);
    const bool multimode = IsMultimode(program);
    r[6] = failed ? 1 : 0;
    Put16(r, 8, failed ? 15 + dice.Roll(46) : 1 + dice.Roll(8));  // loss, hundredths of a dB
    // A failed splice usually comes from a poor cleave on one side.
    const int badSide = failed ? dice.Roll(2) : -1;
    Put16(r, 10, badSide == 0 ? 20 + dice.Roll(26) : dice.Roll(10));  // tenths of a degree
    Put16(r, 12, badSide == 1 ? 20 + dice.Roll(26) : dice.Roll(10));
    // AUTO mode records the fibre it detected.
    r[14] = static_cast<std::uint8_t>(program == 0 ? 1 : program);
    Put16(r, 16, program + 1);
    Put16(r, 18, dice.Roll(40) == 0 ? 2 : (multimode ? 0 : 1));  // manual, covering, core
    Put16(r, 20, multimode ? 15 : 10);
    Put16(r, 22, dice.Roll(7) - 3);  // arc line, signed
    Put16(r, 24, multimode ? 80 : 100);
    Put16(r, 26, multimode ? 220 : 180);
    Put16(r, 28, 290 + dice.Roll(21));
    Put16(r, 30, multimode ? 2500 : (program == 4 || program == 7 ? 2200 : 2000));
    Put16(r, 32, multimode ? 25 : 30);
    return r;
}

std::vector<std::uint8_t> SampleRecordFrame(int index) {
    return SplicerFrame(code::RecordDownload, SampleRecord(index));
}

std::vector<std::uint8_t> SampleRecordStream(int count) {
    std::vector<std::uint8_t> stream;
    stream.reserve(static_cast<std::size_t>(std::max(count, 0)) * kSpliceRecordFrameLength);
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> frame = SampleRecordFrame(i);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

void InstallRecordCommands(VirtualSplicer& splicer, int count) {
    const int held = std::clamp(count, 0, 0xFFFF);
    splicer.SetHandler(code::RecordCount, [held](const Request&) {
        const std::uint8_t count[] = {static_cast<std::uint8_t>(held & 0xFF),
                                      static_cast<std::uint8_t>(held >> 8)};
        return SplicerFrame(code::RecordCount, count);
    });
    // Built once: the memory does not change while the splicer runs.
    auto stream = std::make_shared<const std::vector<std::uint8_t>>(SampleRecordStream(held));
    splicer.SetHandler(code::RecordDownload, [stream](const Request&) { return *stream; });
}

}  // namespace velmora::sim
