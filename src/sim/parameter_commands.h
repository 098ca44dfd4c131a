#pragma once
// The virtual splicer's parameter records: reads of the splice program, heater
// program, environment and device configuration, and the three writes.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "settings/parameter_records.h"
#include "sim/virtual_splicer.h"

namespace velmora::sim {

// The records the virtual splicer holds. Shared between its thread and tests.
class ParameterStore {
  public:
    ParameterStore();

    // Record bytes as the next read sends them (the environment's readings drift
    // a little on each read).
    FieldBytes<kSpliceParamsSize> Splice() const;
    FieldBytes<kHeaterParamsSize> Heater() const;
    FieldBytes<kDeviceConfigSize> Config() const;
    void SetSplice(const FieldBytes<kSpliceParamsSize>& bytes);
    void SetHeater(const FieldBytes<kHeaterParamsSize>& bytes);
    void SetEnvironment(const FieldBytes<kEnvironmentInfoSize>& bytes);
    void SetConfig(const FieldBytes<kDeviceConfigSize>& bytes);
    // Fixes the environment: reads send exactly what SetEnvironment gave.
    void FreezeEnvironment(bool frozen);

    // The replies, whole frames.
    std::vector<std::uint8_t> AnswerRead(std::uint8_t command);
    std::vector<std::uint8_t> AnswerWrite(std::uint8_t command,
                                          const std::vector<std::uint8_t>& data);

  private:
    FieldBytes<kEnvironmentInfoSize> NextEnvironment();

    mutable std::mutex mutex_;
    FieldBytes<kSpliceParamsSize> splice_{};
    FieldBytes<kHeaterParamsSize> heater_{};
    FieldBytes<kEnvironmentInfoSize> environment_{};
    FieldBytes<kDeviceConfigSize> config_{};
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
