#pragma once
// Values as SQLite holds them (cells) and the server's conversions between types, with its errors:
// 245/8114 (text that is not a number), 241/242 (text that is not a date, date out of range),
// 8115 (arithmetic overflow) and 8152 (text too long for an assignment).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "SqlType.h"
#include "platform/value/Value.h"

namespace vopa::engine {

struct Cell {
    enum class Kind { Null, Integer, Real, Text, Blob };
    Kind kind = Kind::Null;
    std::int64_t i = 0;
    double r = 0;
    std::string s;  // text (UTF-8) or blob bytes

    static Cell null() { return {}; }
    static Cell integer(std::int64_t v) { return {Kind::Integer, v, 0, {}}; }
    static Cell real(double v) { return {Kind::Real, 0, v, {}}; }
    static Cell text(std::string v) { return {Kind::Text, 0, 0, std::move(v)}; }
    static Cell blob(std::string v) { return {Kind::Blob, 0, 0, std::move(v)}; }
    bool isNull() const { return kind == Kind::Null; }
};

enum class ConversionMode {
    Implicit,  // assignment to a column: too long a text is an error
    Explicit,  // CAST / CONVERT: too long a text is cut
};

// Converts a cell holding a value of type `from` to the storage of type `to`. `style` is CONVERT's
// style argument (-1 when none).
Cell convertCell(const Cell& in, const SqlType& from, const SqlType& to, ConversionMode mode, int style = -1);

// A program value into the storage of `to` (recordset updates, parameters).
Cell valueToCell(const Value& v, const SqlType& to);
// A stored cell of type `type` as a program value.
Value cellToValue(const Cell& c, const SqlType& type);

// The server's text of a date: style 0/100 "Dec 31 2000 12:00AM", 102 "2000.12.31", 103 "31/12/2000",
// 112 "20001231", 120 "2000-12-31 00:00:00", 121 (and default for display) "2000-12-31 00:00:00.000".
std::string formatDate(std::int64_t millis, int style);

// The order of day, month and year in a date text (SET DATEFORMAT, or the one of SET LANGUAGE).
enum class DateOrder { MDY, DMY, YMD, YDM, MYD, DYM };
// "dmy" -> DateOrder::DMY; nullopt for anything else.
std::optional<DateOrder> dateOrderNamed(std::string_view name);

// The date order of the conversions running on this thread: a session sets it for each statement it
// runs (conversions happen while the statement is translated and while SQLite steps it, on the
// session's thread). Outside any scope it is mdy, the server's default (us_english).
DateOrder currentDateOrder();
class DateOrderScope {
public:
    explicit DateOrderScope(DateOrder order);
    ~DateOrderScope();
    DateOrderScope(const DateOrderScope&) = delete;
    DateOrderScope& operator=(const DateOrderScope&) = delete;

private:
    DateOrder previous_;
};

enum class DateParse { Ok, Malformed, OutOfRange };
// Parses a date text as the server does: the unseparated yyyymmdd[ time] and ISO 8601 yyyy-mm-ddThh:mm
// forms whatever the order; three numbers separated by "/" "-" "." in the order `order` (a four-digit
// first number is the year, then day and month in the order they have in `order`; with `isoDashes`,
// for the date type, yyyy-mm-dd is always year, month, day). Malformed text and numbers that are no
// date (month 13, 31 February) are told apart: the server reports them as 241 and 242.
DateParse parseDateText(std::string_view text, DateOrder order, bool isoDashes, std::int64_t& millis);

// True when `millis` lies within the range of the date type `base`.
bool dateInRange(std::int64_t millis, BaseType base);

// Rounds to the precision of the type: datetime to 1/300 s, smalldatetime to the minute, date to the day.
std::int64_t roundDate(std::int64_t millis, BaseType base);

// Formats a stored scaled integer: 12345 with scale 2 -> "123.45".
std::string formatScaled(std::int64_t v, int scale);

}  // namespace vopa::engine
