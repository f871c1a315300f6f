// Which answer each request gets, without a socket: access, paths, commands and their guards.
#include <gtest/gtest.h>

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "tolvak/serve/routes.h"

namespace tolvak::cli {
namespace {

using Action = Answer::Action;

TEST(Routes, AnswerEachRequest) {
    AccessPolicy policy;
    policy.listen = parseListenAddress("127.0.0.1:8111");
    policy.allowOrigins = {normalizeOrigin("--allow-origin", "HTTP://Read.example/")};
    policy.commandOrigins = {"http://cmd.example"};
    const std::vector<std::string> commands = {"tare"};
    PortStatus connected;
    connected.state = PortStatus::State::connected;
    const PortStatus waiting;
    auto token = [] { return std::string("secret"); };
    auto weight = [] { return std::string("{}"); };

    struct Row {
        const char* name;
        Request request;
        bool streamsFull;
        const PortStatus* port;
        int status;
        Action action;
        bool close;
        size_t scale = 0;             // of a command
        std::vector<size_t> scales{}; // of a stream: those named; none, the default's plain one
    };
    using V = std::vector<std::string_view>;
    const V host{"127.0.0.1:8111"};
    const V bearer{"Bearer secret"};
    const Row rows[] = {
        {"no Host", {"GET", "/", {}, {}, {}}, false, &connected, 400, Action::respond, true},
        {"a foreign Host",
         {"GET", "/", {"evil.example"}, {}, {}},
         false,
         &connected,
         403,
         Action::respond,
         true},
        {"the page", {"GET", "/", host, {}, {}}, false, &connected, 200, Action::respond, false},
        {"health, connected",
         {"GET", "/healthz", host, {}, {}},
         false,
         &connected,
         200,
         Action::respond,
         false},
        {"health, no device",
         {"GET", "/healthz", host, {}, {}},
         false,
         &waiting,
         503,
         Action::respond,
         false},
        {"ws without upgrade",
         {"GET", "/ws", host, {}, {}, false},
         false,
         &connected,
         426,
         Action::respond,
         false},
        {"ws",
         {"GET", "/ws", host, {"http://read.example"}, {}, true},
         false,
         &connected,
         200,
         Action::webSocket,
         false},
        {"events, full",
         {"GET", "/api/events", host, {}, {}},
         true,
         &connected,
         503,
         Action::respond,
         true},
        {"events",
         {"GET", "/api/events", host, {}, {}},
         false,
         &connected,
         200,
         Action::events,
         false},
        {"tare from a reading page",
         {"POST", "/api/tare", host, {"http://read.example"}, bearer},
         false,
         &connected,
         403,
         Action::respond,
         true},
        {"tare without the token",
         {"POST", "/api/tare", host, {}, {}},
         false,
         &connected,
         401,
         Action::respond,
         false},
        {"tare",
         {"POST", "/api/tare", host, {"http://cmd.example"}, bearer},
         false,
         &connected,
         200,
         Action::command,
         false},
        {"a command not offered",
         {"POST", "/api/zero", host, {}, bearer},
         false,
         &connected,
         405,
         Action::respond,
         false},
        {"nothing here",
         {"GET", "/nothing", host, {}, {}},
         false,
         &connected,
         404,
         Action::respond,
         false},
        {"the scales",
         {"GET", "/api/scales", host, {}, {}},
         false,
         &connected,
         200,
         Action::respond,
         0},
        {"a scale's weight",
         {"GET", "/api/scales/out/weight", host, {}, {}},
         false,
         &connected,
         200,
         Action::respond,
         false},
        {"no such scale",
         {"GET", "/api/scales/nope/weight", host, {}, {}},
         false,
         &connected,
         404,
         Action::respond,
         false},
        {"a scale's tare",
         {"POST", "/api/scales/out/tare", host, {}, bearer},
         false,
         &connected,
         200,
         Action::command,
         false,
         1},
        {"a command that scale has not",
         {"POST", "/api/scales/in/tare", host, {}, bearer},
         false,
         &connected,
         405,
         Action::respond,
         false},
        {"a scale's tare without the token",
         {"POST", "/api/scales/out/tare", host, {}, {}},
         false,
         &connected,
         401,
         Action::respond,
         false},
        {"one scale's events",
         {"GET", "/api/events", host, {}, {}, false, "scale=out"},
         false,
         &connected,
         200,
         Action::events,
         false,
         0,
         {1}},
        {"every scale's events",
         {"GET", "/api/events", host, {}, {}, false, "x=1&scale=*"},
         false,
         &connected,
         200,
         Action::events,
         false,
         0,
         {0, 1}},
        {"two scales' WebSocket",
         {"GET", "/ws", host, {}, {}, true, "scale=out&scale=in"},
         false,
         &connected,
         200,
         Action::webSocket,
         false,
         0,
         {1, 0}},
        {"events of no such scale",
         {"GET", "/api/events", host, {}, {}, false, "scale=in,nope"},
         false,
         &connected,
         404,
         Action::respond,
         false},
    };
    // Two scales: the paths of one stand for "in"; only "out" can tare.
    const std::vector<std::string> scales = {"in", "out"};
    const std::vector<std::vector<std::string>> scaleCommands = {{}, {"tare"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Site site{policy,
                        commands,
                        token,
                        weight,
                        *row.port,
                        row.streamsFull,
                        &scales,
                        &scaleCommands,
                        0,
                        [](size_t) { return std::string("{}"); },
                        [] { return std::string("{}"); }};
        const Answer answer = route(row.request, site);
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(answer.action, row.action);
        EXPECT_EQ(answer.close, row.close);
        EXPECT_EQ(answer.scale, row.scale);
        EXPECT_EQ(answer.scales, row.scales);
        EXPECT_EQ(answer.plain, row.scales.empty());
    }

    // Preflights offer POST and the token's header to an origin allowed commands only.
    for (const auto& [origin, methods] :
         {std::pair{"http://read.example", "GET"}, std::pair{"http://cmd.example", "GET, POST"}}) {
        const Site site{policy, commands, token, weight, connected};
        const Answer answer = route({"OPTIONS", "/api/tare", host, {origin}, {}}, site);
        EXPECT_EQ(answer.status, 204);
        EXPECT_EQ(answer.allowOrigin, origin);
        EXPECT_EQ(answer.headers.at(0), std::make_pair(std::string("Access-Control-Allow-Methods"),
                                                       std::string(methods)));
    }
    // A token that cannot be read refuses commands rather than letting them through.
    const Site broken{policy, commands, []() -> std::string { throw std::runtime_error("gone"); },
                      weight, connected};
    EXPECT_EQ(route({"POST", "/api/tare", host, {}, bearer}, broken).status, 503);
}

// A refused host or page is told the option that would let it in, and so is the operator; a page
// from disk (null) and what is no origin are given none.
TEST(Routes, RefusalsNameTheOptionThatAllows) {
    AccessPolicy policy;
    policy.listen = parseListenAddress("127.0.0.1:8111");
    policy.allowOrigins = {"http://127.0.0.1:9000"}; // reads, no commands
    const std::vector<std::string> commands = {"tare"};
    const PortStatus port;
    const Site site{policy, commands, nullptr, [] { return std::string("{}"); }, port};
    using V = std::vector<std::string_view>;
    const V host{"127.0.0.1:8111"};
    const std::pair<Request, const char*> rows[] = {
        {{"GET", "/", {"Evil.example:8111"}, {}, {}}, "--allow-host evil.example"},
        {{"GET", "/ws", host, {"HTTP://App.example:3000"}, {}, true},
         "--allow-origin http://app.example:3000"},
        {{"POST", "/api/tare", host, {"http://127.0.0.1:9000"}, {}},
         "--allow-commands-from http://127.0.0.1:9000"},
        {{"GET", "/", host, {"null"}, {}}, nullptr},
        {{"GET", "/", host, {"http://a.example/x"}, {}}, nullptr},
        {{"GET", "/", host, {"http://a.example", "http://a.example"}, {}}, nullptr},
    };
    for (const auto& [request, allow] : rows) {
        SCOPED_TRACE(::testing::PrintToString(request.origins));
        const Answer answer = route(request, site);
        EXPECT_EQ(answer.status, 403);
        EXPECT_EQ(answer.contentType, "application/json");
        const auto body = nlohmann::json::parse(answer.body);
        EXPECT_EQ(body.value("allow", ""), allow ? allow : "");
        const std::string told = std::string(allow ? allow : "") + " allows it";
        EXPECT_EQ(answer.notice.find(told) != std::string::npos, allow != nullptr);
    }
    // null: why no option allows it, and how to serve the page instead.
    const Answer null = route({"GET", "/", host, {"null"}, {}}, site);
    EXPECT_NE(null.body.find("sandboxed"), std::string::npos);
    EXPECT_NE(null.body.find("--allow-origin http://localhost:8000"), std::string::npos);
    EXPECT_EQ(route({"GET", "/", host, {"http://a.example/x"}, {}}, site).notice, "");
}

} // namespace
} // namespace tolvak::cli
