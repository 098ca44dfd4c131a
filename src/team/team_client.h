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
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::team {

enum class TeamErrorCode {
    None,
    NotAvailable,    // libpq cannot be loaded here
    NotJoined,       // this PC has joined no team archive
    BadAddress,      // the URI cannot be parsed, or it holds a password
    Insecure,        // the address reaches another host without a verified secure connection
    Unreachable,     // no answer, refused, or the connection dropped
    Refused,         // the server refused this connection by its own rules
    NeedsTls,        // the server takes secure connections only
    AuthFailed,      // user name or password refused
    TlsFailed,       // the secure connection asked for could not be made or verified
    NoRights,        // the user may not do it (insufficient privilege)
    NotInitialised,  // the database has no team archive (no `team init` yet)
    TooNew,          // made by a newer program: its schema version is above ours
    ProtocolError,   // an answer that is not what PostgreSQL says
    NotAnswering,    // the server stopped answering in the middle of a statement
    Stopped,         // asked to stop (Ctrl-C, the window closing) before the end
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

// What a send or a read asked to stop (Ctrl-C, the window closing) ends with.
inline TeamError StoppedError() {
    return {TeamErrorCode::Stopped, ""};
}

// Who answered a connection: the server, where, as whom, and how securely.
struct ServerAnswer {
    std::string host;  // the host name, address or socket folder reached
    std::string port;
    std::string user;
    std::string serverVersion;  // PostgreSQL's, as it tells it ("15.18")
    std::string tls;            // the TLS protocol ("TLSv1.3"); "" without TLS
    std::string sslmode;        // how the certificate was checked (verify-full, verify-ca, ...)
};

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
    // empty, is used instead of libpq's password file and kept nowhere. A stop asked
    // for through `stop` ends the connecting, and later any statement under way
    // (cancelled on the server), within a second: Stopped.
    static std::unique_ptr<Connection> Open(const std::string& uri, TeamError& error,
                                            const std::string& password = {},
                                            std::stop_token stop = {});
    // BadAddress when `uri` is not a connection URI libpq takes, or when it holds a
    // password (those stay with libpq's own password file); Insecure when it would
    // reach a host other than this PC without verifying the server's certificate.
    static TeamError CheckAddress(const std::string& uri);
    // A statement that hears nothing from the server for this long is given up
    // (NotAnswering): a server stopped or cut off is told, never waited on forever.
    // The server itself ends a statement of ours after kServerStatementLimit.
    static constexpr std::chrono::seconds kSilenceLimit{25};
    static constexpr std::chrono::seconds kServerStatementLimit{20};
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const TeamError& LastError() const { return lastError_; }
    ServerAnswer Answered() const;
    // Zero: no limit, for work that may take long (a team archive brought up to date).
    void SetSilenceLimit(std::chrono::milliseconds limit);

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
    // Run's and RunScript's one path: the rows to `take` (one statement with values,
    // read row by row), or none (a script of one or more statements).
    bool Execute(std::string_view sql, std::span<const Value> values,
                 const std::function<bool(const Row&)>* take);
    struct Impl;
    explicit Connection(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    TeamError lastError_;
};

}  // namespace velmora::team
