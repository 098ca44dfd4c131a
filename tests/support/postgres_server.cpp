#include "support/postgres_server.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// The highest PostgreSQL's programs folder Debian installed.
fs::path PostgresBin() {
    fs::path best;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec))
        if (fs::exists(entry.path() / "bin" / "pg_ctl") && entry.path() > best.parent_path())
            best = entry.path() / "bin";
    return best;
}

// Runs `args` (as `user` when not empty: the server may not run as root), its
// output in `out`; its exit status.
int Run(const std::vector<std::string>& args, const std::string& user, std::string* out) {
    std::vector<std::string> full;
    if (!user.empty())
        full = {"setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups", "--"};
    full.insert(full.end(), args.begin(), args.end());
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> argv;
        for (std::string& a : full) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// The server's own user: nobody when we are root, else ourselves ("").
std::string ServerUser() {
    return geteuid() == 0 ? "nobody" : "";
}

std::unique_ptr<PostgresServer>& Instance() {
    static std::unique_ptr<PostgresServer> server;
    return server;
}

}  // namespace

PostgresServer* PostgresServer::Shared(std::string& why) {
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::unique_ptr<PostgresServer> server(new PostgresServer);
        failure = server->Start();
        if (failure.empty()) Instance() = std::move(server);
    }
    why = failure;
    return Instance().get();
}

std::string PostgresServer::Start() {
    bin_ = PostgresBin();
    if (bin_.empty()) return "PostgreSQL is not installed (scripts/install-deps.sh installs it)";
    char pattern[] = "/tmp/velmora-pg-XXXXXX";
    if (!mkdtemp(pattern)) return "no temporary folder";
    folder_ = pattern;
    const std::string user = ServerUser();
    if (!user.empty()) {
        const passwd* pw = getpwnam(user.c_str());
        if (!pw || chown(folder_.c_str(), pw->pw_uid, pw->pw_gid) != 0)
            return "cannot give the folder to " + user;
    }
    std::string out;
    const std::string dir = folder_.string();
    // The CA, and the server's certificate for localhost signed by it.
    const std::vector<std::vector<std::string>> certificates = {
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=velmora test CA", "-keyout", dir + "/ca.key", "-out", dir + "/ca.crt"},
        {"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
         dir + "/server.key", "-out", dir + "/server.csr"},
        {"sh", "-c", "printf 'subjectAltName=DNS:localhost\\n' > " + dir + "/san.ext"},
        {"openssl", "x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.crt", "-CAkey",
         dir + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", dir + "/san.ext", "-out",
         dir + "/server.crt"},
        {"chmod", "0600", dir + "/server.key"},
        {bin_ / "initdb", "-D", dir + "/data", "-U", "velmora_admin", "--auth-local=trust",
         "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C", "--no-sync"},
    };
    for (const auto& args : certificates)
        if (Run(args, user, &out) != 0) return args[0] + " failed: " + out;
    {
        std::ofstream hba(folder_ / "data" / "pg_hba.conf");
        hba << "local all all trust\nhostssl all all 127.0.0.1/32 scram-sha-256\n"
               "hostssl all all ::1/128 scram-sha-256\n";
    }
    port_ = FreePort();
    const std::string options = "-p " + std::to_string(port_) + " -k " + dir +
                                " -c listen_addresses=localhost -c ssl=on -c ssl_cert_file=" + dir +
                                "/server.crt -c ssl_key_file=" + dir + "/server.key";
    if (Run({bin_ / "pg_ctl", "start", "-w", "-D", dir + "/data", "-l", dir + "/server.log", "-o",
             options},
            user, &out) != 0)
        return "pg_ctl start failed: " + out;
    running_ = true;
    return {};
}

PostgresServer::~PostgresServer() {
    if (running_)
        Run({bin_ / "pg_ctl", "stop", "-m", "immediate", "-D", (folder_ / "data").string()},
            ServerUser(), nullptr);
    std::error_code ec;
    if (!folder_.empty()) fs::remove_all(folder_, ec);
}

std::string PostgresServer::AdminUri(const std::string& db) const {
    return "postgresql://velmora_admin@/" + db + "?host=" + folder_.string() +
           "&port=" + std::to_string(port_);
}

std::string PostgresServer::TlsUri(const std::string& user, const std::string& db,
                                   const std::string& host) const {
    return "postgresql://" + user + "@" + host + ":" + std::to_string(port_) + "/" + db +
           "?sslmode=verify-full&sslrootcert=" + CaFile().string();
}

bool PostgresServer::Psql(const std::string& db, const std::string& sql, std::string* out) const {
    return Run({bin_ / "psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", AdminUri(db), "-c", sql},
               "", out) == 0;
}

bool PostgresServer::CreateDatabase(const std::string& db) const {
    return Psql("postgres", "CREATE DATABASE " + db);
}

bool PostgresServer::CreateTechnician(const std::string& user, const std::string& password) const {
    return Psql("postgres", "CREATE ROLE " + user + " LOGIN PASSWORD '" + password +
                                "'; GRANT velmora_technician TO " + user);
}

void PostgresServer::WritePassFile(const fs::path& file, const std::string& user,
                                   const std::string& password) const {
    std::ofstream(file) << "localhost:" << port_ << ":*:" << user << ":" << password << "\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace velmora::test
