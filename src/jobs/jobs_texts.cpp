#include "jobs/jobs_texts.h"

#include "archive/archive_texts.h"
#include "base/language.h"

namespace velmora::jobs {
namespace {

namespace k = keys::job_tab;

const TextKey* KeyOf(Refusal refusal) {
    switch (refusal) {
        case Refusal::None:
            return nullptr;
        case Refusal::EmptyName:
            return &k::EmptyName;
        case Refusal::DuplicateName:
            return &k::DuplicateName;
        case Refusal::NoSuchJob:
            return &k::NoSuchJob;
        case Refusal::NoSuchClosure:
            return &k::NoSuchClosure;
        case Refusal::NoSuchCable:
            return &k::NoSuchCable;
        case Refusal::NoSuchTray:
            return &k::NoSuchTray;
        case Refusal::NoSuchPosition:
            return &k::NoSuchPosition;
        case Refusal::NoSuchRecord:
            return &k::NoSuchRecord;
        case Refusal::BadLimit:
            return &k::BadLimit;
        case Refusal::BadPoint:
            return &k::BadPoint;
        case Refusal::BadFibreCount:
            return &k::BadFibreCount;
        case Refusal::BadPerTube:
            return &k::BadPerTube;
        case Refusal::BadCapacity:
            return &k::BadCapacity;
        case Refusal::PositionOverCapacity:
            return &k::PositionOverCapacity;
        case Refusal::FibreOverCount:
            return &k::FibreOverCount;
        case Refusal::FibreInUse:
            return &k::FibreInUse;
        case Refusal::PositionJoinsOther:
            return &k::PositionJoinsOther;
        case Refusal::RecordOfOtherJob:
            return &k::RecordOfOtherJob;
        case Refusal::RecordPlaced:
            return &k::RecordPlaced;
        case Refusal::RecordIsTestSplice:
            return &k::RecordIsTestSplice;
        case Refusal::NotEnoughUnplaced:
            return &k::NotEnoughUnplaced;
        case Refusal::ClosureNotEmpty:
            return &k::ClosureNotEmpty;
        case Refusal::CableInUse:
            return &k::CableInUse;
        case Refusal::TrayNotEmpty:
            return &k::TrayNotEmpty;
        case Refusal::CapacityBelowPositions:
            return &k::CapacityBelowPositions;
        case Refusal::NothingToUndo:
            return &k::NothingToUndo;
        case Refusal::BadNumber:
            return &k::BadNumber;
        case Refusal::OlderThanFailure:
            return &k::OlderThanFailure;
        case Refusal::PositionPlannedTwice:
            return &k::PositionPlannedTwice;
    }
    return nullptr;
}

// An empty name's detail says which kind of name: worded in the run's language too.
std::string DetailText(const JobResult& result) {
    if (result.refusal != Refusal::EmptyName) return result.detail;
    if (result.detail == "job") return Text(k::KindJob);
    if (result.detail == "closure") return Text(k::KindClosure);
    if (result.detail == "cable") return Text(k::KindCable);
    return result.detail;
}

}  // namespace

std::string RefusalText(const JobResult& result) {
    if (!result.error.ok()) return archive::ArchiveErrorText(result.error);
    const TextKey* key = KeyOf(result.refusal);
    if (!key) return {};
    std::string text = Text(*key);
    if (const auto at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, DetailText(result));
    return text;
}

}  // namespace velmora::jobs
