#include "platform/posix/settings_text.h"

#include <gtest/gtest.h>

namespace tolvak::posix {
namespace {

struct Case {
    const char16_t* text;
    std::optional<LineSettings> expected;
};

class SettingsTextTest : public ::testing::TestWithParam<Case> {};

TEST_P(SettingsTextTest, ParsesOrRefuses) {
    const Case& c = GetParam();
    auto parsed = parseSettingsText(c.text);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value());
    if (parsed) {
        EXPECT_EQ(*parsed, *c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsTextTest,
    ::testing::Values(
        // The control's own form, blanks included.
        Case{u" 2400,n, 8 , 1", LineSettings{2400, Parity::None, 8, StopBits::One}},
        Case{u" 9600,N, 7 , 2", LineSettings{9600, Parity::None, 7, StopBits::Two}},
        Case{u"2400,n,8,1", LineSettings{2400, Parity::None, 8, StopBits::One}},
        Case{u" 1200,e, 7 , 1", LineSettings{1200, Parity::Even, 7, StopBits::One}},
        Case{u" 1200,O, 7 , 1", LineSettings{1200, Parity::Odd, 7, StopBits::One}},
        Case{u" 4800,m, 5 , 1.5", LineSettings{4800, Parity::Mark, 5, StopBits::OneAndHalf}},
        Case{u" 4800,S, 6 , 1", LineSettings{4800, Parity::Space, 6, StopBits::One}},
        // A rate no B constant names is still a rate.
        Case{u" 250000,n, 8 , 1", LineSettings{250000, Parity::None, 8, StopBits::One}},
        Case{u" 31250,n, 8 , 1", LineSettings{31250, Parity::None, 8, StopBits::One}},
        // Refused.
        Case{u"", std::nullopt}, Case{u" 2400,n, 8", std::nullopt},
        Case{u" 2400,n, 8 , 1,", std::nullopt}, Case{u" 2400,,  8 , 1", std::nullopt},
        Case{u" 2400,x, 8 , 1", std::nullopt}, Case{u" 2400,nn, 8 , 1", std::nullopt},
        Case{u" 2400,n, 9 , 1", std::nullopt}, Case{u" 2400,n, 4 , 1", std::nullopt},
        Case{u" 2400,n, 8 , 3", std::nullopt}, Case{u" 2400,n, 8 ,-1", std::nullopt},
        Case{u" 2400,n, 8 , 0", std::nullopt}, Case{u"-2400,n, 8 , 1", std::nullopt},
        Case{u" 0,n, 8 , 1", std::nullopt}, Case{u" 2400.5,n, 8 , 1", std::nullopt},
        Case{u" 24 00,n, 8 , 1", std::nullopt}, Case{u" 9999999999,n, 8 , 1", std::nullopt},
        Case{u" 2400,n, 8 , 1.0", std::nullopt}));

} // namespace
} // namespace tolvak::posix
