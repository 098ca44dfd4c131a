// The team archive's connection over libpq, the same code on every platform: libpq
// is reached through the table of libpq_api.h, loaded when first needed.
//
// libpq is used without blocking: connecting, sending and reading are driven here,
// each wait one SocketWaiter::Wait on the connection's socket that a stop (Ctrl-C,
// the window closing) wakes at once, and that gives up when the server stays silent
// for the silence limit. Nothing ever waits on the server without a bound.
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "team/libpq_api.h"
#include "team/team_address.h"
#include "team/team_client.h"
#include "team/team_client_wait.h"

namespace velmora::team {
namespace {

using std::chrono::milliseconds;

// The loaded library's functions: a Connection exists only once libpq was loaded.
const LibpqApi& Pq() {
    return LoadLibpq().api;
}

struct ConnCloser {
    void operator()(PGconn* conn) const { Pq().PQfinish(conn); }
};
struct ResultCloser {
    void operator()(PGresult* result) const { Pq().PQclear(result); }
};
using ResultHandle = std::unique_ptr<PGresult, ResultCloser>;

// After a stop has cancelled a statement, how long the server has to say so before
// the connection is given up without its answer (a server that is itself stopped).
constexpr milliseconds kCancelGrace{500};

std::string Trimmed(const char* text) {
    std::string out = text ? text : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

bool Has(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// A connection that could not be made: libpq says why only in words (no SQLSTATE
// before the server has accepted us), so its known phrases decide. The server's
// own rules (pg_hba.conf) come first: they name the user and the database too.
TeamError ConnectionError(const std::string& message) {
    if (Has(message, "pg_hba.conf"))
        return {Has(message, "no encryption") ? TeamErrorCode::NeedsTls : TeamErrorCode::Refused,
                message};
    if (Has(message, "too many connections") || Has(message, "not permitted to log in") ||
        Has(message, "is not currently accepting connections"))
        return {TeamErrorCode::Refused, message};
    if (Has(message, "password authentication failed") || Has(message, "no password supplied") ||
        Has(message, "authentication failed") || Has(message, "role \""))
        return {TeamErrorCode::AuthFailed, message};
    if (Has(message, "SSL") || Has(message, "certificate") || Has(message, "TLS"))
        return {TeamErrorCode::TlsFailed, message};
    if (Has(message, "permission denied")) return {TeamErrorCode::NoRights, message};
    if (Has(message, "database \"") && Has(message, "does not exist"))
        return {TeamErrorCode::NotInitialised, message};
    return {TeamErrorCode::Unreachable, message};
}

// A statement that failed: by its SQLSTATE class, or by the connection's state.
TeamError StatementError(PGconn* conn, const PGresult* result) {
    const std::string message =
        Trimmed(result ? Pq().PQresultErrorMessage(result) : Pq().PQerrorMessage(conn));
    if (Pq().PQstatus(conn) != CONNECTION_OK) return {TeamErrorCode::Unreachable, message};
    if (!result) return {TeamErrorCode::Failed, message};
    if (Pq().PQresultStatus(result) == PGRES_BAD_RESPONSE)
        return {TeamErrorCode::ProtocolError, message};
    const std::string state = Trimmed(Pq().PQresultErrorField(result, PG_DIAG_SQLSTATE));
    if (state == "42501") return {TeamErrorCode::NoRights, message};
    if (state == "42P01" || state == "3F000") return {TeamErrorCode::NotInitialised, message};
    if (state.starts_with("28")) return {TeamErrorCode::AuthFailed, message};
    if (state == "08P01") return {TeamErrorCode::ProtocolError, message};
    // The server's own limit on a statement, or on waiting for another's lock.
    if (state == "57014" || state == "55P03") return {TeamErrorCode::NotAnswering, message};
    if (state.starts_with("08") || state.starts_with("57P"))
        return {TeamErrorCode::Unreachable, message};
    return {TeamErrorCode::Failed, message};
}

// The server's notices and warnings ("relation already exists, skipping") are not
// the user's business: libpq would print them to standard error as they come.
void IgnoreNotice(void*, const char*) {}

// libpq's value of `keyword` for a connection; "" when it has none.
std::string OptionOf(PGconn* conn, std::string_view keyword) {
    std::string value;
    PQconninfoOption* options = Pq().PQconninfo(conn);
    for (const PQconninfoOption* o = options; o && o->keyword; ++o)
        if (keyword == o->keyword && o->val) value = o->val;
    if (options) Pq().PQconninfoFree(options);
    return value;
}

// Asks the server to cancel the statement under way, on a thread of its own: the
// request is a connection of its own, which could itself hang on a network that
// has gone. The thread holds everything it uses and ends by itself.
void CancelOnServer(PGconn* conn) {
    PGcancel* cancel = Pq().PQgetCancel(conn);
    if (!cancel) return;
    std::thread([cancel, send = Pq().PQcancel, free = Pq().PQfreeCancel] {
        char why[256];
        send(cancel, why, sizeof why);
        free(cancel);
    }).detach();
}

}  // namespace

struct Connection::Impl {
    std::unique_ptr<PGconn, ConnCloser> conn;
    SocketWaiter waiter;
    std::stop_token stop;
    // Wakes any wait as soon as a stop is asked for; gone before the waiter is.
    std::optional<std::stop_callback<std::function<void()>>> onStop;
    milliseconds silence = kSilenceLimit;
    bool abandoned = false;  // given up mid-statement: nothing more is sent on it

    PGconn* Conn() const { return conn.get(); }

    // Waits for the socket; None when it is ready, else why the wait ended.
    TeamErrorCode Await(bool read, bool write, milliseconds limit, bool ignoreStop = false) {
        const milliseconds bound = limit.count() > 0 ? limit : milliseconds(std::chrono::hours(24));
        switch (waiter.Wait(Pq().PQsocket(Conn()), read, write, bound, ignoreStop)) {
            case SocketWaiter::Ready::Socket:
                return TeamErrorCode::None;
            case SocketWaiter::Ready::Woken:
                return TeamErrorCode::Stopped;
            case SocketWaiter::Ready::TimedOut:
                return TeamErrorCode::NotAnswering;
            case SocketWaiter::Ready::Failed:
                break;
        }
        return TeamErrorCode::Unreachable;
    }

    // Reads what has arrived; false when the connection broke.
    bool Consume() { return Pq().PQconsumeInput(Conn()) == 1; }

    // Sends all that libpq holds for the server; None or why it could not.
    TeamErrorCode Flush() {
        while (true) {
            const int left = Pq().PQflush(Conn());
            if (left == 0) return TeamErrorCode::None;
            if (left < 0) return TeamErrorCode::Unreachable;
            // The server may be sending while it reads: take that in, or both wait.
            if (const TeamErrorCode why = Await(true, true, silence); why != TeamErrorCode::None)
                return why;
            if (!Consume()) return TeamErrorCode::Unreachable;
        }
    }

    // Waits until a result can be taken without blocking; None or why not.
    TeamErrorCode AwaitResult(bool ignoreStop = false, milliseconds limit = {}) {
        while (Pq().PQisBusy(Conn())) {
            const TeamErrorCode why =
                Await(true, false, limit.count() > 0 ? limit : silence, ignoreStop);
            if (why != TeamErrorCode::None) return why;
            if (!Consume()) return TeamErrorCode::None;  // PQgetResult tells the failure
        }
        return TeamErrorCode::None;
    }

    // A wait that ended without the server's answer: stopped (the statement is
    // cancelled on the server, which is given a moment to say so, so that the
    // connection stays in step) or the server silent (the connection is given up).
    TeamError GiveUp(TeamErrorCode why) {
        if (why == TeamErrorCode::Stopped || why == TeamErrorCode::NotAnswering)
            CancelOnServer(Conn());
        abandoned = true;
        if (why == TeamErrorCode::Stopped &&
            AwaitResult(true, kCancelGrace) == TeamErrorCode::None) {
            while (const ResultHandle result{Pq().PQgetResult(Conn())})
                if (AwaitResult(true, kCancelGrace) != TeamErrorCode::None) return StoppedError();
            abandoned = false;
        }
        if (why == TeamErrorCode::Stopped) return StoppedError();
        if (why == TeamErrorCode::NotAnswering) {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(silence);
            return {why, std::to_string(seconds.count()) + " s"};
        }
        return StatementError(Conn(), nullptr);
    }

    // The values as libpq takes them: bytes in binary form with their length, text
    // as text, which libpq reads up to a terminating zero (so it is copied with one).
    struct Bound {
        std::vector<std::string> texts;
        std::vector<const char*> data;
        std::vector<int> lengths;
        std::vector<int> formats;
    };
    static Bound Bind(std::span<const Value> values) {
        Bound bound;
        bound.texts.reserve(values.size());
        for (const Value& value : values) {
            const char* data = nullptr;
            if (value.kind == Value::Kind::Text)
                data = bound.texts.emplace_back(value.data).c_str();
            if (value.kind == Value::Kind::Bytes) data = value.data.data();
            bound.data.push_back(data);
            bound.lengths.push_back(static_cast<int>(value.data.size()));
            bound.formats.push_back(value.kind == Value::Kind::Bytes ? 1 : 0);
        }
        return bound;
    }
};

TeamError Connection::Availability() {
    const Libpq& libpq = LoadLibpq();
    if (libpq.loaded()) return {};
    return {TeamErrorCode::NotAvailable, libpq.failure};
}

TeamError Connection::CheckAddress(const std::string& uri) {
    if (TeamError missing = Availability(); !missing.ok()) return missing;
    if (!uri.starts_with("postgresql://") && !uri.starts_with("postgres://"))
        return {TeamErrorCode::BadAddress, "not a postgresql:// address: " + uri};
    char* why = nullptr;
    PQconninfoOption* options = Pq().PQconninfoParse(uri.c_str(), &why);
    if (!options) {
        TeamError error{TeamErrorCode::BadAddress, Trimmed(why)};
        Pq().PQfreemem(why);
        return error;
    }
    // Where the data goes, as the address says or else as libpq's environment does.
    PQconninfoOption* defaults = Pq().PQconndefaults();
    Transport transport;
    const std::pair<const char*, std::string*> wanted[] = {{"host", &transport.host},
                                                           {"hostaddr", &transport.hostaddr},
                                                           {"service", &transport.service},
                                                           {"sslmode", &transport.sslmode},
                                                           {"sslrootcert", &transport.sslrootcert}};
    auto valueOf = [](const PQconninfoOption* list, std::string_view keyword) -> const char* {
        for (const PQconninfoOption* o = list; o && o->keyword; ++o)
            if (keyword == o->keyword && o->val && *o->val) return o->val;
        return nullptr;
    };
    for (const auto& [keyword, field] : wanted)
        if (const char* value =
                valueOf(options, keyword) ? valueOf(options, keyword) : valueOf(defaults, keyword))
            *field = value;
    TeamError error;
    if (valueOf(options, "password"))
        error = {TeamErrorCode::BadAddress,
                 "the address holds a password; keep it in the password file (.pgpass) instead"};
    else if (const std::string host = InsecureHost(transport); !host.empty())
        error = {TeamErrorCode::Insecure, host};
    Pq().PQconninfoFree(options);
    if (defaults) Pq().PQconninfoFree(defaults);
    return error;
}

std::unique_ptr<Connection> Connection::Open(const std::string& uri, TeamError& error,
                                             const std::string& password, std::stop_token stop) {
    error = CheckAddress(uri);
    if (!error.ok()) return nullptr;
    // A connection that hangs (a cable pulled mid-handshake) gives up after 10 s, and
    // the server ends a statement of ours that runs too long (waiting behind another
    // laptop's stalled transaction, say), unless the address says otherwise: it is
    // expanded after these defaults, so its own values take their place. A password
    // typed for this run goes last, in memory only (the address can hold none).
    const std::string serverLimit =
        "-c statement_timeout=" + std::to_string(kServerStatementLimit.count()) + "s";
    const char* keywords[] = {"connect_timeout",
                              "options",
                              "application_name",
                              "dbname",
                              password.empty() ? nullptr : "password",
                              nullptr};
    const char* values[] = {"10",        serverLimit.c_str(), "velmora",
                            uri.c_str(), password.c_str(),    nullptr};
    auto impl = std::make_unique<Impl>();
    impl->stop = stop;
    impl->onStop.emplace(stop, [waiter = &impl->waiter] { waiter->Wake(); });
    impl->conn.reset(Pq().PQconnectStartParams(keywords, values, 1));
    if (!impl->conn) {
        error = {TeamErrorCode::Failed, "out of memory"};
        return nullptr;
    }
    PGconn* conn = impl->Conn();
    Pq().PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
    // libpq's 0 (wait for ever) is not ours: every wait has its bound.
    const int timeout = std::atoi(OptionOf(conn, "connect_timeout").c_str());
    const milliseconds connectLimit{1000 * (timeout <= 0 ? 10 : std::max(2, timeout))};
    PostgresPollingStatusType polling =
        Pq().PQstatus(conn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (polling == PGRES_POLLING_READING || polling == PGRES_POLLING_WRITING) {
        const TeamErrorCode why = impl->Await(polling == PGRES_POLLING_READING,
                                              polling == PGRES_POLLING_WRITING, connectLimit);
        if (why == TeamErrorCode::Stopped) {
            error = StoppedError();
            return nullptr;
        }
        if (why != TeamErrorCode::None) {
            error = {TeamErrorCode::Unreachable,
                     "no answer within " + std::to_string(connectLimit.count() / 1000) + " s"};
            return nullptr;
        }
        polling = Pq().PQconnectPoll(conn);
    }
    if (polling != PGRES_POLLING_OK || Pq().PQstatus(conn) != CONNECTION_OK) {
        error = ConnectionError(Trimmed(Pq().PQerrorMessage(conn)));
        return nullptr;
    }
    if (Pq().PQsetnonblocking(conn, 1) != 0) {
        error = {TeamErrorCode::Failed, Trimmed(Pq().PQerrorMessage(conn))};
        return nullptr;
    }
    error = {};
    return std::unique_ptr<Connection>(new Connection(std::move(impl)));
}

Connection::Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Connection::~Connection() = default;

ServerAnswer Connection::Answered() const {
    PGconn* conn = impl_->Conn();
    auto text = [](const char* value) { return std::string(value ? value : ""); };
    return {text(Pq().PQhost(conn)),
            text(Pq().PQport(conn)),
            text(Pq().PQuser(conn)),
            text(Pq().PQparameterStatus(conn, "server_version")),
            Pq().PQsslInUse(conn) ? text(Pq().PQsslAttribute(conn, "protocol")) : std::string(),
            OptionOf(conn, "sslmode")};
}

void Connection::SetSilenceLimit(std::chrono::milliseconds limit) {
    impl_->silence = limit;
}

std::optional<std::vector<Row>> Connection::Run(std::string_view sql,
                                                std::span<const Value> values) {
    std::optional<std::vector<Row>> rows(std::in_place);
    if (!ForEachRow(sql, values, [&](const Row& row) {
            rows->push_back(row);
            return true;
        }))
        return std::nullopt;
    return rows;
}

bool Connection::ForEachRow(std::string_view sql, std::span<const Value> values,
                            const std::function<bool(const Row&)>& take) {
    return Execute(sql, values, &take);
}

bool Connection::RunScript(std::string_view sql) {
    return Execute(sql, {}, nullptr);
}

bool Connection::Execute(std::string_view sql, std::span<const Value> values,
                         const std::function<bool(const Row&)>* take) {
    lastError_ = {};
    Impl& impl = *impl_;
    PGconn* conn = impl.Conn();
    if (impl.stop.stop_requested()) {
        lastError_ = StoppedError();
        return false;
    }
    if (impl.abandoned) {
        lastError_ = {TeamErrorCode::Unreachable, "the connection was given up"};
        return false;
    }
    const std::string text(sql);
    // A script (the schema's steps, BEGIN, COMMIT) goes as one simple query, which
    // may hold several statements; a statement with rows comes back row by row.
    bool sent = false;
    if (take) {
        const Impl::Bound bound = Impl::Bind(values);
        sent = Pq().PQsendQueryParams(conn, text.c_str(), static_cast<int>(values.size()), nullptr,
                                      bound.data.data(), bound.lengths.data(), bound.formats.data(),
                                      0) &&
               Pq().PQsetSingleRowMode(conn);
    } else {
        sent = Pq().PQsendQuery(conn, text.c_str());
    }
    if (!sent) {
        lastError_ = StatementError(conn, nullptr);
        return false;
    }
    if (const TeamErrorCode why = impl.Flush(); why != TeamErrorCode::None) {
        lastError_ = impl.GiveUp(why);
        return false;
    }
    // Every result is read, even after `take` stopped or a failure, so that the
    // connection is ready for the next statement. One row is filled again and again:
    // a long listing costs no allocation a row.
    bool wanted = true;
    Row row;
    while (true) {
        if (const TeamErrorCode why = impl.AwaitResult(); why != TeamErrorCode::None) {
            lastError_ = impl.GiveUp(why);
            return false;
        }
        const ResultHandle result{Pq().PQgetResult(conn)};
        if (!result) break;
        const ExecStatusType status = Pq().PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE && take && wanted && lastError_.ok()) {
            row.resize(static_cast<std::size_t>(Pq().PQnfields(result.get())));
            for (int c = 0; c < static_cast<int>(row.size()); ++c) {
                std::optional<std::string>& value = row[static_cast<std::size_t>(c)];
                if (Pq().PQgetisnull(result.get(), 0, c)) {
                    value.reset();
                    continue;
                }
                if (!value) value.emplace();
                value->assign(Pq().PQgetvalue(result.get(), 0, c),
                              static_cast<std::size_t>(Pq().PQgetlength(result.get(), 0, c)));
            }
            wanted = (*take)(row);
        } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK &&
                   status != PGRES_COMMAND_OK && lastError_.ok()) {
            lastError_ = StatementError(conn, result.get());
        }
    }
    if (lastError_.ok() && Pq().PQstatus(conn) != CONNECTION_OK)
        lastError_ = StatementError(conn, nullptr);
    return lastError_.ok();
}

void Connection::Rollback() {
    // A connection given up or stopped leaves its transaction to the server, which
    // ends it with the connection.
    if (impl_->abandoned || impl_->stop.stop_requested()) return;
    const TeamError kept = lastError_;
    if (Pq().PQstatus(impl_->Conn()) == CONNECTION_OK) RunScript("ROLLBACK");
    lastError_ = kept;
}

}  // namespace velmora::team
