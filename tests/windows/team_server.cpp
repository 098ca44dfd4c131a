// velmora-test-team-server FOLDER: the tests' PostgreSQL server (tests/support) as a
// program, for the Windows build's test under Wine, which cannot start one itself.
// Starts the server, makes a database with a team archive in it and a technician,
// writes FOLDER/pgpass (the technician's password) and then FOLDER/server.env:
//   ADMIN_URI=...  the administrator over the Unix socket (psql)
//   TLS_URI=...    the technician over TLS, sslmode=verify-full with the test CA
//   CA_FILE=...    that CA
// and keeps the server running until it is sent SIGTERM or SIGINT; then stops it.
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/postgres_server.h"
#include "team/team_schema.h"

namespace {

constexpr const char* kDatabase = "velmora_team";
constexpr const char* kTechnician = "wine_technician";
constexpr const char* kPassword = "wine-password";

int Fail(const std::string& why) {
    std::fprintf(stderr, "velmora-test-team-server: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    using velmora::test::PostgresServer;
    if (argc != 2) return Fail("usage: velmora-test-team-server FOLDER");
    const fs::path folder = argv[1];
    // Blocked before the server's programs start, taken by sigwait below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::string why;
    PostgresServer* server = PostgresServer::Shared(why);
    if (!server) return Fail(why);
    if (!server->CreateDatabase(kDatabase)) return Fail("cannot create the database");
    velmora::team::TeamError error;
    const auto admin = velmora::team::Connection::Open(server->AdminUri(kDatabase), error);
    if (admin) error = velmora::team::InitialiseTeamArchive(*admin);
    if (!error.ok()) return Fail("team init: " + error.message);
    if (!server->CreateTechnician(kTechnician, kPassword)) return Fail("cannot create the user");
    server->WritePassFile(folder / "pgpass", kTechnician, kPassword);
    std::ofstream(folder / "server.env.new")
        << "ADMIN_URI='" << server->AdminUri(kDatabase) << "'\nTLS_URI='"
        << server->TlsUri(kTechnician, kDatabase) << "'\nCA_FILE='" << server->CaFile().string()
        << "'\n";
    fs::rename(folder / "server.env.new", folder / "server.env");

    int received = 0;
    sigwait(&stop, &received);
    return 0;  // the server stops as the program ends
}
