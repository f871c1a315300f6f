#include "tolvak/serve/routes.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "tolvak/cli/cli_args.h"
#include "tolvak/output/text_format.h"
#include "tolvak/serve/messages.h"
#include "tolvak/serve/page.h"

namespace tolvak::cli {

namespace {

// Refuses the request; the connection closes after the answer.
Answer refusal(int status, const std::string& why) {
    Answer answer;
    answer.status = status;
    answer.contentType = "text/plain";
    answer.body = why + "\n";
    answer.close = true;
    return answer;
}

Answer reply(int status, const char* type, std::string body, const std::string& allowOrigin) {
    Answer answer;
    answer.status = status;
    answer.contentType = type;
    answer.body = std::move(body);
    answer.allowOrigin = allowOrigin;
    return answer;
}

std::string jsonError(const std::string& text) {
    return jsonText({{"error", text}}) + "\n";
}

// A page opened from disk sends "Origin: null", and so does any sandboxed frame of any site:
// allowing null would allow every site.
const char kNullOrigin[] =
    "a page opened from disk (Origin: null) is refused: every local file and every sandboxed page "
    "sends null, so no option allows it; open the page from this server or from a local web "
    "server (e.g. python3 -m http.server 8000 in its folder) and allow that origin with "
    "--allow-origin http://localhost:8000";

// A host or a page refused: the body names the option that would let it in (JSON, as the other
// errors), and the notice tells the operator who knocked.
Answer forbidden(const std::string& why, const char* allow, const std::string& refused) {
    Answer answer = refusal(403, "");
    answer.contentType = "application/json";
    answer.body = jsonError(why);
    if (!allow) return answer;
    const std::string option = allow;
    if (option != "--allow-host" && refused == "null") {
        answer.body = jsonError(kNullOrigin);
        answer.notice = "refused a page opened from disk (Origin: null; see docs/web.md)";
        return answer;
    }
    // Only a well-formed name is repeated to the log and as an option: the header is the
    // requester's own text.
    std::string name = refused;
    if (option != "--allow-host") {
        try {
            name = normalizeOrigin(option, refused);
        } catch (const UsageError&) {
            return answer;
        }
    }
    const char* whose = option == "--allow-host"     ? "a request for host "
                        : option == "--allow-origin" ? "a page from "
                                                     : "a command from ";
    answer.body = jsonText({{"error", why + ": " + name}, {"allow", option + " " + name}}) + "\n";
    answer.notice =
        "refused " + (whose + name) + " (" + why + "; " + option + " " + name + " allows it)";
    return answer;
}

// A command's answer, or none when it may go to the desk.
std::optional<Answer> commandRefusal(const Request& request, const Site& site,
                                     const std::string& allowOrigin) {
    std::string token;
    try {
        token = site.token ? site.token() : std::string();
    } catch (const std::exception& e) {
        return reply(503, "application/json",
                     jsonError(std::string("the token cannot be read: ") + e.what()), allowOrigin);
    }
    if (token.empty() || bearerMatches(request.authorizations, token)) return std::nullopt;
    Answer answer = reply(401, "application/json",
                          jsonError("commands need the token: Authorization: Bearer TOKEN (see "
                                    "--token-file)"),
                          allowOrigin);
    answer.headers.emplace_back("WWW-Authenticate", "Bearer");
    return answer;
}

std::optional<size_t> findScale(const Site& site, std::string_view name) {
    if (!site.scales) return std::nullopt;
    for (size_t i = 0; i < site.scales->size(); ++i)
        if ((*site.scales)[i] == name) return i;
    return std::nullopt;
}

// "scale=in,out" or "scale=in&scale=out" ("*" for every one): the scales a stream follows, by
// name; none asked for, the default scale as a single-scale server has it. Nullopt for a name
// the server does not have, which is then in unknown.
std::optional<Answer> streamScales(const Request& request, const Site& site, Answer answer,
                                   std::string& unknown) {
    std::string_view query = request.query;
    while (!query.empty()) {
        const std::string_view param = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), param.size() + 1));
        if (param.substr(0, 6) != "scale=") continue;
        answer.plain = false;
        std::string_view names = param.substr(6);
        while (true) {
            const std::string_view name = names.substr(0, names.find(','));
            if (name == "*" || name == "%2A") {
                for (size_t i = 0; site.scales && i < site.scales->size(); ++i)
                    answer.scales.push_back(i);
            } else if (auto i = findScale(site, name)) {
                answer.scales.push_back(*i);
            } else {
                unknown = std::string(name);
                return std::nullopt;
            }
            if (name.size() == names.size()) break;
            names.remove_prefix(name.size() + 1);
        }
    }
    return answer;
}

// "/api/scales/NAME/REST": the scale and REST; none for other paths or another name.
std::optional<std::pair<size_t, std::string>> scalePath(const Site& site,
                                                        const std::string& target) {
    const std::string prefix = "/api/scales/";
    if (target.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const size_t slash = target.find('/', prefix.size());
    if (slash == std::string::npos) return std::nullopt;
    auto scale =
        findScale(site, std::string_view(target).substr(prefix.size(), slash - prefix.size()));
    if (!scale) return std::nullopt;
    return std::make_pair(*scale, target.substr(slash + 1));
}

} // namespace

Answer route(const Request& request, const Site& site) {
    const AccessVerdict verdict = checkAccess(request.hosts, request.origins, site.policy);
    if (verdict.access == Access::badRequest) return refusal(400, verdict.why);
    if (verdict.access == Access::forbidden)
        return forbidden(verdict.why, verdict.allow, verdict.refused);
    std::optional<std::string_view> origin;
    if (!request.origins.empty()) origin = request.origins.front();
    const std::string allowOrigin(origin.value_or(""));
    const std::string& target = request.target;

    // Commands only from programs, the server's own page and the origins allowed them.
    bool offered = !site.commands.empty();
    for (size_t i = 0; site.scaleCommands && i < site.scaleCommands->size(); ++i)
        offered = offered || !(*site.scaleCommands)[i].empty();
    const bool commands =
        offered && commandOriginAllowed(origin, request.hosts.front(), site.policy);
    if (request.method == "OPTIONS") {
        Answer answer = reply(204, "", "", allowOrigin);
        answer.headers = {{"Access-Control-Allow-Methods", commands ? "GET, POST" : "GET"},
                          {"Access-Control-Allow-Headers", "Authorization, Content-Type"},
                          {"Access-Control-Max-Age", "600"}};
        return answer;
    }
    const auto scaled = scalePath(site, target);
    if (request.method == "POST") {
        // The default scale's at /api/NAME, each scale's at /api/scales/SCALE/NAME.
        const size_t scale = scaled ? scaled->first : site.defaultScale;
        const std::vector<std::string>& offered =
            scaled && site.scaleCommands ? (*site.scaleCommands)[scale] : site.commands;
        for (const std::string& name : offered) {
            if (scaled ? scaled->second != name : target != "/api/" + name) continue;
            if (!commands)
                return forbidden("not allowed to send commands", "--allow-commands-from",
                                 std::string(origin.value_or("")));
            if (auto refused = commandRefusal(request, site, allowOrigin)) return *refused;
            Answer answer = reply(200, "application/json", "", allowOrigin);
            answer.action = Answer::Action::command;
            answer.command = name;
            answer.scale = scale;
            return answer;
        }
    }
    if (request.method != "GET") {
        Answer answer = reply(405, "text/plain", "only GET\n", allowOrigin);
        answer.headers.emplace_back("Allow", "GET, OPTIONS");
        return answer;
    }
    if (target == "/" || target == "/index.html")
        return reply(200, "text/html; charset=utf-8", kWebPage, allowOrigin);
    if (target == "/api/weight")
        return reply(200, "application/json", site.weight() + "\n", allowOrigin);
    if (target == "/api/scales" && site.scaleList)
        return reply(200, "application/json", site.scaleList() + "\n", allowOrigin);
    if (scaled && scaled->second == "weight" && site.scaleWeight)
        return reply(200, "application/json", site.scaleWeight(scaled->first) + "\n", allowOrigin);
    if (target == "/healthz")
        return reply(healthStatus(site.port), "application/json", healthAnswer(site.port) + "\n",
                     allowOrigin);
    if (target == "/api/events" || target == "/ws") {
        const bool ws = target == "/ws";
        if (ws && !request.webSocketUpgrade)
            return reply(426, "text/plain", "a WebSocket upgrade is expected here\n", allowOrigin);
        // Streams stay; the places left over are for short requests such as /healthz.
        if (site.streamsFull) return refusal(503, "too many clients");
        Answer answer = reply(200, "", "", allowOrigin);
        answer.action = ws ? Answer::Action::webSocket : Answer::Action::events;
        std::string unknown;
        if (auto streamed = streamScales(request, site, std::move(answer), unknown))
            return *streamed;
        return reply(404, "application/json", jsonError("no scale named '" + unknown + "'"),
                     allowOrigin);
    }
    return reply(404, "text/plain", "not found\n", allowOrigin);
}

} // namespace tolvak::cli
