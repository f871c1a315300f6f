#include "tolvak/web_policy.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "tolvak/cli_args.h"
#include "tolvak/text_format.h"

namespace tolvak::cli {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isIpv4(const std::string& text, in_addr* out = nullptr) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    if (out) *out = a;
    return true;
}

bool isIpv6(const std::string& text, in6_addr* out = nullptr) {
    in6_addr a{};
    if (::inet_pton(AF_INET6, text.c_str(), &a) != 1) return false;
    if (out) *out = a;
    return true;
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
    if (address.front() == '[') {
        if (address.back() != ']') throw bad;
        address = address.substr(1, address.size() - 2);
        in6_addr a6{};
        if (!isIpv6(address, &a6)) throw bad;
        listen.loopback = IN6_IS_ADDR_LOOPBACK(&a6);
        listen.wildcard = IN6_IS_ADDR_UNSPECIFIED(&a6);
    } else {
        in_addr a4{};
        if (!isIpv4(address, &a4)) throw bad;
        const uint32_t host = ntohl(a4.s_addr);
        listen.loopback = (host >> 24) == 127;
        listen.wildcard = host == 0;
    }
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
    if (hosts.empty()) return {Access::badRequest, "Host missing"};
    if (hosts.size() > 1) return {Access::badRequest, "Host repeated"};
    if (!hostName(hosts.front())) return {Access::badRequest, "Host malformed"};
    if (!hostAllowed(hosts.front(), policy)) return {Access::forbidden, "host not allowed"};
    if (origins.size() > 1) return {Access::forbidden, "Origin repeated"};
    const std::optional<std::string_view> origin =
        origins.empty() ? std::nullopt : std::optional<std::string_view>(origins.front());
    if (!originAllowed(origin, hosts.front(), policy))
        return {Access::forbidden, "origin not allowed"};
    return {Access::allowed, ""};
}

std::string urlAddress(const std::string& address) {
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

nlohmann::ordered_json portObject(const PortStatus& port) {
    nlohmann::ordered_json object;
    object["state"] = stateName(port.state);
    object["device"] = port.device;
    object["error"] =
        port.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(port.error);
    switch (port.state) {
    case PortStatus::State::connected:
        object["message"] = "connected";
        break;
    case PortStatus::State::waiting:
        object["message"] = "waiting for the device";
        break;
    case PortStatus::State::closed:
        object["message"] = "closed";
        break;
    }
    return object;
}

std::string readingMessage(const Reading& reading, uint64_t seq) {
    nlohmann::ordered_json message;
    message["type"] = "reading";
    message["seq"] = seq;
    message.update(readingObject(reading));
    return jsonText(message);
}

std::string portMessage(const PortStatus& port) {
    nlohmann::ordered_json message;
    message["type"] = "port";
    message.update(portObject(port));
    return jsonText(message);
}

std::string weightAnswer(const Reading* latest, uint64_t seq, const PortStatus& port,
                         std::chrono::system_clock::time_point now) {
    nlohmann::ordered_json answer;
    if (latest) {
        answer["seq"] = seq;
        answer.update(readingObject(*latest));
        if (port.state != PortStatus::State::connected) answer["stable"] = false;
        answer["ageMs"] =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - latest->time).count();
    } else {
        for (const char* key : {"seq", "weight", "value"})
            answer[key] = nullptr;
        answer["stable"] = false;
        answer["time"] = nullptr;
        answer["ageMs"] = nullptr;
    }
    answer["port"] = portObject(port);
    return jsonText(answer);
}

int healthStatus(const PortStatus& port) {
    return port.state == PortStatus::State::connected ? 200 : 503;
}

std::string healthAnswer(const PortStatus& port) {
    nlohmann::ordered_json health;
    health["status"] = healthStatus(port) == 200 ? "ok" : "no device";
    health["port"] = portObject(port);
    return jsonText(health);
}

std::string sseEvent(const std::string& type, std::optional<uint64_t> id, const std::string& json) {
    std::string event = "event: " + type + "\n";
    if (id) event += "id: " + std::to_string(*id) + "\n";
    // jsonText is one line, so one data line carries it.
    event += "data: " + json + "\n\n";
    return event;
}

std::string webSocketTextFrame(const std::string& payload) {
    std::string frame(1, '\x81'); // FIN, text
    const uint64_t size = payload.size();
    int lengthBytes = 0;
    if (size < 126) {
        frame += static_cast<char>(size);
    } else if (size <= 0xFFFF) {
        frame += static_cast<char>(126);
        lengthBytes = 2;
    } else {
        frame += static_cast<char>(127);
        lengthBytes = 8;
    }
    for (int i = lengthBytes - 1; i >= 0; --i)
        frame += static_cast<char>((size >> (8 * i)) & 0xFF);
    return frame + payload;
}

} // namespace tolvak::cli
