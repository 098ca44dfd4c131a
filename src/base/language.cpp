#include "base/language.h"

#include <memory>
#include <mutex>
#include <vector>

#include "base/ini_file.h"
#include "base/messages.h"

namespace velmora {

namespace {

// The caption file last read, kept for the run: a command looks up hundreds of
// captions, and reading the file for each cost an open and a parse every time.
// Another file (a language switched to, InstallConfig) replaces it.
struct CaptionCache {
    std::mutex mutex;
    std::filesystem::path file;
    std::shared_ptr<const ProfileTable> table;
};

CaptionCache& Captions() {
    static CaptionCache cache;
    return cache;
}

std::filesystem::path CaptionFile(const AppConfig& config) {
    return config.ParFolder() / (config.UsesEnglishFiles() ? "Lan_En.ini" : "Lan.ini");
}

std::shared_ptr<const ProfileTable> CaptionTable(const std::filesystem::path& file) {
    CaptionCache& cache = Captions();
    std::lock_guard lock(cache.mutex);
    if (!cache.table || cache.file != file) {
        cache.table = std::make_shared<const ProfileTable>(ProfileTable::Read(file));
        cache.file = file;
    }
    return cache.table;
}

}  // namespace

std::string LookupText(const AppConfig& config, std::string_view section, std::string_view key) {
    return CaptionTable(CaptionFile(config))->Lookup(section, key);
}

void ReloadCaptions() {
    CaptionCache& cache = Captions();
    std::lock_guard lock(cache.mutex);
    cache.table.reset();
}

std::string LookupText(std::string_view section, std::string_view key) {
    return LookupText(Config(), section, key);
}

std::string Text(const TextKey& key) {
    std::string value = LookupText(key.section, key.key);
    return value.empty() ? std::string(key.english) : value;
}

std::string CountText(std::size_t count, const TextKey& one, const TextKey& many) {
    return FillNumbered(Text(count == 1 ? one : many), {std::to_string(count)});
}

std::span<const TextKey> AllTextKeys() {
    static const std::vector<TextKey> all = [] {
        using namespace keys;
        std::vector<TextKey> v = {
            DlgName,          DlgStatOpen,      DlgStatClose,    CommStatFail,    CommStatSucess,
            DlgColorRed,      DlgColorGreen,    DlgColorBlue,    ParaCol0,        ParaCol1,
            BtnConnect,       BtnDisconnect,    BtnRestore,      BtnAccept,       BtnRefresh,
            HistoryCountCol0, HistoryCountCol1, HistoryParaCol0, HistoryParaCol1, BtnReceive,
            BtnExcel,         ImageCol0,        ImageCol1,       BtnSave,         BtnDownLoad,
            BtnBrowse,        BtnSend,          TxtInfo1,        TxtInfo2,        TxtInfo3};
        auto add = [&v](auto const& array) { v.insert(v.end(), array.begin(), array.end()); };
        add(TabNames);
        add(GroupNames);
        add(SpliceRows);
        add(HeaterRows);
        add(EnvironmentRows);
        add(FsConfigRows);
        add(SystemRows);
        add(HistoryDetailRows);
        namespace a = archive_tab;
        v.insert(v.end(), {a::TabName,
                           a::Splicer,
                           a::AllSplicers,
                           a::From,
                           a::To,
                           a::Job,
                           a::AllJobs,
                           a::NoJob,
                           a::SplicesPage,
                           a::SnapshotsPage,
                           a::RecordCount,
                           a::Loading,
                           a::JobName,
                           a::BtnNameSelected,
                           a::BtnNameAll,
                           a::BtnRename,
                           a::BtnExport,
                           a::NoImage,
                           a::ImageGone,
                           a::SnapTime,
                           a::SnapReason,
                           a::SnapGroups,
                           a::ReasonRead,
                           a::ReasonWrite,
                           a::ReasonBackup,
                           a::ReasonFirmware,
                           a::CompareWith,
                           a::ConnectedSplicer,
                           a::BtnCompare,
                           a::BtnRestore,
                           a::ConfigGroups,
                           a::DiffGroup,
                           a::DiffRow,
                           a::DiffSnapshot,
                           a::DiffOther,
                           a::NoDifference,
                           a::Unavailable,
                           a::ChooseRecords,
                           a::EnterJob,
                           a::ChooseJob,
                           a::Named,
                           a::Failed,
                           a::ChooseSnapshot,
                           a::ChooseGroups,
                           a::BadSnapshot,
                           a::OtherSplicer,
                           a::RestoreQuestion,
                           a::RestoreConfirm,
                           a::NothingToRestore,
                           a::Written,
                           a::NotWritten,
                           a::BackedUp,
                           a::NoBackup,
                           a::NoArchive});
        namespace j = job_tab;
        v.insert(v.end(), {j::KindJob,
                           j::KindClosure,
                           j::KindCable,
                           j::EmptyName,
                           j::DuplicateName,
                           j::NoSuchJob,
                           j::NoSuchClosure,
                           j::NoSuchCable,
                           j::NoSuchTray,
                           j::NoSuchPosition,
                           j::NoSuchRecord,
                           j::BadLimit,
                           j::BadPoint,
                           j::BadFibreCount,
                           j::BadPerTube,
                           j::BadCapacity,
                           j::BadNumber,
                           j::PositionOverCapacity,
                           j::FibreOverCount,
                           j::FibreInUse,
                           j::FibreToItself,
                           j::PositionJoinsOther,
                           j::RecordOfOtherJob,
                           j::RecordPlaced,
                           j::RecordIsTestSplice,
                           j::NotEnoughUnplaced,
                           j::ClosureNotEmpty,
                           j::CableInUse,
                           j::TrayNotEmpty,
                           j::CapacityBelowPositions,
                           j::NothingToUndo,
                           j::OlderThanFailure,
                           j::PositionPlannedTwice});
        // ---- The deliverables of a job.
        namespace f = job_files;
        add(f::ColourNames);
        v.insert(v.end(),
                 {f::ColTray,         f::ColPosition,    f::ColCableA,     f::ColTubeA,
                  f::ColFibreA,       f::ColColourA,     f::ColCableB,     f::ColTubeB,
                  f::ColFibreB,       f::ColColourB,     f::ColLoss,       f::ColResult,
                  f::ColSplicer,      f::ColNumber,      f::ColTime,       f::ColResplices,
                  f::ColReplaced,     f::MatrixTitle,    f::SummarySheet,  f::Customer,
                  f::Contractor,      f::Technicians,    f::Notes,         f::JobPassed,
                  f::JobNotPassed,    f::JobNotStarted,  f::JobInProgress, f::StateNotStarted,
                  f::StateInProgress, f::StateFailed,    f::StatePassed,   f::Closure,
                  f::Closures,        f::Location,       f::Latitude,      f::Longitude,
                  f::Positions,       f::Spliced,        f::OverLimit,     f::Respliced,
                  f::Planned,         f::Unplaced,       f::TestSplices,   f::Total,
                  f::Replaced,        f::ReplacedSplice, f::ReplacedCount, f::Failures,
                  f::NoFailures,      f::Fibres,         f::Cause,         f::NotInGbk});
        add(judging::Marks);
        v.insert(v.end(),
                 {job_plan::Row, job_plan::SheetRow, job_plan::Unreadable, job_plan::NotAPlan,
                  job_plan::MissingColumn, job_plan::EmptyCell, job_plan::NotText,
                  job_plan::BadNumber, job_plan::NoPositions, job_plan::TooMany});
        v.insert(v.end(), {judging::Job, judging::Verdict, judging::Passed, judging::MaxLoss,
                           judging::MaxAngle, judging::Number});
        // ---- End of the deliverables.
        // The Job tab's captions.
        v.insert(
            v.end(),
            {j::TabName,         j::ColName,          j::ColSpliced,      j::CountFailed,
             j::CountOver,       j::TrayItem,         j::UnplacedItem,    j::TestItem,
             j::FibreText,       j::MarkTest,         j::BtnNewJob,       j::BtnEdit,
             j::BtnAddClosure,   j::BtnAddCable,      j::BtnAddTray,      j::BtnDelete,
             j::BtnPlace,        j::BtnUndoPlacing,   j::BtnMove,         j::BtnTestSplice,
             j::BtnCountSplice,  j::JobCaption,       j::ClosureCaption,  j::CableCaption,
             j::TrayCaption,     j::MoveCaption,      j::FieldName,       j::FieldCustomer,
             j::FieldContractor, j::FieldTechnicians, j::FieldNotes,      j::FieldMaxLoss,
             j::FieldMaxAngle,   j::FieldLocation,    j::FieldPoint,      j::FieldFibres,
             j::FieldPerTube,    j::FieldTray,        j::FieldCapacity,   j::FieldFirstPosition,
             j::FieldPosition,   j::FieldCableA,      j::FieldCableB,     j::FieldLatest,
             j::FieldChosen,     j::PreviewRecord,    j::ResplicePreview, j::Placed,
             j::Unplaced,        j::PlacedOne,        j::UnplacedOne,     j::Moved,
             j::Marked,          j::Counted,          j::Deleted,         j::Saved,
             j::DeleteQuestion,  j::ChooseJob,        j::ChooseClosure,   j::ChooseTray,
             j::ChooseSplice,    j::ChooseCable,      j::NothingToPlace,  j::NoJobs,
             j::ColPlace,        j::PlaceText,        j::NoTrays});
        namespace h = handover;
        v.insert(v.end(),
                 {h::BtnHandOver, h::MenuXlsx,    h::MenuCsv,    h::MenuGeoJson, h::MenuDiagram,
                  h::Title,       h::NotPassed,   h::AsFolder,   h::AsZip,       h::Images,
                  h::Into,        h::WritesTo,    h::Write,      h::Writing,     h::Written,
                  h::Cancelled,   h::TargetTaken, h::NotWritten, h::PdfFailed,   h::ImagesLeftOut});
        namespace jp = job_planning;
        v.insert(v.end(),
                 {jp::BtnPlanPosition, jp::BtnImportPlan, jp::PlanCaption, jp::ImportCaption,
                  jp::PlanFiles, jp::FieldClosure, jp::FieldFibreA, jp::FieldFibreB, jp::PlannedOne,
                  jp::PlannedMany, jp::ClosureTray, jp::TrayFull, jp::JobFull, jp::FieldCables,
                  jp::FieldCableFibres, jp::OfNoJob});
        namespace t = team_tab;
        v.insert(v.end(), {t::NotAvailable, t::NotJoined, t::BadAddress, t::Unreachable,
                           t::AuthFailed, t::TlsFailed, t::NoRights, t::NotInitialised, t::TooNew,
                           t::ProtocolError, t::LocalArchive, t::Failed, t::Waiting, t::Sent,
                           t::ImagesWithoutFile, t::LastSend, t::NeverSent});
        return v;
    }();
    return all;
}

}  // namespace velmora
