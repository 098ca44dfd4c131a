#pragma once
// The log of changes to jobs, closures, cables, trays, positions and the records'
// job, placing and test mark, kept in the archive file (written by its triggers, in
// the transaction of each change), and the state worked out from it when changes
// come from other laptops through a team archive.
//
// The latest change to a field wins, in one order every archive and the team
// archive share: by its time (the team archive's effective time once known, else
// the time of the laptop that made it), then its laptop's id, then that laptop's
// id for the change.
#include <cstdint>
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

class JobLog {
  public:
    // `ownLaptop`: the id the team archive knows this archive's own changes by
    // ("" where they have none, as in a team view): their place in the order.
    JobLog(Archive& archive, std::string ownLaptop);

    // This archive's own changes above `after`, by id, at most `limit`.
    std::optional<std::vector<JobChange>> ToSend(std::int64_t after, std::size_t limit);

    // Keeps changes read from a team archive (those of this archive come back with
    // their effective time; those it no longer holds, restored from an older backup,
    // are kept as the team archive has them): each once, in one transaction. The
    // entities whose winner may have changed are noted, and Apply works their state out.
    bool Keep(std::span<const JobChange> changes);
    // Writes the winning values of the noted entities into the job tables, parents
    // first, a batch a transaction; count = entities whose row changed. The rules
    // that a converged state may break are not checked (see job_log.cpp).
    std::optional<std::size_t> Apply();

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
    bool ApplyEntity(std::string_view kind, const std::string& entity, bool& changed);
    Archive& archive_;
    std::string ownLaptop_;
};

// The changes to the job `name` that lost to another laptop's, newest first, from
// this archive's own log (offline too). `ownLaptop` as for JobLog.
inline std::optional<std::vector<LostChange>> ReadJobHistory(Archive& archive,
                                                             std::string_view name,
                                                             std::string ownLaptop = {}) {
    return JobLog(archive, std::move(ownLaptop)).History(name);
}

}  // namespace velmora::archive
