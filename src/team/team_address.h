#pragma once
// A team archive's address as the settings dialog edits it: a libpq connection URI
// (postgresql://user@host:port/db?sslmode=verify-full&sslrootcert=ca.crt) taken
// apart into the fields a user fills in, and put together again. Parameters the
// fields do not cover are kept as they were, in their order.
#include <string>
#include <utility>
#include <vector>

namespace velmora::team {

struct AddressFields {
    std::string user;
    std::string host;
    std::string port;      // "" for libpq's default (5432)
    std::string database;  // "" for libpq's default (the user's name)
    bool verifyFull = false;
    std::string caFile;  // sslrootcert
    std::vector<std::pair<std::string, std::string>> otherParameters;
};

// The fields of `uri`; nullopt-like `ok` false when it is no postgresql:// URI.
// A password in the address is dropped: it never belongs there.
struct ParsedAddress {
    bool ok = false;
    AddressFields fields;
};
ParsedAddress ParseAddress(const std::string& uri);
std::string ComposeAddress(const AddressFields& fields);

// What libpq's password file matches an address by: host ("localhost" for a local
// socket), port ("5432" when not given), database (the user's when not given), user.
struct PasswordKey {
    std::string host;
    std::string port;
    std::string database;
    std::string user;
    bool operator==(const PasswordKey&) const = default;
};
PasswordKey PasswordKeyOf(const AddressFields& fields);

// What decides where a connection's data goes and how it is protected: libpq's
// options of these names, as the address gives them or else as libpq's environment
// (PGHOST, PGSSLMODE, ...) does. Lists of hosts are comma-separated.
struct Transport {
    std::string host;
    std::string hostaddr;
    std::string service;  // a service file's entry, which may name any host
    std::string sslmode;
    std::string sslrootcert;
};
// The first host the connection would reach over the network without verifying the
// server's certificate against a CA (sslmode verify-full or verify-ca, sslrootcert):
// "" when there is none. This PC itself (a local socket, localhost, a loopback
// address) may be reached without: nothing leaves it.
std::string InsecureHost(const Transport& transport);

}  // namespace velmora::team
