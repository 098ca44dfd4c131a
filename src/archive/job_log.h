#pragma once
// The log of changes to jobs, closures, cables, trays, positions and the records'
// job, placing and test mark, kept in the archive file (written by its triggers, in
// the transaction of each change), and the state worked out from it when changes
// come from other laptops through a team archive.
//
// Every parent is logged by its id (a job's, a closure's, ...), the same in every
// archive and the team archive, so that renaming moves nothing. The latest change to
// a field wins, in the order change_order.h defines.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/archive.h"

namespace velmora::archive {

// Kinds of entity, in the order their state is applied (a parent before its children).
inline constexpr std::string_view kChangeKinds[] = {"job",  "closure",  "cable",
                                                    "tray", "position", "record"};

struct JobChange {
    std::int64_t id = 0;                      // this archive's row
    std::string kind;                         // one of kChangeKinds
    std::string entity;                       // its id; a record's identity for a record
    std::string field;                        // "name", "job", "position", "deleted", ...
    std::optional<std::string> value;         // nothing for no value (unplaced, no limit)
    std::int64_t changedAt = 0;               // Unix seconds, the clock of the laptop that made it
    std::string author;                       // the user who made it
    std::string laptop;                       // the laptop that made it; "" for this archive's own
    std::int64_t originId = 0;                // that laptop's id for it
    std::optional<std::int64_t> effective{};  // the team archive's time for it, once known
};

// A change that did not win, with the value that did.
struct LostChange {
    JobChange change;
    std::optional<std::string> winningValue;
    std::string winningAuthor;
    std::int64_t winningTime = 0;
    // What the entity is, for people: the job's, closure's or cable's name, the tray's
    // or position's number, or the record's splicer and bytes.
    std::string entityName;
};

// An entity whose state from the team archive breaks a rule of the archive file
// itself (a constraint): left as it was.
struct UnappliedEntity {
    std::string kind;
    std::string entity;
    std::string reason;  // SQLite's words
};
struct Applied {
    std::size_t changed = 0;  // entities whose row changed
    std::vector<UnappliedEntity> unapplied;
};

namespace db {
class Transaction;
}

class JobLog {
  public:
    // `ownLaptop`: the id the team archive knows this archive's own changes by
    // ("" where they have none, as in a team view): their place in the order.
    JobLog(Archive& archive, std::string ownLaptop);
    ~JobLog();

    // A read of a team archive kept whole: begun before its first store and committed
    // after its last (the read's mark with it). The records and images stored in
    // between are noted as read from the team archive: never sent back to it. A read
    // not committed keeps nothing.
    bool BeginRead();
    bool CommitRead();

    // This archive's own changes above `after`, by id, at most `limit`.
    std::optional<std::vector<JobChange>> ToSend(std::int64_t after, std::size_t limit);

    // Keeps changes read from a team archive (those of this archive come back with
    // their effective time; those it no longer holds, restored from an older backup,
    // are kept as the team archive has them): each once, in one transaction. The
    // entities whose winner may have changed are noted, and Apply works their state out.
    bool Keep(std::span<const JobChange> changes);
    // Writes the winning values of the noted entities into the job tables, parents
    // first, a batch a transaction. The rules that a converged state may break are
    // not checked (see job_log.cpp); an entity whose state the file's own constraints
    // refuse is left as it was and told.
    std::optional<Applied> Apply();

    // After this archive was restored from a backup older than what the team archive
    // `team` took from it: its changes above `sentUpTo` (made since, with ids the team
    // archive already holds) move above `takenUpTo`, later ids follow, and its mark
    // for the team archive becomes `takenUpTo`. In one transaction.
    bool MoveOwnAbove(std::int64_t sentUpTo, std::int64_t takenUpTo, std::string_view team);

    // The changes to the job `name` (its details, closures, cables, trays, positions
    // and records) that did not win, newest first.
    std::optional<std::vector<LostChange>> History(std::string_view name);
    // The ids of the jobs this archive holds, with their names.
    std::optional<std::vector<std::pair<std::string, std::string>>> Jobs();

    const ArchiveError& LastError() const { return archive_.LastError(); }

  private:
    Archive& archive_;
    std::string ownLaptop_;
    std::unique_ptr<db::Transaction> read_;  // the read under way
    std::int64_t recordsBefore_ = 0;         // the highest ids when it began
    std::int64_t imagesBefore_ = 0;
};

// The changes to the job `name` that lost to another laptop's, newest first, from
// this archive's own log (offline too). `ownLaptop` as for JobLog.
inline std::optional<std::vector<LostChange>> ReadJobHistory(Archive& archive,
                                                             std::string_view name,
                                                             std::string ownLaptop = {}) {
    return JobLog(archive, std::move(ownLaptop)).History(name);
}

}  // namespace velmora::archive
