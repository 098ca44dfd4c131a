// A splice plan as a file an office may send, whole or damaged: a CSV file, or an
// XLSX workbook through the ZIP and XML readers. Whatever the bytes, the reading
// ends with positions of whole numbers from their rows, or with a reason.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "jobs/plan_file.h"

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora_fuzz::Bytes bytes(data, size);
    const bool xlsx = (bytes.Byte() & 1) != 0;
    const jobs::PlanReading reading = jobs::ReadPlan(velmora_fuzz::AsText(bytes.Rest()), xlsx);
    if (!reading.ok()) {
        FUZZ_CHECK(!jobs::PlanProblemText(reading, "plan").empty());
        return 0;
    }
    FUZZ_CHECK(!reading.plan.positions.empty());
    FUZZ_CHECK(reading.plan.positions.size() == reading.plan.sources.size());
    FUZZ_CHECK(reading.plan.positions.size() <= jobs::kMaxPlanPositions);
    for (const jobs::PlannedPosition& p : reading.plan.positions) {
        FUZZ_CHECK(p.tray >= 1 && p.position >= 1 && p.fibreA >= 1 && p.fibreB >= 1);
        FUZZ_CHECK(!p.closure.empty() && !p.cableA.empty() && !p.cableB.empty());
    }
    return 0;
}
