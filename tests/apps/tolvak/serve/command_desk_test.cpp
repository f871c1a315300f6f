// Commands to the indicator: one on the line at a time, a bounded queue, a pause between two, the
// answer from the frame that shows the effect; and who may send one.
#include <gtest/gtest.h>

#include "tolvak/cli/cli_args.h"
#include "tolvak/serve/access.h"
#include "tolvak/serve/command_desk.h"

namespace tolvak::cli {
namespace {

using namespace std::chrono_literals;
using Clock = CommandDesk::Clock;

const std::chrono::system_clock::time_point kWritten{std::chrono::seconds(100)};

Reading frame(double value, WeightMode mode = WeightMode::Unknown,
              std::chrono::system_clock::time_point received = kWritten) {
    Reading r;
    r.value = value;
    r.mode = mode;
    r.time = received;
    return r;
}

TEST(CommandDesk, OneAtATimeQueuedPacedAndAnsweredByItsEffect) {
    CommandDesk desk({2, 300ms, 2000ms});
    std::vector<std::pair<std::string, int>> answers;
    auto submit = [&](const std::string& name) {
        return desk.submit(
            name, [&, name](int status, std::string) { answers.emplace_back(name, status); });
    };
    const Clock::time_point t0{};
    EXPECT_TRUE(submit("tare"));
    EXPECT_TRUE(submit("zero"));
    EXPECT_FALSE(submit("print")) << "past the queue's bound";
    auto first = desk.due(t0 + 1s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->name, "tare");
    EXPECT_FALSE(desk.due(t0 + 1s)) << "one on the line at a time";
    desk.reading(frame(0, WeightMode::Net)); // came before the bytes left: not the answer
    EXPECT_TRUE(answers.empty());
    desk.sent(first->id, std::nullopt, kWritten);
    desk.reading(frame(0, WeightMode::Net, kWritten - 1ms));
    EXPECT_TRUE(answers.empty()) << "received before the command left, delivered after";
    desk.reading(frame(1500, WeightMode::Gross));
    EXPECT_TRUE(answers.empty()) << "a gross frame does not show a tare";
    desk.reading(frame(0, WeightMode::Net));
    EXPECT_EQ(answers.back(), std::make_pair(std::string("tare"), 200));
    EXPECT_FALSE(desk.due(t0 + 1s + 100ms)) << "the pause between two commands";
    EXPECT_EQ(desk.wakeAt(), t0 + 1s + 300ms);
    auto second = desk.due(t0 + 1s + 300ms);
    ASSERT_TRUE(second);
    desk.sent(second->id, std::nullopt, kWritten);
    desk.expire(t0 + 3s);
    EXPECT_TRUE(answers.size() == 1);
    desk.expire(t0 + 3s + 300ms);
    EXPECT_EQ(answers.back(), std::make_pair(std::string("zero"), 504));
    desk.sent(second->id, std::string("late"), kWritten); // an answered command's late news
    EXPECT_EQ(answers.size(), 2u);
    EXPECT_FALSE(desk.wakeAt());
}

TEST(CommandDesk, WhatShowsTheEffect) {
    struct Row {
        const char* command;
        Reading reading;
        bool shows;
    };
    Reading tared = frame(1500, WeightMode::Gross);
    tared.tare = 200;
    const Row rows[] = {
        {"tare", frame(0, WeightMode::Net), true},
        {"tare", frame(0), true},
        {"tare", frame(5), false},
        {"tare", tared, true},
        {"zero", frame(0, WeightMode::Gross), true},
        {"zero", frame(0, WeightMode::Net), false},
        {"zero", frame(0.5), false},
        {"print", frame(1500), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        EXPECT_EQ(showsEffect(row.command, row.reading), row.shows);
    }
}

TEST(Origins, NormalisedOrRefusedAtStart) {
    const std::pair<const char*, const char*> good[] = {
        {"http://localhost:3000/", "http://localhost:3000"},
        {"HTTPS://App.Example", "https://app.example"},
        {"http://[::1]:8080", "http://[::1]:8080"},
        {"app://desktop", "app://desktop"},
    };
    for (const auto& [text, origin] : good)
        EXPECT_EQ(normalizeOrigin("--allow-origin", text), origin);
    for (const char* text : {"null", "NULL", "localhost:3000", "http://", "http://a.example/x",
                             "http://a.example?q", "http://u@a.example", "http://a.example:99999",
                             "://a.example", "1http://a.example", "http://a b"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(normalizeOrigin("--allow-origin", text), UsageError);
    }
}

TEST(Origins, CommandsNeedTheTokenAndAnOriginAllowedThem) {
    AccessPolicy policy;
    policy.listen = parseListenAddress("127.0.0.1:8111");
    policy.allowOrigins = {"http://read.example"};
    policy.commandOrigins = {"http://cmd.example"};
    const char* host = "127.0.0.1:8111";
    EXPECT_TRUE(commandOriginAllowed(std::nullopt, host, policy));
    EXPECT_TRUE(commandOriginAllowed("http://127.0.0.1:8111", host, policy));
    EXPECT_TRUE(commandOriginAllowed("http://cmd.example", host, policy));
    EXPECT_FALSE(commandOriginAllowed("http://read.example", host, policy));
    EXPECT_TRUE(originAllowed("http://cmd.example", host, policy)) << "commands imply reading";
    using V = std::vector<std::string_view>;
    const std::string token = "abc123";
    EXPECT_TRUE(bearerMatches(V{"Bearer abc123"}, token));
    EXPECT_TRUE(bearerMatches(V{"bearer  abc123 "}, token));
    for (const V& wrong : {V{}, V{"Bearer abc12"}, V{"Bearer abc1234"}, V{"Basic abc123"},
                           V{"abc123"}, V{"Bearer abc123", "Bearer abc123"}})
        EXPECT_FALSE(bearerMatches(wrong, token));
    EXPECT_FALSE(bearerMatches(V{"Bearer "}, ""));
}

} // namespace
} // namespace tolvak::cli
