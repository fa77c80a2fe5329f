#include <gtest/gtest.h>

#include "platform/text/Text.h"

namespace text = vopa::text;

namespace {

TEST(Text, ComparesNamesIgnoringCaseAccentedLettersIncluded) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"PartitaDoppia", "partitadoppia", 0}, {"BudgetsAttività", "BUDGETSATTIVITÀ", 0},
        {"Città", "citta", 1},                 {"a", "B", -1},
        {"ab", "a", 1},                        {"Œuvre", "œuvre", 0},
        {"Ŀ", "ŀ", 0},                         {"", "", 0},
    };
    for (const Case& c : cases) {
        int r = text::compareNoCase(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    }
    EXPECT_EQ(text::toUpper("àbç"), "ÀBÇ");
    EXPECT_EQ(text::toLower("ÀBÇ"), "àbç");
    EXPECT_EQ(text::lengthInChars("Città"), 5u);
}

TEST(Text, ConvertsWindows1252BothWays) {
    // 0x80 and 0x9F are the first and last of the bytes that are letters and signs in Windows-1252,
    // not control characters as in Latin-1.
    const std::string utf8 = "Città € – “x” ÿ Ÿ";
    const std::string bytes = text::toWindows1252(utf8);
    EXPECT_EQ(bytes, "Citt\xE0 \x80 \x96 \x93x\x94 \xFF \x9F");
    EXPECT_EQ(text::fromWindows1252(bytes), utf8);
    EXPECT_EQ(text::toWindows1252("日本"), "??");
    // A stray byte that is not UTF-8 is kept as the Windows-1252 character it already is.
    EXPECT_EQ(text::toWindows1252("\xE0"), "\xE0");
}


TEST(Text, ReadsMalformedUtf8AsSingleBytes) {
    struct Case {
        std::string bytes;
        std::vector<char32_t> codePoints;
    };
    const Case cases[] = {
        {"a\xC3\xA0z", {U'a', U'à', U'z'}},
        {"\xE2\x82\xAC", {U'€'}}, {"\xF0\x9F\x98\x80", {0x1F600}},
        {"\xC3", {0xC3}},              // cut short
        {"\xE2\x82", {0xE2, 0x82}},    // cut short
        {"\xC3\x41", {0xC3, U'A'}},    // a continuation byte missing
        {"\xFF", {0xFF}},
    };
    for (const Case& c : cases) {
        std::vector<char32_t> got;
        for (std::size_t i = 0; i < c.bytes.size();) got.push_back(text::nextCodePoint(c.bytes, i));
        EXPECT_EQ(got, c.codePoints) << c.bytes;
    }
}

}  // namespace
