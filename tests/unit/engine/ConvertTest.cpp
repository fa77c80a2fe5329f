#include <gtest/gtest.h>

#include "platform/engine/Convert.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/SqlType.h"

using namespace vopa::engine;
using vopa::DateTime;

namespace {

SqlType t(const char* name, int length = -1, int precision = -1, int scale = -1) {
    return SqlType::fromName(name, length, precision, scale);
}

struct Case {
    const char* label;
    Cell in;
    SqlType from;
    SqlType to;
    ConversionMode mode;
    int expectedError;  // 0: converts
    Cell expected;
};

std::string show(const Cell& c) {
    switch (c.kind) {
        case Cell::Kind::Null: return "NULL";
        case Cell::Kind::Integer: return "int " + std::to_string(c.i);
        case Cell::Kind::Real: return "real " + std::to_string(c.r);
        case Cell::Kind::Text: return "text '" + c.s + "'";
        case Cell::Kind::Blob: return "blob";
    }
    return "?";
}

TEST(Convert, FollowsTheServersRulesAndErrors) {
    const auto I = ConversionMode::Implicit;
    const auto E = ConversionMode::Explicit;
    const SqlType varchar10 = t("varchar", 10), nvarchar3 = t("nvarchar", 3), integer = t("int");
    const Case cases[] = {
        {"text to int", Cell::text(" 42 "), varchar10, integer, I, 0, Cell::integer(42)},
        {"text with decimals to int", Cell::text("1.5"), varchar10, integer, I, 245, {}},
        {"word to int", Cell::text("uno"), varchar10, integer, I, 245, {}},
        {"empty text to int is 0", Cell::text(""), varchar10, integer, I, 0, Cell::integer(0)},
        {"int too large for smallint names the value", Cell::integer(70000), integer, t("smallint"), I, 220, {}},
        {"tinyint refuses negatives", Cell::integer(-1), integer, t("tinyint"), I, 220, {}},
        {"tinyint ends at 255", Cell::integer(255), integer, t("tinyint"), I, 0, Cell::integer(255)},
        {"tinyint refuses 256", Cell::integer(256), integer, t("tinyint"), I, 220, {}},
        {"bigint too large for int", Cell::integer(3000000000), t("bigint"), integer, I, 8115, {}},
        {"decimal too large for tinyint", Cell::integer(3000), t("decimal", -1, 5, 1), t("tinyint"), E, 8115, {}},
        {"bit from any number", Cell::integer(5), integer, t("bit"), I, 0, Cell::integer(1)},
        {"bit from 'true'", Cell::text("TRUE"), varchar10, t("bit"), I, 0, Cell::integer(1)},
        {"text to decimal rounds", Cell::text("12.345"), varchar10, t("decimal", -1, 18, 2), I, 0, Cell::integer(1235)},
        {"text to decimal too wide", Cell::text("123456"), varchar10, t("decimal", -1, 5, 2), I, 8115, {}},
        {"bad text to decimal", Cell::text("1,5"), varchar10, t("decimal", -1, 18, 2), I, 8114, {}},
        {"money from text with sign", Cell::text("$3.5"), varchar10, t("money"), I, 0, Cell::integer(35000)},
        {"money to int rounds", Cell::integer(25000), t("money"), integer, E, 0, Cell::integer(3)},
        {"decimal to int truncates", Cell::integer(279), t("decimal", -1, 5, 2), integer, E, 0, Cell::integer(2)},
        {"decimal to money", Cell::integer(1234), t("decimal", -1, 18, 2), t("money"), I, 0, Cell::integer(123400)},
        {"float to decimal rounds", Cell::real(0.125), t("float"), t("decimal", -1, 18, 2), I, 0, Cell::integer(13)},
        {"money prints two decimals", Cell::integer(12345), t("money"), varchar10, E, 0, Cell::text("1.23")},
        {"decimal prints its scale", Cell::integer(-5), t("decimal", -1, 9, 3), varchar10, E, 0, Cell::text("-0.005")},
        {"too long for an assignment", Cell::text("abcd"), varchar10, nvarchar3, I, 8152, {}},
        {"trailing blanks are dropped", Cell::text("abc   "), varchar10, nvarchar3, I, 0, Cell::text("abc")},
        {"explicit cast cuts", Cell::text("abcd"), varchar10, nvarchar3, E, 0, Cell::text("abc")},
        {"char pads", Cell::text("ab"), varchar10, t("char", 4), I, 0, Cell::text("ab  ")},
        {"varchar keeps Windows-1252 only", Cell::text("€ ĳ"), t("nvarchar", 5), t("varchar", 5), I, 0, Cell::text("€ ?")},
        {"int too long for a varchar is *", Cell::integer(12345), integer, t("varchar", 3), E, 0, Cell::text("*")},
        {"text to datetime", Cell::text("2000-12-31"), varchar10, t("datetime"), I, 0,
         Cell::integer(DateTime::fromParts(2000, 12, 31).millis)},
        {"not a date", Cell::text("31/ab/2000"), varchar10, t("datetime"), I, 241, {}},
        {"numbers that are no date", Cell::text("02/30/2000"), varchar10, t("datetime"), I, 242, {}},
        {"numbers that are no date, as a date", Cell::text("02/30/2000"), varchar10, t("date"), I, 241, {}},
        {"int beyond the datetime range", Cell::integer(3000000), integer, t("datetime"), E, 8115, {}},
        {"float beyond every date", Cell::real(1e308), t("float"), t("datetime"), E, 8115, {}},
        {"float beyond every decimal", Cell::real(-1e308), t("float"), t("decimal", -1, 18, 2), E, 8115, {}},
        {"datetime before 1753", Cell::text("1700-01-01"), varchar10, t("datetime"), I, 242, {}},
        {"smalldatetime after 2079", Cell::text("2080-01-01"), varchar10, t("smalldatetime"), I, 242, {}},
        {"int to datetime counts from 1900", Cell::integer(1), integer, t("datetime"), I, 0,
         Cell::integer(DateTime::fromParts(1900, 1, 2).millis)},
        {"null stays null", Cell::null(), varchar10, integer, I, 0, Cell::null()},
        {"uniqueidentifier checked", Cell::text("nope"), varchar10, t("uniqueidentifier"), I, 8169, {}},
    };
    for (const Case& c : cases) {
        try {
            Cell out = convertCell(c.in, c.from, c.to, c.mode);
            EXPECT_EQ(c.expectedError, 0) << c.label << ": converted to " << show(out);
            EXPECT_EQ(show(out), show(c.expected)) << c.label;
        } catch (const EngineError& e) {
            EXPECT_EQ(e.number(), c.expectedError) << c.label << ": " << e.what();
        }
    }
}

TEST(Convert, RoundsDatesToThePrecisionOfTheirType) {
    const std::int64_t day = DateTime::fromParts(2010, 6, 1).millis;
    const std::pair<std::int64_t, std::int64_t> datetime[] = {{1, 0}, {2, 3}, {5, 7}, {9, 10}, {998, 997}, {999, 1000}};
    for (auto [in, out] : datetime) EXPECT_EQ(roundDate(day + in, BaseType::DateTime), day + out) << in;
    EXPECT_EQ(roundDate(day + 29'998, BaseType::SmallDateTime), day);
    EXPECT_EQ(roundDate(day + 29'999, BaseType::SmallDateTime), day + 60'000);
    EXPECT_EQ(roundDate(day + 3'600'000, BaseType::Date), day);
    EXPECT_EQ(formatDate(DateTime::fromParts(2000, 12, 31, 13, 5).millis, 0), "Dec 31 2000  1:05PM");
    EXPECT_EQ(formatDate(DateTime::fromParts(2009, 3, 5).millis, 102), "2009.03.05");
    EXPECT_EQ(formatDate(DateTime::fromParts(2009, 3, 5).millis, 103), "05/03/2009");
}

// Each date order, the two-digit year's cutoff and ISO dashes are run by dateformat_and_language.test;
// these shapes are not: a text that is no date at all is told apart from an impossible date.
TEST(Convert, MalformedDateTextsAreNotOutOfRange) {
    for (const char* text : {"31/ab/2000", "31/12", "31/12/2000 25:00"}) {
        std::int64_t ms = 0;
        EXPECT_EQ(parseDateText(text, DateOrder::DMY, false, ms), DateParse::Malformed) << text;
    }
}

TEST(Convert, ProgramValuesGoIntoColumnsAndBack) {
    const SqlType money = t("money"), dec = t("decimal", -1, 18, 2), date = t("smalldatetime"), bit = t("bit");
    EXPECT_EQ(show(valueToCell(vopa::Value::dbl(12.345), money)), "int 123450");
    EXPECT_EQ(show(valueToCell(vopa::Value::string("7,5"), t("nvarchar", 5))), "text '7,5'");
    EXPECT_EQ(show(valueToCell(vopa::Value::boolean(true), bit)), "int 1");
    EXPECT_EQ(show(valueToCell(vopa::Value(), dec)), "NULL");
    EXPECT_THROW(valueToCell(vopa::Value::string("abc"), dec), EngineError);
    EXPECT_EQ(cellToValue(Cell::integer(3800), dec), vopa::Value::decimal({3800, 2}));
    EXPECT_EQ(cellToValue(Cell::integer(1), bit), vopa::Value::boolean(true));
    EXPECT_EQ(cellToValue(valueToCell(vopa::Value::date(DateTime::fromParts(2001, 2, 3, 4, 5, 40)), date), date),
              vopa::Value::date(DateTime::fromParts(2001, 2, 3, 4, 6)));
}

TEST(SqlType, ReadsTypeNamesAsTheServerDoes) {
    struct TypeCase {
        const char* name;
        int length, precision, scale;
        const char* shown;
        int error;
    };
    const TypeCase cases[] = {
        {"NVARCHAR", 50, -1, -1, "nvarchar(50)", 0},  {"decimal", -1, 19, 2, "decimal(19,2)", 0},
        {"numeric", 9, -1, -1, "numeric(9,0)", 0},     {"decimal", -1, -1, -1, "decimal(18,0)", 0},
        {"varchar", SqlType::kMax, -1, -1, "varchar(max)", 0}, {"float", 24, -1, -1, "real", 0},
        {"sysname", -1, -1, -1, "nvarchar(128)", 0},   {"ntext", -1, -1, -1, "ntext", 0},
        {"nvarchar", 5000, -1, -1, "", 131},           {"decimal", -1, 39, 0, "", 2750},
        {"decimal", -1, 5, 6, "", 2751},               {"char", SqlType::kMax, -1, -1, "", 1001},
        {"bogus", -1, -1, -1, "", 2715},
    };
    for (const TypeCase& c : cases) {
        try {
            EXPECT_EQ(SqlType::fromName(c.name, c.length, c.precision, c.scale).toString(), c.shown) << c.name;
            EXPECT_EQ(c.error, 0) << c.name;
        } catch (const EngineError& e) {
            EXPECT_EQ(e.number(), c.error) << c.name << ": " << e.what();
        }
    }
    // The operand of higher precedence decides an expression's type.
    EXPECT_GT(t("datetime").precedence(), t("float").precedence());
    EXPECT_GT(t("decimal").precedence(), t("money").precedence());
    EXPECT_GT(t("int").precedence(), t("nvarchar", 5).precedence());
    EXPECT_GT(t("nvarchar", 5).precedence(), t("varchar", 5).precedence());
}

}  // namespace
