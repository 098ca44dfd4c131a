#pragma once
// The virtual splicer's parameter records: reads of the splice program, heater
// program, environment and device configuration, and the three writes.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/parameter_layout.h"
#include "sim/virtual_splicer.h"

namespace velmora::sim {

template <std::size_t N>
using RecordBytes = std::array<std::uint8_t, N>;

// The records the virtual splicer holds. Shared between its thread and tests.
class ParameterStore {
  public:
    ParameterStore();

    // Record bytes as the next read sends them (the environment's readings drift
    // a little on each read).
    RecordBytes<splice::kSize> Splice() const;
    RecordBytes<heater::kSize> Heater() const;
    RecordBytes<config::kSize> Config() const;
    void SetSplice(const RecordBytes<splice::kSize>& bytes);
    void SetHeater(const RecordBytes<heater::kSize>& bytes);
    void SetEnvironment(const RecordBytes<environment::kSize>& bytes);
    void SetConfig(const RecordBytes<config::kSize>& bytes);
    // Fixes the environment: reads send exactly what SetEnvironment gave.
    void FreezeEnvironment(bool frozen);

    // The replies, whole frames.
    std::vector<std::uint8_t> AnswerRead(std::uint8_t command);
    std::vector<std::uint8_t> AnswerWrite(std::uint8_t command,
                                          const std::vector<std::uint8_t>& data);

  private:
    RecordBytes<environment::kSize> NextEnvironment();

    mutable std::mutex mutex_;
    RecordBytes<splice::kSize> splice_{};
    RecordBytes<heater::kSize> heater_{};
    RecordBytes<environment::kSize> environment_{};
    RecordBytes<config::kSize> config_{};
    bool environmentFrozen_ = false;
    unsigned readings_ = 0;
};

// Answers 0x6A to 0x6E, 0x72 and 0x73 from a store with realistic values and
// returns the store. The serial number names the device (its folder drops the
// first character).
std::shared_ptr<ParameterStore> InstallParameterCommands(VirtualSplicer& splicer);

// The serial number the virtual splicer reports.
inline constexpr const char* kSimSerialNumber = "VM2406A0153";

}  // namespace velmora::sim
