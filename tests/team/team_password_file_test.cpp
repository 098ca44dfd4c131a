// libpq's password file as the settings dialog writes it, and the address it is
// keyed by: a line for the server replaces its own and keeps every other, with
// ':' and '\' escaped, in a file only its owner may read.
#include "team/team_password_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/file_read.h"
#include "support/test_support.h"
#include "team/team_address.h"

namespace velmora::test {
namespace {

TEST(TeamPasswordFile, ReplacesItsServersLineAndKeepsTheOthers) {
    const team::PasswordKey key{"db.example", "5432", "crew", "tech1"};
    struct Case {
        const char* why;
        std::string before;
        team::PasswordKey key;
        std::string password;
        std::string after;
    };
    const Case cases[] = {
        {"a new file", "", key, "pw", "db.example:5432:crew:tech1:pw\n"},
        {"its own line replaced, comments and other servers kept in order",
         "# crew\nother:5432:*:tech1:x\r\ndb.example:5432:crew:tech1:old\n*:*:*:*:any", key, "new",
         "db.example:5432:crew:tech1:new\n# crew\nother:5432:*:tech1:x\r\n*:*:*:*:any\n"},
        {"':' and '\\' escaped in every field, and an escaped line matched",
         "h\\:1:5432:d\\\\b:u:old\n",
         {"h:1", "5432", "d\\b", "u"},
         "p:w\\",
         "h\\:1:5432:d\\\\b:u:p\\:w\\\\\n"},
        {"a line of another user or port is not ours",
         "db.example:5433:crew:tech1:a\ndb.example:5432:crew:tech2:b\n", key, "c",
         "db.example:5432:crew:tech1:c\ndb.example:5433:crew:tech1:a\n"
         "db.example:5432:crew:tech2:b\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(team::WithPassword(c.before, c.key, c.password), c.after) << c.why;

    TempDir dir;
    const auto file = dir.path() / "pgpass";
    ASSERT_EQ(team::RememberPassword(file, key, "one"), "");
    ::chmod(file.c_str(), 0644);  // a file made by hand: written back owner-only
    ASSERT_EQ(team::RememberPassword(file, key, "two"), "");
    EXPECT_EQ(ReadWholeFile(file, 1024).bytes, "db.example:5432:crew:tech1:two\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TeamPasswordFile, AddressFieldsAndTheirKey) {
    struct Case {
        std::string uri;
        team::AddressFields fields;
        team::PasswordKey key;
    };
    const Case cases[] = {
        {"postgresql://tech1@db.example:6543/crew?sslmode=verify-full&sslrootcert=/etc/ca%20x.crt",
         {"tech1", "db.example", "6543", "crew", true, "/etc/ca x.crt", {}},
         {"db.example", "6543", "crew", "tech1"}},
        // libpq's defaults: port 5432, the user's own database, a socket as localhost.
        {"postgresql://t%40x@%2Fvar%2Frun%2Fpostgresql?application_name=a",
         {"t@x", "/var/run/postgresql", "", "", false, "", {{"application_name", "a"}}},
         {"localhost", "5432", "t@x", "t@x"}},
        {"postgresql://u@[::1]:5433/d",
         {"u", "::1", "5433", "d", false, "", {}},
         {"::1", "5433", "d", "u"}},
    };
    for (const Case& c : cases) {
        const team::ParsedAddress parsed = team::ParseAddress(c.uri);
        ASSERT_TRUE(parsed.ok) << c.uri;
        const team::AddressFields& f = parsed.fields;
        EXPECT_EQ(std::tie(f.user, f.host, f.port, f.database, f.verifyFull, f.caFile),
                  std::tie(c.fields.user, c.fields.host, c.fields.port, c.fields.database,
                           c.fields.verifyFull, c.fields.caFile))
            << c.uri;
        EXPECT_EQ(f.otherParameters, c.fields.otherParameters) << c.uri;
        EXPECT_EQ(team::PasswordKeyOf(f), c.key) << c.uri;
        // Put together again, the address gives the same fields.
        const team::ParsedAddress again = team::ParseAddress(team::ComposeAddress(f));
        EXPECT_EQ(team::ComposeAddress(again.fields), team::ComposeAddress(f)) << c.uri;
        EXPECT_EQ(again.fields.caFile, f.caFile) << c.uri;
    }
    EXPECT_FALSE(team::ParseAddress("host=db user=x").ok);
    // A password in the address is never carried into the fields.
    EXPECT_EQ(team::ComposeAddress(team::ParseAddress("postgresql://u:pw@h/d?password=x").fields),
              "postgresql://u@h/d");
}

}  // namespace
}  // namespace velmora::test
