#pragma once
// The virtual splicer's splice history: a fixed, repeatable set of records that
// it counts (0x63) and sends (0x64) as a real splicer would.
#include <array>
#include <cstdint>
#include <vector>

#include "sim/virtual_splicer.h"

namespace velmora::sim {

inline constexpr int kDefaultRecordCount = 150;

// One splice record: 34 bytes, numbers low byte first. In its frame of the
// download, 87 64 22, the record, check: 38 bytes.
inline constexpr std::size_t kSpliceRecordLength = 34;
inline constexpr std::size_t kSpliceRecordFrameLength = kSpliceRecordLength + 4;

// Record `index` of the splicer's memory: the same bytes on every run. Mostly
// good splices of 0.01 to 0.08 dB, now and then a failure, over several programs
// and fibre types, a few minutes apart.
std::array<std::uint8_t, kSpliceRecordLength> SampleRecord(int index);

// Record `index` in its 38-byte frame: 87 64 22, the record, check.
std::vector<std::uint8_t> SampleRecordFrame(int index);

// The whole reply to a download request: `count` record frames back to back.
std::vector<std::uint8_t> SampleRecordStream(int count);

// Answers 0x63 with `count` (its 16 bits, low byte first) and 0x64 with all
// `count` records, whatever count byte the request carries.
void InstallRecordCommands(VirtualSplicer& splicer, int count = kDefaultRecordCount);

}  // namespace velmora::sim
