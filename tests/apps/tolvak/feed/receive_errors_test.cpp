#include "tolvak/feed/receive_errors.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tolvak::cli {
namespace {

using std::chrono::milliseconds;

// Reports at the given times (ms) and the stderr lines they give: the same error at most once a
// second, other errors on their own clocks.
TEST(ReceiveErrorReport, EachErrorAtMostOnceASecond) {
    struct Step {
        int at; // ms
        int32_t number;
        const char16_t* description;
        const char* line; // nothing: not shown
    };
    const Step steps[] = {
        {0, 6, u"Overflow", "tolvak read: receive error 6: Overflow\n"},
        {1, 6, u"Overflow", nullptr},
        {999, 6, u"Overflow", nullptr},
        {500, 11, u"Division by zero", "tolvak read: receive error 11: Division by zero\n"},
        {600, 6, u"Overflow!", "tolvak read: receive error 6: Overflow!\n"},
        {1000, 6, u"Overflow", "tolvak read: receive error 6: Overflow\n"},
        {1400, 11, u"Division by zero", nullptr},
        {1500, 11, u"Division by zero", "tolvak read: receive error 11: Division by zero\n"},
        {1999, 6, u"Overflow", nullptr},
        {5000, 6, u"Overflow", "tolvak read: receive error 6: Overflow\n"},
        {5000, 6, u"Overflow!", "tolvak read: receive error 6: Overflow!\n"},
    };
    ReceiveErrorReport::Clock::time_point now{};
    std::ostringstream err;
    ReceiveErrorReport report("read", err, nullptr, [&] { return now; });
    for (const Step& s : steps) {
        now = ReceiveErrorReport::Clock::time_point(milliseconds(s.at));
        err.str("");
        report.show(AutomationError(s.number, s.description));
        EXPECT_EQ(err.str(), s.line ? s.line : "") << "at " << s.at << " ms";
    }
}

TEST(ReceiveErrorReport, JsonLinesOnlyWhenAskedFor) {
    std::ostringstream err, json;
    ReceiveErrorReport plain("replay", err);
    plain.show(AutomationError(6, u"Overflow"));
    EXPECT_EQ(err.str(), "tolvak replay: receive error 6: Overflow\n");

    ReceiveErrorReport withJson("read", err, &json);
    withJson.show(AutomationError(8012, u"端口未打开 \"x\""));
    withJson.show(AutomationError(8012, u"端口未打开 \"x\""));
    const std::string line = json.str();
    EXPECT_EQ(line.rfind("{\"error\":{\"number\":8012,\"description\":"
                         "\"\\u7aef\\u53e3\\u672a\\u6253\\u5f00 \\\"x\\\"\"},\"time\":\"",
                         0),
              0u)
        << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
}

} // namespace
} // namespace tolvak::cli
