#include <gtest/gtest.h>

#include "util/Helpers.h"

using vopa::Currency;
using vopa::DateTime;
using vopa::Decimal;
using vopa::Value;
using vopa::util::isEmptyValue;

namespace {

struct EmptyCase {
    const char* label;
    Value value;
    bool empty;
};

Value text(const char* s) { return Value::string(s); }

TEST(EmptyValue, JudgesEveryKindAsTheSuiteDoes) {
    const EmptyCase cases[] = {
        {"never assigned", Value(), true}, {"null", Value::null(), true},
        // Zero amounts with a decimal comma count as nothing entered; with a point they are text.
        {"0,00", text("0,00"), true}, {"0,000", text("0,000"), true}, {"0,0000", text("0,0000"), true},
        {"0,00000", text("0,00000"), true}, {"0,000000", text("0,000000"), true},
        {"0,0000000", text("0,0000000"), false}, {",00", text(",00"), true}, {"0.00", text("0.00"), false},
        {"0", text("0"), true}, {"00", text("00"), true}, {"000", text("000"), true}, {"0000", text("0000"), true},
        {"00000", text("00000"), false}, {"empty text", text(""), true}, {"one space", text(" "), true},
        {"two spaces", text("  "), false}, {"zero time", text("0:00:00"), true},
        {"zero time two digits", text("00:00:00"), false}, {"zero date", text("00/00/0000"), true},
        {"zero date with time", text("00/00/0000 10:30:00"), true}, {"real date text", text("01/01/2000"), false},
        {"a word", text("Sede"), false}, {"integer 0", Value::integer(0), true}, {"long 0", Value::longInt(0), true},
        {"long 7", Value::longInt(7), false}, {"byte 0", Value::byte(0), true}, {"double 0", Value::dbl(0.0), true},
        {"double 0.5", Value::dbl(0.5), false}, {"single 0", Value::single(0.0f), true},
        {"currency 0", Value::currency(Currency{0}), true}, {"currency 0.0001", Value::currency(Currency{1}), false},
        {"decimal 0.00", Value::decimal(Decimal{0, 2}), true}, {"decimal 0.01", Value::decimal(Decimal{1, 2}), false},
        {"false", Value::boolean(false), true}, {"true", Value::boolean(true), false},
        {"zero date-time", Value::date(DateTime{}), true},
        {"zero date with a time", Value::date(DateTime::fromParts(1899, 12, 30, 10, 30)), false},
        {"a real date", Value::date(DateTime::fromParts(2010, 12, 31)), false},
    };
    for (const EmptyCase& c : cases) EXPECT_EQ(isEmptyValue(c.value), c.empty) << c.label;
}

TEST(Sanitise, ReplacesEveryListedCharacterAndKeepsTheRest) {
    const std::pair<std::string, std::string> cases[] = {
        {"A&B (C)", "A_B__C_"}, {"", ""}, {" ,/\\'&@\"-+_!=?^$#()[]*", "______________________"},
        {"PC-Ufficio.Sede:1", "PC_Ufficio.Sede:1"}, {"Città~%;<>", "Città~%;<>"}, {"abc123", "abc123"},
    };
    for (auto [input, expected] : cases) {
        std::string textValue = input;
        std::string& returned = vopa::util::sanitise(textValue);
        EXPECT_EQ(textValue, expected) << input;
        EXPECT_EQ(&returned, &textValue) << "changed in place";
    }
}

TEST(DateLiteral, WritesNumbersWithoutLeadingZerosAndDropsTheTime) {
    EXPECT_EQ(vopa::util::dateLiteral(DateTime::fromParts(2010, 12, 31)), " CONVERT(DATETIME, '2010-12-31', 102)  ");
    EXPECT_EQ(vopa::util::dateLiteral(DateTime::fromParts(2009, 3, 5, 23, 59, 59)),
              " CONVERT(DATETIME, '2009-3-5', 102)  ");
    EXPECT_EQ(vopa::util::dateLiteral(DateTime::fromParts(1899, 12, 30)), " CONVERT(DATETIME, '1899-12-30', 102)  ");
}

}  // namespace
