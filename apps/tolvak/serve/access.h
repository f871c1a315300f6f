#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvak::cli {

// --listen ADDR:PORT. ADDR is an IPv4 or IPv6 literal, the latter in brackets: [::1]:8111.
struct ListenAddress {
    std::string address; // without brackets
    uint16_t port = 0;
    bool loopback = false; // 127.0.0.0/8 or ::1
    bool wildcard = false; // 0.0.0.0 or ::
};
// Throws UsageError for anything else.
ListenAddress parseListenAddress(const std::string& text);

// Who may talk to the server. Browsers let any page send requests to localhost, so the Host
// header (DNS rebinding) and the Origin header (other sites' pages) are both checked.
struct AccessPolicy {
    ListenAddress listen;
    std::vector<std::string> allowOrigins;   // besides the page's own origin, as normalizeOrigin
    std::vector<std::string> commandOrigins; // pages that may also send commands (and read)
    std::vector<std::string> allowHosts;     // names besides localhost and the listen address
};

// An origin as a browser sends it: scheme://host[:port], lower case, a trailing slash dropped.
// "null" (sandboxed frames, data: URLs, redirected requests: any site can make a browser send
// it) and anything else are UsageErrors naming option.
std::string normalizeOrigin(const std::string& option, const std::string& text);

// Commands change what the scale reports, so a request for one must bear the token when a token
// is set, and may come from a page only of the server's own origin or one allowed commands.
// "Authorization: Bearer TOKEN"; the comparison takes the same time wherever the first
// difference is.
bool bearerMatches(const std::vector<std::string_view>& authorizations, const std::string& token);
bool commandOriginAllowed(std::optional<std::string_view> origin, std::string_view host,
                          const AccessPolicy& policy);

// The name of a Host header as HTTP has it: a name or an address, then an optional numeric
// port; an IPv6 address only in brackets. Lower case, without the brackets and the port;
// nullopt when the text is no such Host.
std::optional<std::string> hostName(std::string_view host);
// The Host header's name is localhost, the listen address, any address literal when listening
// on all addresses, or a name allowed by --allow-host. The port is not what a rebinding attack
// changes, so it is not checked. A malformed Host is not allowed.
bool hostAllowed(std::string_view host, const AccessPolicy& policy);
// An Origin header is the page's own origin (http:// and the request's Host) or one of
// --allow-origin. A request without Origin comes from a program, not a web page: allowed.
bool originAllowed(std::optional<std::string_view> origin, std::string_view host,
                   const AccessPolicy& policy);

// The answer to a request's Host and Origin fields, given every occurrence of each: exactly one
// well-formed Host (else 400), naming this server, and at most one Origin, allowed (else 403).
enum class Access { allowed, badRequest, forbidden };
struct AccessVerdict {
    Access access;
    const char* why;             // for the refusal's body
    std::string refused;         // the host's name or the origin refused, as the request gave it
    const char* allow = nullptr; // the option that would let it in
};
AccessVerdict checkAccess(const std::vector<std::string_view>& hosts,
                          const std::vector<std::string_view>& origins, const AccessPolicy& policy);

// An address as it stands in a URL or before ":port": IPv6 in brackets.
std::string urlAddress(const std::string& address);

} // namespace tolvak::cli
