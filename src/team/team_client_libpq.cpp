// The team archive's connection over libpq, the same code on every platform: libpq
// is reached through the table of libpq_api.h, loaded when first needed.
#include "team/libpq_api.h"
#include "team/team_client.h"

namespace velmora::team {
namespace {

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

std::string Trimmed(const char* text) {
    std::string out = text ? text : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

bool Has(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// A connection that could not be made: libpq says why only in words (no SQLSTATE
// before the server has accepted us), so its known phrases decide.
TeamError ConnectionError(const std::string& message) {
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
    if (state.starts_with("08") || state.starts_with("57P"))
        return {TeamErrorCode::Unreachable, message};
    return {TeamErrorCode::Failed, message};
}

}  // namespace

struct Connection::Impl {
    std::unique_ptr<PGconn, ConnCloser> conn;

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
    TeamError error;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (std::string_view(o->keyword) == "password" && o->val && *o->val)
            error = {TeamErrorCode::BadAddress,
                     "the address holds a password; keep it in the password file (.pgpass) "
                     "instead"};
    Pq().PQconninfoFree(options);
    return error;
}

std::unique_ptr<Connection> Connection::Open(const std::string& uri, TeamError& error,
                                             const std::string& password) {
    error = CheckAddress(uri);
    if (!error.ok()) return nullptr;
    // A connection that hangs (a cable pulled mid-handshake) gives up after 10 s
    // unless the address says otherwise: the address is expanded after these
    // defaults, so its own values take their place. A password typed for this run
    // goes last, in memory only (the address can hold none).
    const char* keywords[] = {"connect_timeout", "application_name", "dbname",
                              password.empty() ? nullptr : "password", nullptr};
    const char* values[] = {"10", "velmora", uri.c_str(), password.c_str(), nullptr};
    auto impl = std::make_unique<Impl>();
    impl->conn.reset(Pq().PQconnectdbParams(keywords, values, 1));
    if (!impl->conn) {
        error = {TeamErrorCode::Failed, "out of memory"};
        return nullptr;
    }
    if (Pq().PQstatus(impl->conn.get()) != CONNECTION_OK) {
        error = ConnectionError(Trimmed(Pq().PQerrorMessage(impl->conn.get())));
        return nullptr;
    }
    error = {};
    return std::unique_ptr<Connection>(new Connection(std::move(impl)));
}

Connection::Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Connection::~Connection() = default;

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
    lastError_ = {};
    PGconn* conn = impl_->conn.get();
    const Impl::Bound bound = Impl::Bind(values);
    const std::string text(sql);
    if (!Pq().PQsendQueryParams(conn, text.c_str(), static_cast<int>(values.size()), nullptr,
                                bound.data.data(), bound.lengths.data(), bound.formats.data(), 0) ||
        !Pq().PQsetSingleRowMode(conn)) {
        lastError_ = StatementError(conn, nullptr);
        return false;
    }
    // Every result is read, even after `take` stopped or a failure, so that the
    // connection is ready for the next statement.
    bool wanted = true;
    while (ResultHandle result{Pq().PQgetResult(conn)}) {
        const ExecStatusType status = Pq().PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE && wanted && lastError_.ok()) {
            Row row(static_cast<std::size_t>(Pq().PQnfields(result.get())));
            for (int c = 0; c < Pq().PQnfields(result.get()); ++c)
                if (!Pq().PQgetisnull(result.get(), 0, c))
                    row[static_cast<std::size_t>(c)].emplace(
                        Pq().PQgetvalue(result.get(), 0, c),
                        static_cast<std::size_t>(Pq().PQgetlength(result.get(), 0, c)));
            wanted = take(row);
        } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK &&
                   status != PGRES_COMMAND_OK && lastError_.ok()) {
            lastError_ = StatementError(conn, result.get());
        }
    }
    if (lastError_.ok() && Pq().PQstatus(conn) != CONNECTION_OK)
        lastError_ = StatementError(conn, nullptr);
    return lastError_.ok();
}

bool Connection::RunScript(std::string_view sql) {
    lastError_ = {};
    const std::string text(sql);
    ResultHandle result{Pq().PQexec(impl_->conn.get(), text.c_str())};
    const ExecStatusType status = result ? Pq().PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        lastError_ = StatementError(impl_->conn.get(), result.get());
    return lastError_.ok();
}

void Connection::Rollback() {
    const TeamError kept = lastError_;
    if (Pq().PQstatus(impl_->conn.get()) == CONNECTION_OK) RunScript("ROLLBACK");
    lastError_ = kept;
}

}  // namespace velmora::team
