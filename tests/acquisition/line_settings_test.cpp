#include "acquisition/line_settings.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "text/number_text.h"

namespace tolvak {
namespace {

struct SettingsCase {
    std::u16string text;
    std::optional<SerialSettings> expected;
};
void PrintTo(const SettingsCase& c, std::ostream* os) {
    *os << '"' << testing::utf8(c.text) << '"';
}

class LineSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(LineSettingsTest, ReadsWhatTheControlBuildsAndRefusesTheRest) {
    const SettingsCase& c = GetParam();
    EXPECT_EQ(parseSettingsText(c.text), c.expected) << testing::utf8(c.text);
}

const SerialSettings k2400{2400, Parity::None, 8, StopBits::One};

INSTANTIATE_TEST_SUITE_P(
    Texts, LineSettingsTest,
    ::testing::Values(
        SettingsCase{u" 2400,n, 8 , 1", k2400}, SettingsCase{u"2400,n,8,1", k2400},
        SettingsCase{u" 9600,E, 7 , 2", SerialSettings{9600, Parity::Even, 7, StopBits::Two}},
        SettingsCase{u" 19200,o, 5 , 1.5",
                     SerialSettings{19200, Parity::Odd, 5, StopBits::OneAndHalf}},
        SettingsCase{u" 4800,M, 6 , 1", SerialSettings{4800, Parity::Mark, 6, StopBits::One}},
        SettingsCase{u" 4800,s, 6 , 1", SerialSettings{4800, Parity::Space, 6, StopBits::One}},
        // Non-standard rates are the driver's business.
        SettingsCase{u" 250000,n, 8 , 1", SerialSettings{250000, Parity::None, 8, StopBits::One}},
        SettingsCase{u"", std::nullopt}, SettingsCase{u" 2400,,8,1", std::nullopt},
        SettingsCase{u" 2400,x, 8 , 1", std::nullopt},
        SettingsCase{u" 2400,nn, 8 , 1", std::nullopt},
        SettingsCase{u" 2400,n, 9 , 1", std::nullopt},
        SettingsCase{u" 2400,n, 4 , 1", std::nullopt},
        SettingsCase{u" 2400,n, 8 ,-1", std::nullopt},
        SettingsCase{u" 2400,n, 8 , 3", std::nullopt},
        SettingsCase{u" 2400.5,n, 8 , 1", std::nullopt},
        SettingsCase{u"-2400,n, 8 , 1", std::nullopt}, SettingsCase{u" 0,n, 8 , 1", std::nullopt},
        SettingsCase{u" 2400,n, 8 , 1,", std::nullopt}, SettingsCase{u" 2400,n, 8", std::nullopt}),
    [](const ::testing::TestParamInfo<SettingsCase>& info) {
        return (info.param.expected ? "Accepted" : "Refused") + std::to_string(info.index);
    });

// Whatever OpenComm builds from sane settings, every backend must accept.
TEST(LineSettingsTest, AcceptsTheTextBuiltFromSaneSettings) {
    for (int data = 5; data <= 8; ++data)
        for (int stop : {1, 2}) {
            std::u16string text = blankSignedText(9600) + u",e," + blankSignedText(data) + u" ," +
                                  blankSignedText(stop);
            auto parsed = parseSettingsText(text);
            ASSERT_TRUE(parsed) << testing::utf8(text);
            EXPECT_EQ(parsed->dataBits, data);
        }
}

} // namespace
} // namespace tolvak
