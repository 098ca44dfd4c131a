#pragma once
// A throwaway PostgreSQL server for the team archive's tests and benchmark:
// initdb and pg_ctl in a temporary folder, on a Unix socket (the administrator,
// trusted) and a TCP port on 127.0.0.1 with TLS only (scram passwords), its CA and
// server certificate (for "localhost") made with openssl. The server refuses to run
// as root: as root, it runs as `nobody`, which owns the folder. Started on first
// use, once per program, and stopped when the program ends. No GoogleTest here.
#include <filesystem>
#include <string>

namespace velmora::test {

class PostgresServer {
  public:
    // The server of this program, started on the first call; null when PostgreSQL
    // is not installed or did not start, with the reason in `why`.
    static PostgresServer* Shared(std::string& why);

    // The administrator over the Unix socket, to database `db`.
    std::string AdminUri(const std::string& db = "postgres") const;
    // `user` over TCP with TLS verified against the fixture's CA (sslmode=verify-full).
    std::string TlsUri(const std::string& user, const std::string& db,
                       const std::string& host = "localhost") const;
    // Runs SQL as the administrator (psql); false, with its output in `out`, on failure.
    bool Psql(const std::string& db, const std::string& sql, std::string* out = nullptr) const;
    // A new database, and a login role with this password that is a technician.
    bool CreateDatabase(const std::string& db) const;
    bool CreateTechnician(const std::string& user, const std::string& password) const;
    // A password file (owner-only) holding these passwords for the TCP port.
    void WritePassFile(const std::filesystem::path& file, const std::string& user,
                       const std::string& password) const;

    std::filesystem::path CaFile() const { return folder_ / "ca.crt"; }
    // One of PostgreSQL's programs (psql, pg_ctl, ...) of the version the server runs.
    std::filesystem::path Program(const std::string& name) const { return bin_ / name; }
    int Port() const { return port_; }

    ~PostgresServer();

  private:
    PostgresServer() = default;
    std::string Start();
    std::filesystem::path folder_;
    std::filesystem::path bin_;
    int port_ = 0;
    bool running_ = false;
};

}  // namespace velmora::test
