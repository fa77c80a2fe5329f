#include <gtest/gtest.h>

#include "platform/engine/storage/Catalog.h"
#include "platform/engine/storage/Functions.h"

using namespace vopa::engine::storage;

namespace {

TEST(Like, MatchesAsTheServerDoes) {
    struct Case {
        const char* value;
        const char* pattern;
        char32_t escape;
        bool match;
    };
    const Case cases[] = {
        {"vopadati", "vopadati%", 0, true},     {"VoPaDatiTemp", "vopadati%", 0, true},
        {"vopa", "vopadati%", 0, false},        {"Città di Roma", "CITTÀ%", 0, true},
        {"Citta", "città", 0, false},           {"abc", "a_c", 0, true},
        {"abbc", "a_c", 0, false},              {"a%c", "a!%c", U'!', true},
        {"abc", "a!%c", U'!', false},           {"b", "[a-c]", 0, true},
        {"d", "[a-c]", 0, false},               {"d", "[^a-c]", 0, true},
        {"x]", "x]", 0, true},                  {"abc   ", "abc", 0, true},
        {"", "%", 0, true},                     {"ab", "%b%", 0, true},
        {"Debiti V/ Donor", "%v/ donor", 0, true}, {"aXbXc", "a%b%c", 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(likeMatch(c.value, c.pattern, c.escape), c.match) << c.value << " LIKE " << c.pattern;
}

TEST(Catalog, ShowsDefaultsAsTheServerDoes) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "((0))"},           {"(0)", "((0))"},       {"((2884 + 919) / 100)", "((2884 + 919) / 100)"},
        {"'1'", "('1')"},         {"('Sezionale Iva')", "('Sezionale Iva')"}, {"getdate()", "(getdate())"},
        {" (1001) ", "((1001))"}, {"(1) + (2)", "((1) + (2))"},
    };
    for (auto [written, shown] : cases) EXPECT_EQ(normaliseDefault(written), shown) << written;
}

TEST(Catalog, DatePartNames) {
    for (const char* name : {"year", "YY", "yyyy", "month", "mm", "day", "dd", "weekday", "hour", "mi", "ss", "ms"})
        EXPECT_GE(datePartCode(name), 0) << name;
    EXPECT_EQ(datePartCode("fortnight"), -1);
}

}  // namespace
