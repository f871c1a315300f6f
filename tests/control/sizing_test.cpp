// Display sizing: setWinFontSize, setWinWidth, setWinHeight.
#include <gtest/gtest.h>

#include "fakes.h"

namespace tolvak::testing {
namespace {

struct Size {
    double font;
    float width, height;
};

Size sizeOf(const Harness& h) {
    const ChildModel& d = h.control->surface().child(ChildId::lblNumber);
    return {d.font ? d.font->size : -1, d.width, d.height};
}

bool operator==(const Size& a, const Size& b) {
    return a.font == b.font && a.width == b.width && a.height == b.height;
}

std::ostream& operator<<(std::ostream& os, const Size& s) {
    return os << "font " << s.font << " width " << s.width << " height " << s.height;
}

struct SizingCase {
    const char16_t* method;
    int16_t value;
    Size after; // from the design-time 18 pt, 1695 x 480
};

TEST(Sizing, AcceptedValuesAreAppliedUnchangedThenTheSurfaceRepaints) {
    const SizingCase cases[] = {
        {u"setWinFontSize", 12, {12, 1695, 480}},
        {u"setWinFontSize", 1, {1, 1695, 480}},
        {u"setWinFontSize", 2160, {2160, 1695, 480}},
        {u"setWinFontSize", 18, {18, 1695, 480}},
        {u"setWinWidth", 0, {18, 0, 480}},
        {u"setWinWidth", 1, {18, 1, 480}},
        {u"setWinWidth", 32767, {18, 32767, 480}},
        {u"setWinWidth", 1695, {18, 1695, 480}},
        {u"setWinHeight", 0, {18, 1695, 0}},
        {u"setWinHeight", 32767, {18, 1695, 32767}},
    };
    for (const SizingCase& c : cases) {
        SCOPED_TRACE(utf8(c.method) + " " + std::to_string(c.value));
        Harness h;
        std::vector<Variant> args{c.value};
        Variant result = h.call(c.method, args);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
        EXPECT_EQ(args[0], Variant{c.value}) << "the caller's variable is unchanged";
        EXPECT_EQ(sizeOf(h), c.after);
        EXPECT_EQ(h.surface.events,
                  (std::vector<std::string>{"layout:lblNumber", "refresh:surface"}));
        const ChildModel& d = h.control->surface().child(ChildId::lblNumber);
        EXPECT_EQ(d.left, 0);
        EXPECT_EQ(d.top, 0);
        EXPECT_EQ(d.font->face, u"LED");
        EXPECT_EQ(fieldsOf(h.control->state()).at("rawData"), "");
        EXPECT_EQ(h.control->getTolvakValue(), u"8888888");
    }
}

TEST(Sizing, RefusedValuesLeaveTheDisplayAndSkipTheRepaint) {
    const SizingCase cases[] = {
        {u"setWinFontSize", 0, {}},      {u"setWinFontSize", -1, {}}, {u"setWinFontSize", 2161, {}},
        {u"setWinFontSize", -32768, {}}, {u"setWinWidth", -1, {}},    {u"setWinWidth", -32768, {}},
        {u"setWinHeight", -1, {}},       {u"setWinHeight", -200, {}},
    };
    for (const SizingCase& c : cases) {
        SCOPED_TRACE(utf8(c.method) + " " + std::to_string(c.value));
        Harness h;
        Size before = sizeOf(h);
        auto error = trapErrors([&] { h.call(c.method, {c.value}); });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), 380);
        EXPECT_EQ(error->description(), u"Invalid property value");
        EXPECT_EQ(sizeOf(h), before);
        EXPECT_TRUE(h.surface.events.empty());
    }
}

TEST(Sizing, DisplayRefusalLeavesTheOldValueAndSkipsTheRepaint) {
    for (const char16_t* method : {u"setWinFontSize", u"setWinWidth", u"setWinHeight"}) {
        SCOPED_TRACE(utf8(method));
        Harness h;
        h.call(method, {int16_t{40}});
        Size before = sizeOf(h);
        h.surface.events.clear();
        h.surface.failNext("layout:lblNumber", 7, u"Out of memory");
        auto error = trapErrors([&] { h.call(method, {int16_t{50}}); });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), 7);
        EXPECT_EQ(sizeOf(h), before);
        EXPECT_TRUE(h.surface.events.empty());
    }
}

TEST(Sizing, RepaintFailureReachesTheCaller) {
    Harness h;
    h.surface.failNext("refresh:surface", 5, u"Invalid procedure call or argument");
    auto error = trapErrors([&] { h.control->setWinWidth(900); });
    ASSERT_TRUE(error) << "no error";
    EXPECT_EQ(error->number(), 5);
}

} // namespace
} // namespace tolvak::testing
