#include <gtest/gtest.h>

#include <tuple>

#include "platform/value/Value.h"

using vopa::Currency;
using vopa::DateTime;
using vopa::Decimal;
using vopa::Value;

namespace {

TEST(Decimal, ParsesPrintsAndRescalesExactly) {
    struct Case {
        const char* text;
        bool ok;
        const char* printed;
    };
    const Case cases[] = {
        {"123.45", true, "123.45"},   {"-0.5", true, "-0.5"},   {".5", true, "0.5"},
        {"+7", true, "7"},            {"12a", false, ""},       {"", false, ""},
        {"1.2.3", false, ""},         {"99999999999999999999999999999999999999", true,
                                       "99999999999999999999999999999999999999"},
        {"999999999999999999999999999999999999999", false, ""},  // 39 digits
    };
    for (const Case& c : cases) {
        Decimal d;
        ASSERT_EQ(Decimal::parse(c.text, d), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(d.toString(), c.printed) << c.text;
        }
    }
    Decimal d;
    ASSERT_TRUE(Decimal::parse("2.345", d));
    EXPECT_EQ(d.rescaled(2).toString(), "2.35");
    EXPECT_EQ(Decimal({-2345, 3}).rescaled(2).toString(), "-2.35");
    EXPECT_EQ(d.rescaled(5).toString(), "2.34500");
    EXPECT_EQ(Decimal({38, 0}).compare(Decimal{3800, 2}), 0);
    EXPECT_LT(Decimal({-1, 0}).compare(Decimal{1, 2}), 0);
}

TEST(DateTime, KnowsTheCalendarAroundTheZeroDate) {
    struct Case {
        int y, m, d, h, mi, s;
    };
    const Case cases[] = {{1899, 12, 30, 0, 0, 0}, {1753, 1, 1, 0, 0, 0},    {2000, 2, 29, 23, 59, 59},
                          {9999, 12, 31, 12, 0, 0}, {1800, 3, 1, 1, 2, 3}, {2026, 12, 6, 11, 11, 36}};
    for (const Case& c : cases) {
        DateTime t = DateTime::fromParts(c.y, c.m, c.d, c.h, c.mi, c.s);
        EXPECT_EQ(std::tuple(t.year(), t.month(), t.day(), t.hour(), t.minute(), t.second()),
                  std::tuple(c.y, c.m, c.d, c.h, c.mi, c.s));
    }
    EXPECT_EQ(DateTime::fromParts(1899, 12, 30).millis, 0);
    EXPECT_EQ(DateTime::fromParts(1899, 12, 29, 12).millis, -43'200'000);

    const std::pair<const char*, DateTime> texts[] = {
        {"2000-12-31", DateTime::fromParts(2000, 12, 31)}, {"20090305", DateTime::fromParts(2009, 3, 5)},
        {"31/01/2010 10:20:30", DateTime::fromParts(2010, 1, 31, 10, 20, 30)},
        {"2010-01-31 10:20:30.5", DateTime::fromParts(2010, 1, 31, 10, 20, 30, 500)},
    };
    DateTime parsed;
    for (const auto& [text, expected] : texts) {
        ASSERT_TRUE(DateTime::parse(text, parsed)) << text;
        EXPECT_EQ(parsed, expected) << text;
    }
    for (const char* text : {"2001-02-29", "2001-13-01", "yesterday"})
        EXPECT_FALSE(DateTime::parse(text, parsed)) << text;
}

TEST(Value, PrintsEachKindInPlainForm) {
    const std::pair<Value, std::string> cases[] = {
        {Value(), ""}, {Value::null(), ""}, {Value::integer(-5), "-5"}, {Value::longInt(2147483647), "2147483647"},
        {Value::dbl(0.1), "0.1"}, {Value::dbl(38.0), "38"}, {Value::currency(Currency{123450}), "12.345"},
        {Value::currency(Currency{-10000}), "-1"}, {Value::decimal(Decimal{3800, 2}), "38.00"},
        {Value::boolean(true), "True"}, {Value::date(DateTime::fromParts(2010, 12, 31)), "2010-12-31"},
        {Value::date(DateTime::fromParts(2010, 12, 31, 8, 5, 0)), "2010-12-31 08:05:00"},
        {Value::string("Città"), "Città"},
    };
    for (const auto& [value, printed] : cases) EXPECT_EQ(value.toString(), printed) << kindName(value.kind());
}

TEST(Value, KeepsKindsApartInEquality) {
    EXPECT_EQ(Value::longInt(1), Value::longInt(1));
    EXPECT_NE(Value::longInt(1), Value::integer(1));
    EXPECT_NE(Value::null(), Value());
    EXPECT_EQ(Value::boolean(true).asInteger(), -1);
    Decimal d;
    ASSERT_TRUE(Value::currency(Currency{12345}).toDecimal(d));
    EXPECT_EQ(d.toString(), "1.2345");
    ASSERT_TRUE(Value::dbl(0.1).toDecimal(d));
    EXPECT_EQ(d.toString(), "0.1");
}

}  // namespace
