// Number text: the one decimal form of the control, numeric tests and reading numbers from text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "acquisition/number_text.h"
#include "fakes.h"

namespace tolvak::testing {
namespace {

TEST(NumberText, DecimalText) {
    const std::pair<double, const char16_t*> cases[] = {
        {0, u"0"},
        {-0.0, u"0"},
        {12.5, u"12.5"},
        {12, u"12"},
        {1250 / 100.0, u"12.5"},
        {-12.5, u"-12.5"},
        {0.05, u"0.05"},
        {-0.05, u"-0.05"},
        {0.1 + 0.2, u"0.3"},
        {2400, u"2400"},
        {99999, u"99999"},
        {123456789012345, u"123456789012345"},
        {1234567890.12345, u"1234567890.12345"},
        {0.123456789012345, u"0.123456789012345"},
        {0.0000123456789012345, u"0.0000123456789012345"},
        {1.0 / 3, u"0.333333333333333"},
        {2.0 / 3, u"0.666666666666667"},
        {1e-5, u"0.00001"},
        {9.5e-5, u"0.000095"},
        {1e15, u"1E+15"},
        {-1e15, u"-1E+15"},
        {1.5e15, u"1.5E+15"},
        {123456789012345678.0, u"1.23456789012346E+17"},
        {999999999999999.9, u"1E+15"},
        {9.99999999999999e-6, u"9.99999999999999E-06"},
        {1e-6, u"1E-06"},
        {-2.5e-7, u"-2.5E-07"},
        {1e300, u"1E+300"},
        {1e-300, u"1E-300"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(utf8(text));
        EXPECT_EQ(decimalText(value), text);
    }
}

// Leaves digits in the stack memory that the next call's locals occupy, as an earlier number text
// with many digits does.
[[gnu::noinline]] void leaveDigitsBehind() {
    volatile char junk[4096];
    for (volatile char& c : junk)
        c = '5';
}

TEST(NumberText, ExponentIsOnlyWhatWasWritten) {
    // The sequence that showed digits of earlier calls in the exponent.
    EXPECT_EQ(decimalText(0.0000123456789012345), u"0.0000123456789012345");
    EXPECT_EQ(decimalText(1e15), u"1E+15");
    EXPECT_EQ(decimalText(1e-6), u"1E-06");

    const std::pair<double, const char16_t*> cases[] = {
        {1e15, u"1E+15"},
        {1e16, u"1E+16"},
        {-2e22, u"-2E+22"},
        {1e100, u"1E+100"},
        {1.25e-6, u"1.25E-06"},
        {1e-10, u"1E-10"},
        {-3.5e-99, u"-3.5E-99"},
        {1e-100, u"1E-100"},
        {123456789012345678.0, u"1.23456789012346E+17"},
        {1.7976931348623157e308, u"1.79769313486232E+308"},
        {5e-324, u"4.94065645841247E-324"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(utf8(text));
        leaveDigitsBehind();
        EXPECT_EQ(decimalText(value), text);
        leaveDigitsBehind();
        EXPECT_EQ(blankSignedText(value), (value < 0 ? u"" : u" ") + std::u16string(text));
    }
}

TEST(NumberText, BlankSignedText) {
    const std::pair<double, const char16_t*> cases[] = {
        {2400, u" 2400"}, {8, u" 8"},         {0, u" 0"},          {-0.0, u" 0"},
        {-1, u"-1"},      {10093, u" 10093"}, {-10093, u"-10093"}, {12.5, u" 12.5"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(utf8(text));
        EXPECT_EQ(blankSignedText(value), text);
    }
}

TEST(NumberText, IsNumeric) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"12.5", true},     {u"-0012.50", true}, {u"+3", true},    {u"  7  ", true},
        {u"1.25E+01", true}, {u"1e-3", true},     {u".5", true},    {u"5.", true},
        {u"", false},        {u"   ", false},     {u"-", false},    {u".", false},
        {u"1.2.3", false},   {u"12a", false},     {u"1 2", false},  {u"1e", false},
        {u"1e+", false},     {u"\t12", false},    {u"12\n", false}, {u"12\r", false},
        {u"1,000", false},   {u"$5", false},      {u"&H10", false}, {u"05.21O00", false},
        {u"--1", false},     {u"E5", false},
    };
    for (const auto& [text, numeric] : cases) {
        SCOPED_TRACE(utf8(text));
        EXPECT_EQ(isNumeric(text), numeric);
    }
}

TEST(NumberText, LeadingNumber) {
    const std::pair<const char16_t*, double> cases[] = {
        {u"12.5", 12.5},  {u"-0012.50", -12.5}, {u"  42abc", 42}, {u"1 2 3", 123}, {u"\t1\n2", 12},
        {u"1\r2", 1},     {u"abc", 0},          {u"", 0},         {u"-", 0},       {u".5", 0.5},
        {u"1.2.3", 1.2},  {u"1e3x", 1000},      {u"1e", 1},       {u"2E-1", 0.2},  {u"+7", 7},
        {u"1E-99999", 0}, {u"1 e 2", 100},      {u"- 5", -5},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(utf8(text));
        EXPECT_EQ(leadingNumber(text), value);
    }
}

TEST(NumberText, LeadingNumberBeyondDoubleRangeOverflows) {
    for (const char16_t* text : {u"1E400", u"-1E400", u"1E999999999999", u"99999e308"}) {
        SCOPED_TRACE(utf8(text));
        auto error = trapErrors([&] { leadingNumber(text); });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), 6);
        EXPECT_EQ(error->description(), u"Overflow");
    }
}

TEST(NumberText, NumberFromText) {
    EXPECT_EQ(numberFromText(u" 9600 "), 9600);
    EXPECT_EQ(numberFromText(u"2400"), 2400);
    for (const char16_t* text : {u"abc", u"", u" ", u"9600\t", u"96 00"}) {
        SCOPED_TRACE(utf8(text));
        auto error = trapErrors([&] { numberFromText(text); });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), 13);
        EXPECT_EQ(error->description(), u"Type mismatch");
    }
}

} // namespace
} // namespace tolvak::testing
