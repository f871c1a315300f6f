// UTF-16 <-> UTF-8 at the control's edges.
#include <gtest/gtest.h>

#include "text/utf8.h"

namespace tolvak {
namespace {

TEST(Utf8, RoundTrip) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"", ""},
        {u"2400,n, 8 , 1", "2400,n, 8 , 1"},
        {u"\u0080", "\xC2\x80"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"提示", "\xE6\x8F\x90\xE7\xA4\xBA"},
        {u"，：", "\xEF\xBC\x8C\xEF\xBC\x9A"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {std::u16string(1, u'\0') + u"a", std::string(1, '\0') + "a"},
    };
    for (const auto& [wide, narrow] : cases) {
        EXPECT_EQ(toUtf8(wide), narrow);
        EXPECT_EQ(fromUtf8(narrow), wide);
        EXPECT_EQ(fromUtf8(toUtf8(wide)), wide);
    }
}

TEST(Utf8, LoneSurrogatesBecomeReplacementCharacters) {
    const std::pair<std::u16string, std::string> cases[] = {
        {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"},
        {std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
        {u"a" + std::u16string(1, char16_t(0xD83D)) + u"b", "a\xEF\xBF\xBD"
                                                            "b"},
        {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [wide, narrow] : cases)
        EXPECT_EQ(toUtf8(wide), narrow);
}

TEST(Utf8, InvalidInputBecomesReplacementCharactersWithoutDroppingTheRest) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"\xFF", u"\uFFFD"},
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
        {"\x80", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong "/"
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
        {"\xE6\x8F", u"\uFFFD\uFFFD"},                     // cut short at the end
        {"\xE6\x8F"
         "A",
         u"\uFFFD\uFFFDA"}, // cut short before ASCII
        {"\xE6"
         "\xE7\xA4\xBA",
         u"\uFFFD示"},
    };
    for (const auto& [narrow, wide] : cases)
        EXPECT_EQ(fromUtf8(narrow), wide);
}

} // namespace
} // namespace tolvak
