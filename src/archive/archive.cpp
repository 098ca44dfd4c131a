// The archive's own face: its error codes, its clock and how each call runs. What it
// keeps lives beside this file, each part with its own SQL: opening and checking
// (archive_open.cpp), splicers (archive_splicers.cpp), records (archive_records.cpp),
// images, snapshots, naming jobs and sending to a team archive.
#include "archive/archive.h"

#include "archive/archive_sql.h"
#include "archive/database.h"

namespace velmora::archive {

const char* ErrorCodeName(ErrorCode code) {
    switch (code) {
        case ErrorCode::None:
            return "none";
        case ErrorCode::NoArchive:
            return "no archive";
        case ErrorCode::CannotOpen:
            return "cannot open";
        case ErrorCode::ReadOnly:
            return "read-only";
        case ErrorCode::Locked:
            return "locked";
        case ErrorCode::Damaged:
            return "damaged";
        case ErrorCode::TooNew:
            return "too new";
        case ErrorCode::DiskFull:
            return "disk full";
        case ErrorCode::InvalidArgument:
            return "invalid argument";
        case ErrorCode::NotFound:
            return "not found";
        case ErrorCode::Failed:
            return "failed";
    }
    return "unknown";
}

std::size_t RecordKindSize(RecordKind kind) {
    const std::optional<ParamRecord> record = RecordNumbered(static_cast<int>(kind));
    return record ? InfoOf(*record).size : 0;
}

std::chrono::sys_seconds Archive::Now() const {
    if (clock_) return clock_();
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

bool Archive::Attempt(std::string_view what, bool writes, const std::function<void()>& work) {
    if (writes && readOnly_) {
        lastError_ = {ErrorCode::ReadOnly, std::string(what) + ": the file cannot be written"};
    } else {
        lastError_ = db::Attempt(what, work);
    }
    if (lastError_.ok()) return true;
    lastError_.file = file_;
    return false;
}

void Archive::SetApplyingChanges(bool on) {
    changes_->applying = on;
}

void Archive::LeaveLogOnClose() {
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

}  // namespace velmora::archive
