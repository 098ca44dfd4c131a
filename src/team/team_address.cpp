#include "team/team_address.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace velmora::team {
namespace {

std::string Decoded(std::string_view text) {
    std::string out;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        c = static_cast<char>(c | 0x20);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Percent-encodes all but unreserved characters and those in `keep`.
std::string Encoded(std::string_view text, std::string_view keep = {}) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~' ||
            keep.find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        }
    }
    return out;
}

// "a,b,c" as its parts; one empty part for "".
std::vector<std::string> ListOf(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = text.find(',', from);
        parts.push_back(text.substr(from, comma == std::string::npos ? comma : comma - from));
        if (comma == std::string::npos) return parts;
        from = comma + 1;
    }
}

// 127.0.0.0/8, written as four decimal parts.
bool IsLoopbackV4(std::string_view text) {
    int parts = 0, value = -1, first = -1;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (value < 0 || value > 255) return false;
            if (parts++ == 0) first = value;
            value = -1;
        } else if (text[i] >= '0' && text[i] <= '9' && value < 1000) {
            value = (value < 0 ? 0 : value * 10) + (text[i] - '0');
        } else {
            return false;
        }
    }
    return parts == 4 && first == 127;
}

// ::1, in any of its spellings, or an IPv4 loopback address mapped into IPv6.
bool IsLoopbackV6(std::string_view text) {
    if (text.starts_with("::ffff:")) return IsLoopbackV4(text.substr(7));
    std::vector<unsigned long> groups;
    bool gap = false;
    for (const std::string& group : ListOf([&] {
             std::string parts(text);
             for (char& c : parts)
                 if (c == ':') c = ',';
             return parts;
         }())) {
        if (group.empty()) {
            gap = true;
        } else if (group.size() <= 4 &&
                   group.find_first_not_of("0123456789abcdef") == std::string::npos) {
            groups.push_back(std::stoul(group, nullptr, 16));
        } else {
            return false;
        }
    }
    if (groups.empty() || groups.back() != 1 || groups.size() > 8) return false;
    if (std::any_of(groups.begin(), groups.end() - 1, [](unsigned long g) { return g != 0; }))
        return false;
    return gap ? groups.size() < 8 : groups.size() == 8;
}

// A host name, address or socket folder that is this PC itself.
bool IsThisPc(const std::string& target) {
    if (target.empty() || target.starts_with('/') || target.starts_with('@')) return true;
    // A Windows socket folder: "C:\...".
    if (target.size() > 2 && std::isalpha(static_cast<unsigned char>(target[0])) &&
        target[1] == ':' && (target[2] == '\\' || target[2] == '/'))
        return true;
    std::string lower = target;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "localhost" || IsLoopbackV4(lower) || IsLoopbackV6(lower);
}

}  // namespace

std::string InsecureHost(const Transport& t) {
    const bool verified =
        (t.sslmode == "verify-full" || t.sslmode == "verify-ca") && !t.sslrootcert.empty();
    if (verified) return {};
    if (!t.service.empty() && t.host.empty() && t.hostaddr.empty()) return "service=" + t.service;
    const std::vector<std::string> hosts = ListOf(t.host), addresses = ListOf(t.hostaddr);
    for (std::size_t i = 0; i < std::max(hosts.size(), addresses.size()); ++i) {
        // libpq connects to hostaddr where it is given, and names the host by host.
        const std::string& address = i < addresses.size() ? addresses[i] : std::string();
        const std::string& host = i < hosts.size() ? hosts[i] : std::string();
        const std::string& target = address.empty() ? host : address;
        if (!IsThisPc(target)) return target;
    }
    return {};
}

ParsedAddress ParseAddress(const std::string& uri) {
    ParsedAddress parsed;
    std::string_view rest = uri;
    for (std::string_view scheme : {"postgresql://", "postgres://"})
        if (rest.starts_with(scheme)) {
            rest.remove_prefix(scheme.size());
            parsed.ok = true;
        }
    if (!parsed.ok) return parsed;
    AddressFields& f = parsed.fields;
    std::string_view query;
    if (const auto q = rest.find('?'); q != std::string_view::npos) {
        query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
    if (const auto slash = rest.find('/'); slash != std::string_view::npos) {
        f.database = Decoded(rest.substr(slash + 1));
        rest = rest.substr(0, slash);
    }
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = rest.substr(0, at);
        f.user = Decoded(userInfo.substr(0, userInfo.find(':')));
        rest = rest.substr(at + 1);
    }
    // The first host of a list; an IPv6 address is in brackets.
    rest = rest.substr(0, rest.find(','));
    std::size_t portAt = rest.rfind(':');
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        f.host = std::string(rest.substr(1, close == std::string_view::npos ? close : close - 1));
        portAt = close == std::string_view::npos ? close : rest.find(':', close);
    } else {
        f.host = Decoded(rest.substr(0, portAt));
    }
    if (portAt != std::string_view::npos) f.port = Decoded(rest.substr(portAt + 1));
    while (!query.empty()) {
        const std::string_view pair = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), pair.size() + 1));
        const auto eq = pair.find('=');
        const std::string key = Decoded(pair.substr(0, eq));
        const std::string value = eq == std::string_view::npos ? "" : Decoded(pair.substr(eq + 1));
        if (key == "sslmode")
            f.verifyFull = value == "verify-full";
        else if (key == "sslrootcert")
            f.caFile = value;
        else if (key != "password" && !key.empty())
            f.otherParameters.emplace_back(key, value);
    }
    return parsed;
}

std::string ComposeAddress(const AddressFields& f) {
    std::string uri = "postgresql://";
    if (!f.user.empty()) uri += Encoded(f.user) + "@";
    uri += f.host.find(':') != std::string::npos ? "[" + f.host + "]" : Encoded(f.host);
    if (!f.port.empty()) uri += ":" + Encoded(f.port);
    if (!f.database.empty()) uri += "/" + Encoded(f.database);
    std::vector<std::pair<std::string, std::string>> parameters;
    if (f.verifyFull) parameters.emplace_back("sslmode", "verify-full");
    if (!f.caFile.empty()) parameters.emplace_back("sslrootcert", f.caFile);
    parameters.insert(parameters.end(), f.otherParameters.begin(), f.otherParameters.end());
    char separator = '?';
    for (const auto& [key, value] : parameters) {
        uri += separator + Encoded(key) + "=" + Encoded(value, "/:");
        separator = '&';
    }
    return uri;
}

PasswordKey PasswordKeyOf(const AddressFields& f) {
    // libpq matches a socket directory (or no host at all) as "localhost".
    const bool local = f.host.empty() || f.host.starts_with('/');
    return {local ? "localhost" : f.host, f.port.empty() ? "5432" : f.port,
            f.database.empty() ? f.user : f.database, f.user};
}

}  // namespace velmora::team
