#pragma once
// A connection to a team archive: a PostgreSQL database reached through libpq by a
// connection URI (postgresql://user@host/db?sslmode=verify-full&sslrootcert=...).
// Every statement with values in it is sent with those values as parameters, never
// pasted into its text. No call throws; a failure is kept as data (a code and the
// server's or the library's own words) in LastError(), and worded for the user by
// TeamErrorText (team_texts.h).
//
// One implementation over libpq (team_client_libpq.cpp) for every platform. On Linux
// libpq is loaded when a team archive is first used (libpq_api.h): where it cannot
// be, every call fails with NotAvailable and the loader's words.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::team {

enum class TeamErrorCode {
    None,
    NotAvailable,    // libpq cannot be loaded here
    NotJoined,       // this PC has joined no team archive
    BadAddress,      // the URI cannot be parsed, or it holds a password
    Unreachable,     // no answer, refused, or the connection dropped
    AuthFailed,      // user name or password refused
    TlsFailed,       // the secure connection asked for could not be made or verified
    NoRights,        // the user may not do it (insufficient privilege)
    NotInitialised,  // the database has no team archive (no `team init` yet)
    TooNew,          // made by a newer program: its schema version is above ours
    ProtocolError,   // an answer that is not what PostgreSQL says
    LocalArchive,    // the laptop's own archive failed (its message says how)
    Failed,          // anything else; see the message
};

// "unreachable", "auth failed", ...: for logs and tests.
const char* TeamErrorCodeName(TeamErrorCode code);

struct TeamError {
    TeamErrorCode code = TeamErrorCode::None;
    std::string message;  // the server's or library's words; "" when there are none
    bool ok() const { return code == TeamErrorCode::None; }
};

// What a send or a read asked to stop (the window closing) ends with.
inline TeamError StoppedError() {
    return {TeamErrorCode::Failed, "stopped before the end"};
}

// One value of a statement: NULL, text, or bytes (sent as binary, for bytea).
struct Value {
    enum class Kind { Null, Text, Bytes } kind = Kind::Null;
    std::string_view data{};
    static Value Null() { return {}; }
    static Value Text(std::string_view text) { return {Kind::Text, text}; }
    // A value views its text: a temporary string would be gone before the statement runs.
    static Value Text(std::string&& text) = delete;
    static Value Bytes(std::span<const std::uint8_t> bytes) {
        return {Kind::Bytes, {reinterpret_cast<const char*>(bytes.data()), bytes.size()}};
    }
};

// One row of an answer, its columns as PostgreSQL's text forms; nullopt for NULL.
using Row = std::vector<std::optional<std::string>>;

class Connection {
  public:
    // NotAvailable, with the loader's words, when libpq cannot be loaded here (the
    // first call loads it); no error when it can.
    static TeamError Availability();
    static bool Available() { return Availability().ok(); }
    // Connects; null, with the reason in `error`, on failure. `password`, when not
    // empty, is used instead of libpq's password file and kept nowhere.
    static std::unique_ptr<Connection> Open(const std::string& uri, TeamError& error,
                                            const std::string& password = {});
    // BadAddress when `uri` is not a connection URI libpq takes, or when it holds a
    // password (those stay with libpq's own password file).
    static TeamError CheckAddress(const std::string& uri);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const TeamError& LastError() const { return lastError_; }

    // One statement with its values as $1, $2...; its rows, or nullopt on failure.
    std::optional<std::vector<Row>> Run(std::string_view sql, std::span<const Value> values = {});
    // Like Run, handing each row to `take` as it arrives (never the whole answer in
    // memory); `take` returns false to stop. False on failure.
    bool ForEachRow(std::string_view sql, std::span<const Value> values,
                    const std::function<bool(const Row&)>& take);
    // Fixed text of the program (the schema's steps), several statements, no values.
    bool RunScript(std::string_view sql);

    bool Begin() { return RunScript("BEGIN"); }
    bool Commit() { return RunScript("COMMIT"); }
    // Keeps lastError_ as it was: the failure that made the caller roll back.
    void Rollback();

  private:
    struct Impl;
    explicit Connection(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    TeamError lastError_;
};

}  // namespace velmora::team
