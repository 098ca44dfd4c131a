#pragma once
// The fixture of the tests that run velmora-cli against a team archive: one database
// of the shared PostgreSQL server per test (named after the test), made a team
// archive by `team init` over the socket, the technician with a password file, and
// two laptops' data folders.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/postgres_server.h"
#include "support/test_support.h"

namespace velmora::test {

inline constexpr const char* kTechnician = "tech1";
inline constexpr const char* kPassword = "s3cret-Pw";

class TeamArchiveTest : public ::testing::Test {
  protected:
    // `prefix` keeps the databases of two suites with tests of one name apart.
    void MakeTeamArchive(const std::string& prefix = {}) {
        std::string why;
        server = PostgresServer::Shared(why);
        if (!server) GTEST_SKIP() << "no PostgreSQL server for the team archive: " << why;
        db = prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : db) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_TRUE(server->CreateDatabase(db));
        ASSERT_EQ(Cli(laptopA, {"team", "init", server->AdminUri(db)}).status, 0);
        server->CreateTechnician(kTechnician, kPassword);  // once per server: may exist
        server->WritePassFile(passFile.path() / "pgpass", kTechnician, kPassword);
        setenv("PGPASSFILE", (passFile.path() / "pgpass").c_str(), 1);
    }

    CliRun Cli(const TempDir& laptop, const std::vector<std::string>& args) {
        return RunProgram(kCliProgram, args, laptop.path());
    }

    PostgresServer* server = nullptr;
    std::string db;
    TempDir laptopA, laptopB, passFile;
};

}  // namespace velmora::test
