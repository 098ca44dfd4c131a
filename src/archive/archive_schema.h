#pragma once
// The archive's tables and their history. Each step brings a file from the version
// before it to its own, in one transaction of its own; PRAGMA user_version says how
// far a file has come. Steps are only ever added at the end, never changed.
#include <span>
#include <string>

struct sqlite3;

namespace velmora::archive {

struct MigrationStep {
    int version;      // the file's version once the step is applied: 1, 2, ...
    std::string sql;  // one or more statements
};

std::span<const MigrationStep> MigrationSteps();

// The version a file opened by this program ends at: the last step's.
int SchemaVersion();

struct MigrationOutcome {
    int sqliteCode = 0;  // SQLITE_OK when every step needed is applied
    std::string message;
};

// Applies the steps above the file's version, up to and including `target`. Each
// step checks the version again inside its transaction, so two programs migrating
// the same file at once apply every step exactly once. The steps run with foreign
// keys unenforced (a step may rebuild a table others refer to); each step is
// refused if it leaves a reference dangling.
MigrationOutcome Migrate(sqlite3* db, int target);

}  // namespace velmora::archive
