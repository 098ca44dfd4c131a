#include "team/team_address.h"

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

}  // namespace

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
