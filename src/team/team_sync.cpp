#include "team/team_sync.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <set>
#include <type_traits>
#include <unordered_set>
#include <utility>

#include "archive/job_log.h"
#include "base/atomic_file.h"
#include "base/file_read.h"
#include "base/sha256.h"
#include "team/team_values.h"

namespace velmora::team {
namespace {

using archive::OutboxKind;
using std::chrono::sys_seconds;

// "2026-12-07 09:15:00+00": a moment as PostgreSQL reads a timestamptz.
std::string UtcText(sys_seconds t) {
    const auto day = std::chrono::floor<std::chrono::days>(t);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{t - day};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d+00",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

// "2026-12-07 09:15:00" from the splicer's own fields; nullopt when they do not
// form a real date and time of the years 1 to 9999. The team archive works the same
// out of a row's bytes (velmora.splice_time) and refuses a row that says otherwise.
std::optional<std::string> SpliceTimeText(int year, unsigned month, unsigned day, int hour,
                                          int minute, int second) {
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month),
                                           std::chrono::day(day)};
    if (year < 1 || year > 9999 || !date.ok() || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return text;
}

std::optional<std::string> SpliceTimeText(const SpliceRecord& r) {
    return SpliceTimeText(2000 + r.yearOffset(), static_cast<unsigned>(r.month()),
                          static_cast<unsigned>(r.day()), r.hour(), r.minute(), r.second());
}

// An image stamp "YYYYMMDDhhmmss".
std::optional<std::string> StampTimeText(const std::string& stamp) {
    if (stamp.size() != 14 || stamp.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    auto part = [&](std::size_t at, std::size_t n) { return std::stoi(stamp.substr(at, n)); };
    return SpliceTimeText(part(0, 4), static_cast<unsigned>(part(4, 2)),
                          static_cast<unsigned>(part(6, 2)), part(8, 2), part(10, 2), part(12, 2));
}

// The splicers of a batch, each once: inserted when the team archive lacks them.
template <class Row>
bool SendSplicers(Connection& connection, const std::vector<Row>& rows, const std::string& laptop) {
    std::set<std::pair<std::string, std::string>> splicers;
    for (const Row& row : rows) splicers.emplace(row.serialNumber, row.device);
    Values values;
    const std::string laptopParam = values.Text(laptop);
    std::string sql = "INSERT INTO velmora.splicers(serial, folder, laptop) VALUES ";
    bool first = true;
    for (const auto& [serial, folder] : splicers) {
        sql += (first ? "(" : ", (") + values.Text(serial) + ", " + values.Text(folder) + ", " +
               laptopParam + "::uuid)";
        first = false;
    }
    return connection.Run(sql + " ON CONFLICT DO NOTHING", values.All()).has_value();
}

// The id of the splicer a VALUES row v names, by the identity rule.
constexpr const char* kJoinSplicer =
    " JOIN velmora.splicers s ON s.serial = v.serial AND "
    "s.folder_key = CASE WHEN v.serial = '' THEN v.folder ELSE '' END";

// The rows of a batch go as one array per column (see ArrayValue), taken apart on
// the server by unnest(): one statement whatever the batch's size.
bool SendRecords(Connection& connection, const std::vector<archive::OutboxRecord>& rows,
                 const std::string& laptop) {
    using Of = ArrayValue::Of;
    ArrayValue serials(Of::Text), folders(Of::Text), bytes(Of::Bytes), times(Of::Text),
        downloaded(Of::Text);
    for (const archive::OutboxRecord& r : rows) {
        serials.Add(r.serialNumber);
        folders.Add(r.device);
        bytes.AddBytes(r.record.bytes);
        times.AddOptional(SpliceTimeText(r.record));
        downloaded.Add(UtcText(r.stored));
    }
    const std::array values{Value::Text(laptop), serials.Done(), folders.Done(),
                            bytes.Done(),        times.Done(),   downloaded.Done()};
    return connection
        .Run(std::string(
                 "INSERT INTO velmora.records(splicer_id, bytes, splice_time, downloaded, laptop) "
                 "SELECT s.id, v.bytes, v.splice_time::timestamp, v.downloaded::timestamptz, "
                 "$1::uuid FROM unnest($2::text[], $3::text[], $4::bytea[], $5::text[], "
                 "$6::text[]) AS v(serial, folder, bytes, splice_time, downloaded)") +
                 kJoinSplicer + " ON CONFLICT (splicer_id, bytes) DO NOTHING",
             values)
        .has_value();
}

// An image the team archive holds without its bytes (sent when its file was gone)
// takes them from the first send that has them.
bool SendImages(Connection& connection, const std::vector<archive::OutboxImage>& rows,
                ArrayValue& jpegs, const std::string& laptop) {
    using Of = ArrayValue::Of;
    ArrayValue serials(Of::Text), folders(Of::Text), stamps(Of::Text), times(Of::Text),
        names(Of::Text), sizes(Of::Text), hashes(Of::Text), stored(Of::Text);
    for (const archive::OutboxImage& r : rows) {
        serials.Add(r.serialNumber);
        folders.Add(r.device);
        stamps.Add(r.stamp);
        times.AddOptional(StampTimeText(r.stamp));
        names.Add(r.fileName);
        sizes.Add(std::to_string(r.size));
        hashes.Add(r.sha256);
        stored.Add(UtcText(r.stored));
    }
    const std::array values{Value::Text(laptop), serials.Done(), folders.Done(), stamps.Done(),
                            times.Done(),        names.Done(),   sizes.Done(),   hashes.Done(),
                            jpegs.Done(),        stored.Done()};
    return connection
        .Run(std::string("INSERT INTO velmora.images(splicer_id, stamp, splice_time, file_name, "
                         "size, sha256, jpeg, stored, laptop) SELECT s.id, v.stamp, "
                         "v.splice_time::timestamp, v.file_name, v.size::bigint, v.sha256, "
                         "v.jpeg, v.stored::timestamptz, $1::uuid FROM unnest($2::text[], "
                         "$3::text[], $4::text[], $5::text[], $6::text[], $7::text[], "
                         "$8::text[], $9::bytea[], $10::text[]) AS v(serial, folder, stamp, "
                         "splice_time, file_name, size, sha256, jpeg, stored)") +
                 kJoinSplicer +
                 " ON CONFLICT (splicer_id, stamp, sha256) DO UPDATE SET jpeg = excluded.jpeg, "
                 "size = excluded.size WHERE velmora.images.jpeg IS NULL AND "
                 "excluded.jpeg IS NOT NULL",
             values)
        .has_value();
}

bool SendSnapshots(Connection& connection, const std::vector<archive::OutboxSnapshot>& rows,
                   const std::string& laptop) {
    using Of = ArrayValue::Of;
    ArrayValue serials(Of::Text), folders(Of::Text), taken(Of::Text), reasons(Of::Text),
        groups(Of::Bytes);
    for (const archive::OutboxSnapshot& r : rows) {
        serials.Add(r.serialNumber);
        folders.Add(r.device);
        taken.Add(UtcText(r.stored));
        reasons.Add(r.reason);
        // Each parameter record given: its kind (one byte), then its bytes.
        std::string bytes;
        for (const archive::GroupBytes& group : r.groups) {
            bytes.push_back(static_cast<char>(group.kind));
            bytes.append(group.bytes.begin(), group.bytes.end());
        }
        groups.Add(std::string_view(bytes));
    }
    const std::array values{Value::Text(laptop), serials.Done(), folders.Done(),
                            taken.Done(),        reasons.Done(), groups.Done()};
    return connection
        .Run(std::string("INSERT INTO velmora.snapshots(splicer_id, taken, reason, groups, "
                         "laptop) SELECT s.id, v.taken::timestamptz, v.reason, v.groups, "
                         "$1::uuid FROM unnest($2::text[], $3::text[], $4::text[], $5::text[], "
                         "$6::bytea[]) AS v(serial, folder, taken, reason, groups)") +
                 kJoinSplicer + " ON CONFLICT (splicer_id, taken, reason, groups) DO NOTHING",
             values)
        .has_value();
}

// The changes to jobs of a batch, with the laptop's clock now: the team archive
// weighs their times against its own by it. Their author is the database user that
// sends them, as the team archive stamps it.
bool SendChanges(Connection& connection, const std::vector<archive::JobChange>& rows,
                 const std::string& laptop, const archive::Clock& now) {
    using Of = ArrayValue::Of;
    ArrayValue ids(Of::Text), kinds(Of::Text), entities(Of::Text), fields(Of::Text),
        changedValues(Of::Text), times(Of::Text);
    for (const archive::JobChange& c : rows) {
        ids.Add(std::to_string(c.id));
        kinds.Add(c.kind);
        entities.Add(c.entity);
        fields.Add(c.field);
        changedValues.AddOptional(c.value);
        times.Add(UtcText(sys_seconds{std::chrono::seconds{c.changedAt}}));
    }
    const std::string clock = UtcText(
        now ? now() : std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
    const std::array values{Value::Text(laptop),  Value::Text(clock), ids.Done(),
                            kinds.Done(),         entities.Done(),    fields.Done(),
                            changedValues.Done(), times.Done()};
    return connection
        .Run(
            "INSERT INTO velmora.changes(laptop, change_id, kind, entity, field, value, "
            "changed_at, author, laptop_clock) SELECT $1::uuid, v.change_id::bigint, v.kind, "
            "v.entity, v.field, v.value, v.changed_at::timestamptz, session_user, "
            "$2::timestamptz FROM unnest($3::text[], $4::text[], $5::text[], $6::text[], "
            "$7::text[], $8::text[]) AS v(change_id, kind, entity, field, value, changed_at) "
            "ON CONFLICT (laptop, change_id) DO NOTHING",
            values)
        .has_value();
}

// The laptop's mark for `kind` in the team archive: its id of the batch's last row.
// Never moved back: two sends of the same laptop at once commit the same batches,
// and the one that waited must not undo the other's later mark.
bool SendMark(Connection& connection, const std::string& laptop, OutboxKind kind,
              std::int64_t upTo) {
    // Values view their text: it lives as long as the statement.
    const std::string kindText = std::to_string(static_cast<int>(kind));
    const std::string upToText = std::to_string(upTo);
    const std::array values{Value::Text(laptop), Value::Text(kindText), Value::Text(upToText)};
    return connection
        .Run(
            "INSERT INTO velmora.sent_marks(laptop, kind, up_to) "
            "VALUES ($1::uuid, $2::smallint, $3::bigint) ON CONFLICT (laptop, kind) DO UPDATE "
            "SET up_to = GREATEST(velmora.sent_marks.up_to, excluded.up_to), sent_by = "
            "session_user, "
            "updated = now()",
            values)
        .has_value();
}

// The team archive's marks for this laptop, by kind (0 where it has none).
std::optional<archive::OutboxCounts> TeamMarks(Connection& connection, const std::string& laptop) {
    const std::array values{Value::Text(laptop)};
    const auto rows = connection.Run(
        "SELECT kind::text, up_to::text FROM velmora.sent_marks WHERE laptop = $1::uuid", values);
    if (!rows) return std::nullopt;
    archive::OutboxCounts marks{};
    for (const auto& row : *rows) {
        if (row.size() != 2 || !row[0] || !row[1]) continue;
        const auto kind = static_cast<std::size_t>(std::atoi(row[0]->c_str()));
        if (kind < marks.size()) marks[kind] = std::atoll(row[1]->c_str());
    }
    return marks;
}

// Whether the team archive's first change from this laptop above `after` is the
// local archive's own first change above it; nothing on a failure (told in `error`).
std::optional<bool> SameNextChange(Connection& connection, archive::Archive& local,
                                   const std::string& laptop, std::int64_t after,
                                   TeamError& error) {
    const std::string afterText = std::to_string(after);
    const std::array values{Value::Text(laptop), Value::Text(afterText)};
    const auto rows = connection.Run(
        "SELECT change_id::text, kind, entity, field, value, "
        "extract(epoch FROM changed_at)::bigint::text FROM velmora.changes "
        "WHERE laptop = $1::uuid AND change_id > $2::bigint ORDER BY change_id LIMIT 1",
        values);
    if (!rows) {
        error = connection.LastError();
        return std::nullopt;
    }
    const auto own = archive::JobLog(local, laptop).ToSend(after, 1);
    if (!own) {
        error = {TeamErrorCode::LocalArchive, local.LastError().message};
        return std::nullopt;
    }
    if (rows->empty() || own->empty() || rows->front().size() != 6) return false;
    const Row& r = rows->front();
    const archive::JobChange& c = own->front();
    return r[0] == std::to_string(c.id) && r[1] == c.kind && r[2] == c.entity && r[3] == c.field &&
           r[4] == c.value && r[5] == std::to_string(c.changedAt);
}

// The image's JPEG bytes from its file, when it is still there and still the image
// the archive keeps account of; nothing otherwise.
std::optional<std::string> JpegOf(const std::filesystem::path& dataFolder,
                                  const archive::OutboxImage& image) {
    FileReadResult read =
        ReadWholeFile(dataFolder / "FS" / image.device / "JPG" / image.fileName, image.size);
    if (!read.ok() || read.bytes.size() != image.size) return std::nullopt;
    const auto* data = reinterpret_cast<const std::uint8_t*>(read.bytes.data());
    if (HexText(Sha256Of({data, read.bytes.size()})) != image.sha256) return std::nullopt;
    return std::move(read.bytes);
}

// A test's way to end a send at a chosen point as a kill would, without racing it:
// VELMORA_SEND_CUT_FOR_TESTS="<kind 0-3>:<batch, from 1>:<commit|mark>" ends the
// program before the team archive's commit of that batch of that kind (`commit`),
// or after it and before this archive's mark (`mark`).
struct SendCut {
    int kind = -1;
    long batch = 0;
    bool afterCommit = false;
};
SendCut SendCutAsked() {
    SendCut cut;
    const char* asked = std::getenv("VELMORA_SEND_CUT_FOR_TESTS");
    char point[16] = {};
    if (asked && std::sscanf(asked, "%d:%ld:%15s", &cut.kind, &cut.batch, point) == 3)
        cut.afterCommit = std::string_view(point) == "mark";
    return cut;
}

// A job item (a job, closure, cable, tray, position, or a record's job, placing
// or test mark) as the count of changed items knows it.
std::size_t JobItemOf(const archive::JobChange& change) {
    return std::hash<std::string>{}(change.kind + '\0' + change.entity);
}

class Sender {
  public:
    Sender(Connection& connection, archive::Archive& local, const SendOptions& options)
        : connection_(connection), local_(local), options_(options), cut_(SendCutAsked()) {}

    // One batch in one server transaction, then its mark: false on a failure (kept).
    template <class Rows, class Send>
    bool Batch(OutboxKind kind, const Rows& rows, Send send) {
        if (options_.stop.stop_requested()) return Fail(StoppedError());
        const bool cutHere = static_cast<int>(kind) == cut_.kind &&
                             ++batches_[static_cast<std::size_t>(kind)] == cut_.batch;
        if (!connection_.Begin()) return Fail(connection_.LastError());
        bool splicers = true;
        if constexpr (!std::is_same_v<Rows, std::vector<archive::JobChange>>)
            splicers = SendSplicers(connection_, rows, options_.laptopId);
        if (!splicers || !send() ||
            !SendMark(connection_, options_.laptopId, kind, rows.back().id)) {
            const TeamError error = connection_.LastError();
            connection_.Rollback();
            return Fail(error);
        }
        if (cutHere && !cut_.afterCommit) std::_Exit(137);
        if (!connection_.Commit()) return Fail(connection_.LastError());
        if (cutHere) std::_Exit(137);
        if (!local_.MarkSent(options_.archiveId, kind, rows.back().id)) return Fail(LocalError());
        if constexpr (std::is_same_v<Rows, std::vector<archive::JobChange>>) {
            for (const archive::JobChange& change : rows) sentItems_.insert(JobItemOf(change));
            outcome.sent[static_cast<std::size_t>(kind)] =
                static_cast<std::int64_t>(sentItems_.size());
        } else {
            outcome.sent[static_cast<std::size_t>(kind)] += static_cast<std::int64_t>(rows.size());
        }
        return true;
    }

    bool Records(std::int64_t after) {
        while (true) {
            const auto rows = local_.RecordsToSend(after, options_.recordsPerBatch);
            if (!rows) return Fail(LocalError());
            if (rows->empty()) return true;
            if (!Batch(OutboxKind::Records, *rows,
                       [&] { return SendRecords(connection_, *rows, options_.laptopId); }))
                return false;
            after = rows->back().id;
        }
    }

    bool Images(std::int64_t after) {
        while (true) {
            const auto listed = local_.ImagesToSend(after, 64);
            if (!listed) return Fail(LocalError());
            if (listed->empty()) return true;
            // Cut where the JPEG bytes held would pass the bound (one image at least).
            std::vector<archive::OutboxImage> rows;
            ArrayValue jpegs(ArrayValue::Of::Bytes);
            std::size_t bytes = 0;
            for (const archive::OutboxImage& image : *listed) {
                if (!rows.empty() && bytes + image.size > options_.imageBytesPerBatch) break;
                std::optional<std::string> jpeg = JpegOf(options_.dataFolder, image);
                if (!jpeg) ++outcome.imagesWithoutFile;
                bytes += jpeg ? jpeg->size() : 0;
                jpegs.AddOptional(jpeg);
                rows.push_back(image);
            }
            if (!Batch(OutboxKind::Images, rows,
                       [&] { return SendImages(connection_, rows, jpegs, options_.laptopId); }))
                return false;
            after = rows.back().id;
        }
    }

    bool Snapshots(std::int64_t after) {
        while (true) {
            const auto rows = local_.SnapshotsToSend(after, 500);
            if (!rows) return Fail(LocalError());
            if (rows->empty()) return true;
            if (!Batch(OutboxKind::Snapshots, *rows,
                       [&] { return SendSnapshots(connection_, *rows, options_.laptopId); }))
                return false;
            after = rows->back().id;
        }
    }

    bool JobChanges(std::int64_t after) {
        archive::JobLog log(local_, options_.laptopId);
        while (true) {
            const auto rows = log.ToSend(after, options_.recordsPerBatch);
            if (!rows) return Fail(LocalError());
            if (rows->empty()) return true;
            if (!Batch(OutboxKind::JobChanges, *rows, [&] {
                    return SendChanges(connection_, *rows, options_.laptopId, options_.clock);
                }))
                return false;
            after = rows->back().id;
        }
    }

    TeamError LocalError() const {
        return {TeamErrorCode::LocalArchive, local_.LastError().message};
    }
    bool Fail(TeamError error) {
        outcome.error = std::move(error);
        return false;
    }

    SendOutcome outcome;

  private:
    Connection& connection_;
    archive::Archive& local_;
    const SendOptions& options_;
    const SendCut cut_;
    std::array<long, archive::kOutboxKinds> batches_{};  // begun, by kind
    std::unordered_set<std::size_t> sentItems_;          // job items sent changes of
};

}  // namespace

std::filesystem::path JoinFile(const std::filesystem::path& dataFolder) {
    return dataFolder / "team-archive.txt";
}

std::optional<JoinedTeam> ReadJoinedTeam(const std::filesystem::path& dataFolder) {
    const FileReadResult read = ReadWholeFile(JoinFile(dataFolder), 64 * 1024);
    if (!read.ok()) return std::nullopt;
    JoinedTeam team;
    std::size_t end = read.bytes.find('\n');
    team.uri = read.bytes.substr(0, end);
    if (end != std::string::npos) {
        const std::size_t next = read.bytes.find('\n', end + 1);
        team.archiveId =
            read.bytes.substr(end + 1, next == std::string::npos ? next : next - end - 1);
    }
    if (team.uri.empty()) return std::nullopt;
    return team;
}

std::string WriteJoinedTeam(const std::filesystem::path& dataFolder, const JoinedTeam& team) {
    std::error_code ec;
    std::filesystem::create_directories(dataFolder, ec);
    const FileWriteResult written =
        ReplaceFile(JoinFile(dataFolder), team.uri + "\n" + team.archiveId + "\n");
    return written.ok ? std::string() : written.reason;
}

std::string LaptopId(const std::filesystem::path& dataFolder, std::string& error) {
    const std::filesystem::path file = dataFolder / "laptop-id.txt";
    const auto readId = [&file](bool& found) {
        const FileReadResult read = ReadWholeFile(file, 256);
        found = read.ok();
        return found ? read.bytes.substr(0, read.bytes.find('\n')) : std::string();
    };
    bool found = false;
    std::string id = readId(found);
    if (id.size() == 36) return id;
    // A random (version 4) UUID.
    std::random_device random;
    std::array<std::uint8_t, 16> bytes{};
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    id.clear();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        id += hex;
        if (i == 3 || i == 5 || i == 7 || i == 9) id += '-';
    }
    std::error_code ec;
    std::filesystem::create_directories(dataFolder, ec);
    // A file that is there but holds no id is replaced. Made anew, the first id
    // written stands: two sends starting at once (the window's and velmora-cli's)
    // would otherwise each send the same changes under an id of its own.
    PreparedFile made(file, id + "\n");
    const FileWriteResult written = found ? made.Commit() : made.CommitNew();
    if (written.existed && (id = readId(found)).size() == 36) return id;
    if (!written.ok) {
        error = written.reason;
        return {};
    }
    return id;
}

std::optional<archive::OutboxCounts> WaitingToSend(archive::Archive& local,
                                                   const archive::OutboxCounts& upTo) {
    std::optional<archive::OutboxCounts> waiting = local.Waiting(upTo);
    if (!waiting) return std::nullopt;
    const auto changes = static_cast<std::size_t>(OutboxKind::JobChanges);
    std::unordered_set<std::size_t> items;
    archive::JobLog log(local, {});
    for (std::int64_t after = upTo[changes];;) {
        const auto rows = log.ToSend(after, 5000);
        if (!rows) return std::nullopt;
        if (rows->empty()) break;
        for (const archive::JobChange& change : *rows) items.insert(JobItemOf(change));
        after = rows->back().id;
    }
    (*waiting)[changes] = static_cast<std::int64_t>(items.size());
    return waiting;
}

SendOutcome SendToTeam(Connection& connection, archive::Archive& local,
                       const SendOptions& options) {
    Sender sender(connection, local, options);
    const auto marks = local.SentMarks(options.archiveId);
    if (!marks) {
        sender.outcome.error = sender.LocalError();
        return sender.outcome;
    }
    // What the team archive took, as far as it knows: less after it was restored from
    // a backup (that is sent again), more after this archive was.
    const auto taken = TeamMarks(connection, options.laptopId);
    if (!taken) {
        sender.outcome.error = connection.LastError();
        return sender.outcome;
    }
    archive::OutboxCounts upTo = marks->upTo;
    const auto changes = static_cast<std::size_t>(OutboxKind::JobChanges);
    if ((*taken)[changes] > upTo[changes]) {
        // A send cut off between the team archive's commit and this archive's mark
        // left the same changes on both sides. Otherwise this archive was restored,
        // and gives its changes ids again: theirs move above the team archive's.
        const auto same = SameNextChange(connection, local, options.laptopId, upTo[changes],
                                         sender.outcome.error);
        if (!same) return sender.outcome;
        archive::JobLog log(local, options.laptopId);
        if (!(*same ? local.MarkSent(options.archiveId, OutboxKind::JobChanges, (*taken)[changes])
                    : log.MoveOwnAbove(upTo[changes], (*taken)[changes], options.archiveId))) {
            sender.outcome.error = sender.LocalError();
            return sender.outcome;
        }
        upTo[changes] = (*taken)[changes];
    }
    for (std::size_t kind = 0; kind < upTo.size(); ++kind)
        upTo[kind] = std::min(upTo[kind], (*taken)[kind]);
    const bool sent = sender.Records(upTo[0]) && sender.Images(upTo[1]) &&
                      sender.Snapshots(upTo[2]) && sender.JobChanges(upTo[3]);
    if (const auto after = local.SentMarks(options.archiveId)) {
        if (const auto waiting = WaitingToSend(local, after->upTo))
            sender.outcome.waiting = *waiting;
    }
    if (sent && !local.MarkSendComplete(options.archiveId))
        sender.outcome.error = sender.LocalError();
    return sender.outcome;
}

namespace {

// A job's name, from its id.
constexpr const char* kJobName =
    "(SELECT n.value FROM velmora.fields n WHERE n.kind = 'job' AND n.entity = f.value "
    "AND n.field = 'name')";

// The statement listing the records `filter` takes, its values added to `values`.
std::string TeamRecordsSql(const archive::RecordFilter& filter, Values& values) {
    std::string sql = std::string("SELECT s.serial, s.folder, r.bytes, (SELECT ") + kJobName +
                      " FROM velmora.fields f WHERE f.record_id = r.id AND f.kind = 'record' AND "
                      "f.field = 'job') FROM velmora.records r "
                      "JOIN velmora.splicers s ON s.id = r.splicer_id WHERE true";
    // A record's job is the one the team archive's job changes left it, by its id (its
    // index gives a job's records at once); "" takes those without one.
    if (filter.job && !filter.job->empty()) {
        sql = std::string("SELECT s.serial, s.folder, r.bytes, ") + kJobName +
              " FROM velmora.fields f JOIN velmora.records r ON r.id = f.record_id "
              "JOIN velmora.splicers s ON s.id = r.splicer_id "
              "WHERE f.kind = 'record' AND f.field = 'job' AND f.value IN (SELECT entity FROM "
              "velmora.fields WHERE kind = 'job' AND field = 'name' AND value = " +
              values.Text(*filter.job) + ")";
    } else if (filter.job) {
        sql +=
            " AND NOT EXISTS (SELECT 1 FROM velmora.fields f WHERE f.record_id = r.id AND "
            "f.kind = 'record' AND f.field = 'job' AND f.value IS NOT NULL)";
    }
    auto date = [](const std::chrono::year_month_day& d) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(d.year()),
                      static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
        return std::string(text);
    };
    if (filter.device) {
        const std::string device = values.Text(*filter.device);
        sql += " AND (s.serial = " + device + " OR s.folder = " + device + ")";
    }
    if (filter.from) sql += " AND r.splice_time >= " + values.Text(date(*filter.from)) + "::date";
    if (filter.to) sql += " AND r.splice_time < " + values.Text(date(*filter.to)) + "::date + 1";
    return sql + " ORDER BY r.splice_time NULLS LAST, r.id";
}

}  // namespace

std::string AllTeamRecordsSql() {
    Values none;
    return TeamRecordsSql({}, none);
}

bool ForEachTeamRecord(Connection& connection, const archive::RecordFilter& filter,
                       const std::function<bool(const TeamRecord&)>& take) {
    Values values;
    const std::string sql = TeamRecordsSql(filter, values);
    // One record filled again and again: a long listing costs no allocation a row.
    TeamRecord record;
    return connection.ForEachRow(sql, values.All(), [&](const Row& row) {
        if (row.size() != 4 || !row[0] || !row[1] || !row[2]) return true;
        record.serialNumber = *row[0];
        record.device = *row[1];
        record.record.bytes.fill(0);
        HexDecodeInto(*row[2], record.record.bytes);
        record.job = row[3] ? *row[3] : std::string_view();
        return take(record);
    });
}

}  // namespace velmora::team
