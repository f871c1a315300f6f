#include "tolvak/serve/access.h"

#include <algorithm>
#include <cctype>

#include <boost/asio/ip/address.hpp>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// An address literal as Asio reads it, the system's own parser: no hand-written one to differ.
std::optional<boost::asio::ip::address> addressOf(const std::string& text) {
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(text, ec);
    if (ec) return std::nullopt;
    return address;
}

bool isIpv4(const std::string& text) {
    const auto address = addressOf(text);
    return address && address->is_v4();
}

bool isIpv6(const std::string& text) {
    const auto address = addressOf(text);
    // A zone (fe80::1%eth0) is no part of a Host header.
    return address && address->is_v6() && text.find('%') == std::string::npos;
}

// reg-name of RFC 3986: unreserved, sub-delims and percent-encoded octets.
bool isRegName(std::string_view name) {
    static const std::string_view kOther = "-._~!$&'()*+,;=";
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '%') {
            if (i + 2 >= name.size() || !std::isxdigit(static_cast<unsigned char>(name[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(name[i + 2])))
                return false;
            i += 2;
        } else if (!std::isalnum(c) &&
                   kOther.find(static_cast<char>(c)) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool isPort(std::string_view port) {
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit)) return false;
    return port.empty() || std::stoul(std::string(port)) <= 65535;
}

} // namespace

ListenAddress parseListenAddress(const std::string& text) {
    const UsageError bad("--listen: '" + text + "' is not ADDRESS:PORT (e.g. 127.0.0.1:8111)");
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) throw bad;
    std::string address = text.substr(0, colon);
    const std::string portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), ::isdigit))
        throw bad;
    const unsigned long port = std::stoul(portText);
    if (port > 65535) throw bad;

    ListenAddress listen;
    listen.port = static_cast<uint16_t>(port);
    const bool bracketed = address.front() == '[';
    if (bracketed) {
        if (address.back() != ']') throw bad;
        address = address.substr(1, address.size() - 2);
    }
    if (bracketed ? !isIpv6(address) : !isIpv4(address)) throw bad;
    const boost::asio::ip::address ip = *addressOf(address);
    listen.loopback = ip.is_loopback();
    listen.wildcard = ip.is_unspecified();
    listen.address = address;
    return listen;
}

std::optional<std::string> hostName(std::string_view host) {
    std::string_view name = host;
    std::string_view rest;
    if (!host.empty() && host.front() == '[') {
        const size_t close = host.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        name = host.substr(1, close - 1);
        rest = host.substr(close + 1);
        if (!isIpv6(std::string(name))) return std::nullopt;
    } else {
        const size_t colon = host.find(':');
        name = host.substr(0, colon);
        if (colon != std::string_view::npos) rest = host.substr(colon);
        if (!isRegName(name)) return std::nullopt;
    }
    if (name.empty()) return std::nullopt;
    if (!rest.empty() && (rest.front() != ':' || !isPort(rest.substr(1)))) return std::nullopt;
    return lower(name);
}

bool hostAllowed(std::string_view host, const AccessPolicy& policy) {
    const std::optional<std::string> name = hostName(host);
    if (!name) return false;
    if (*name == "localhost" || *name == lower(policy.listen.address)) return true;
    if (policy.listen.wildcard && (isIpv4(*name) || isIpv6(*name))) return true;
    return std::any_of(policy.allowHosts.begin(), policy.allowHosts.end(),
                       [&](const std::string& allowed) { return lower(allowed) == *name; });
}

namespace {

bool listed(const std::string& origin, const std::vector<std::string>& list) {
    return std::find(list.begin(), list.end(), origin) != list.end();
}

} // namespace

std::string normalizeOrigin(const std::string& option, const std::string& text) {
    const UsageError bad(option + ": '" + text +
                         "' is not an origin: scheme://host[:port], e.g. https://app.example");
    if (lower(text) == "null")
        throw UsageError(option + ": 'null' is refused: any website can make a browser send it "
                                  "(sandboxed frames, data: URLs, redirects); serve the page from "
                                  "a web server and allow that origin");
    const size_t sep = text.find("://");
    if (sep == std::string::npos || sep == 0) throw bad;
    const std::string scheme = lower(text.substr(0, sep));
    if (!std::isalpha(static_cast<unsigned char>(scheme[0])) ||
        !std::all_of(scheme.begin(), scheme.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '+' || c == '-' || c == '.';
        }))
        throw bad;
    std::string authority = text.substr(sep + 3);
    if (!authority.empty() && authority.back() == '/') authority.pop_back();
    // A path, query, user or fragment is no part of an origin.
    if (authority.find_first_of("/?#@") != std::string::npos) throw bad;
    const std::optional<std::string> name = hostName(authority);
    if (!name) throw bad;
    return scheme + "://" + lower(authority);
}

bool originAllowed(std::optional<std::string_view> origin, std::string_view host,
                   const AccessPolicy& policy) {
    if (!origin) return true;
    const std::string o = lower(*origin);
    return o == "http://" + lower(host) || listed(o, policy.allowOrigins) ||
           listed(o, policy.commandOrigins);
}

bool commandOriginAllowed(std::optional<std::string_view> origin, std::string_view host,
                          const AccessPolicy& policy) {
    if (!origin) return true;
    const std::string o = lower(*origin);
    return o == "http://" + lower(host) || listed(o, policy.commandOrigins);
}

bool bearerMatches(const std::vector<std::string_view>& authorizations, const std::string& token) {
    if (authorizations.size() != 1 || token.empty()) return false;
    std::string_view value = authorizations.front();
    static const std::string_view kScheme = "bearer ";
    if (value.size() < kScheme.size() || lower(value.substr(0, kScheme.size())) != kScheme)
        return false;
    value.remove_prefix(kScheme.size());
    while (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ')
        value.remove_suffix(1);
    if (value.size() != token.size()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < token.size(); ++i)
        differ |= static_cast<unsigned char>(value[i] ^ token[i]);
    return differ == 0;
}

AccessVerdict checkAccess(const std::vector<std::string_view>& hosts,
                          const std::vector<std::string_view>& origins,
                          const AccessPolicy& policy) {
    // Two Hosts may be read differently by a proxy and by us: neither is trusted.
    if (hosts.empty()) return {Access::badRequest, "Host missing", {}};
    if (hosts.size() > 1) return {Access::badRequest, "Host repeated", {}};
    if (!hostName(hosts.front())) return {Access::badRequest, "Host malformed", {}};
    if (!hostAllowed(hosts.front(), policy))
        return {Access::forbidden, "not a name of this server", *hostName(hosts.front()),
                "--allow-host"};
    if (origins.size() > 1) return {Access::forbidden, "Origin repeated", {}};
    const std::optional<std::string_view> origin =
        origins.empty() ? std::nullopt : std::optional<std::string_view>(origins.front());
    if (!originAllowed(origin, hosts.front(), policy))
        return {Access::forbidden, "not an allowed origin", std::string(*origin), "--allow-origin"};
    return {Access::allowed, "", {}};
}

std::string urlAddress(const std::string& address) {
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

} // namespace tolvak::cli
