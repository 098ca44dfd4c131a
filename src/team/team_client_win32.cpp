// The Windows build has no PostgreSQL client yet: every team command says so.
#include "team/team_client.h"

namespace velmora::team {
namespace {
TeamError NotInThisBuild() {
    return {TeamErrorCode::NotAvailable, "the team archive is not available in this build yet"};
}
}  // namespace

struct Connection::Impl {};

bool Connection::Available() {
    return false;
}

TeamError Connection::CheckAddress(const std::string&) {
    return NotInThisBuild();
}

std::unique_ptr<Connection> Connection::Open(const std::string&, TeamError& error) {
    error = NotInThisBuild();
    return nullptr;
}

Connection::Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Connection::~Connection() = default;

std::optional<std::vector<Row>> Connection::Run(std::string_view, std::span<const Value>) {
    lastError_ = NotInThisBuild();
    return std::nullopt;
}

bool Connection::ForEachRow(std::string_view, std::span<const Value>,
                            const std::function<bool(const Row&)>&) {
    lastError_ = NotInThisBuild();
    return false;
}

bool Connection::RunScript(std::string_view) {
    lastError_ = NotInThisBuild();
    return false;
}

void Connection::Rollback() {}

}  // namespace velmora::team
