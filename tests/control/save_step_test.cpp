// The save step: only entries that differ from their defaults reach the property bag.
#include <gtest/gtest.h>

#include "fakes.h"

namespace tolvak::testing {
namespace {

const FontDesc kDisplayFont{u"LED", 18, 500, 0, false, false, false};

std::vector<std::string> names(const RecordingBag& bag) {
    std::vector<std::string> out;
    for (const auto& entry : bag.entries)
        out.push_back(entry.first);
    return out;
}

TEST(SaveStep, StoresOnlyFontAndForeColorWhenTheyDiffer) {
    struct Case {
        const char* name;
        FontDesc ambient;
        std::vector<std::string> stored;
    };
    auto with = [](auto change) {
        FontDesc f = kDisplayFont;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"container font differs", FontDesc{u"MS Sans Serif", 8, 400, 0}, {"Font", "ForeColor"}},
        {"same font", kDisplayFont, {"ForeColor"}},
        {"face differs only in case", with([](FontDesc& f) { f.face = u"led"; }), {"ForeColor"}},
        {"other face", with([](FontDesc& f) { f.face = u"LED2"; }), {"Font", "ForeColor"}},
        {"size", with([](FontDesc& f) { f.size = 18.5; }), {"Font", "ForeColor"}},
        {"weight", with([](FontDesc& f) { f.weight = 700; }), {"Font", "ForeColor"}},
        {"charset", with([](FontDesc& f) { f.charset = 134; }), {"Font", "ForeColor"}},
        {"italic", with([](FontDesc& f) { f.italic = true; }), {"Font", "ForeColor"}},
        {"underline", with([](FontDesc& f) { f.underline = true; }), {"Font", "ForeColor"}},
        {"strikethrough", with([](FontDesc& f) { f.strikethrough = true; }), {"Font", "ForeColor"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        RecordingBag bag;
        h.control->writeProperties(bag, c.ambient);
        EXPECT_EQ(names(bag), c.stored);
        for (const auto& [name, value] : bag.entries) {
            if (name == "Font") {
                EXPECT_EQ(std::get<FontDesc>(value), kDisplayFont);
                EXPECT_EQ(std::get<FontDesc>(value).face, u"LED");
            }
            if (name == "ForeColor") {
                EXPECT_EQ(std::get<uint32_t>(value), 0x000000FFu);
            }
        }
    }
}

TEST(SaveStep, NeverStoresWidthOrHeightAfterSizing) {
    Harness h;
    h.control->setWinWidth(3000);
    h.control->setWinHeight(900);
    RecordingBag bag;
    h.control->writeProperties(bag, kDisplayFont);
    EXPECT_EQ(names(bag), std::vector<std::string>{"ForeColor"});
}

TEST(SaveStep, FontSizeTravelsInTheFontEntry) {
    Harness h;
    h.control->setWinFontSize(12);
    RecordingBag bag;
    h.control->writeProperties(bag, kDisplayFont);
    ASSERT_EQ(names(bag), (std::vector<std::string>{"Font", "ForeColor"}));
    EXPECT_EQ(std::get<FontDesc>(bag.entries[0].second).size, 12);

    FontDesc ambient12 = kDisplayFont;
    ambient12.size = 12;
    RecordingBag again;
    h.control->writeProperties(again, ambient12);
    EXPECT_EQ(names(again), std::vector<std::string>{"ForeColor"});
}

TEST(SaveStep, BagFailureEndsTheStepThere) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"Font", {}},
        {"ForeColor", {"Font"}},
    };
    for (const auto& [failing, stored] : cases) {
        SCOPED_TRACE(failing);
        Harness h;
        RecordingBag bag;
        bag.failNext(failing, 7, u"Out of memory");
        auto error = trapErrors([&] {
            h.control->writeProperties(bag, FontDesc{u"Arial", 9, 400, 0});
        });
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->number(), 7);
        EXPECT_EQ(names(bag), stored);
    }
}

TEST(SaveStep, SavingChangesNothingOnTheControl) {
    Harness h;
    auto fields = fieldsOf(h.control->state());
    RecordingBag bag;
    h.control->writeProperties(bag, FontDesc{u"Arial", 9, 400, 0});
    EXPECT_EQ(fieldsOf(h.control->state()), fields);
    EXPECT_TRUE(h.surface.events.empty());
    EXPECT_EQ(h.control->getTolvakValue(), u"8888888");
}

} // namespace
} // namespace tolvak::testing
