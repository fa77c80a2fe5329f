#pragma once
// Value: a self-describing value, the program's counterpart of a variant. It is what a database field
// holds, what a text box hands over and what the empty-value test judges, so it keeps the exact kind
// of the data (a 16-bit integer is not a 32-bit one, money is not a double) alongside the data itself.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vopa {

__extension__ typedef __int128 Int128;

// Money: a fixed-point amount with four decimals, stored as ten-thousandths (exact, like the server's
// money type: about +-922 337 203 685 477.5807).
struct Currency {
    std::int64_t tenThousandths = 0;
    static Currency fromUnits(std::int64_t units) { return {units * 10000}; }
    friend bool operator==(Currency, Currency) = default;
};

// Exact decimal: value = mantissa / 10^scale, up to 38 digits (the server's decimal/numeric range).
struct Decimal {
    Int128 mantissa = 0;
    int scale = 0;
    static Decimal fromInt(std::int64_t v) { return {v, 0}; }
    // Parses "-123.45", "12", ".5"; returns false on anything else or more than 38 digits.
    static bool parse(std::string_view text, Decimal& out);
    std::string toString() const;  // plain form, point as separator, exactly `scale` decimals
    double toDouble() const;
    Decimal rescaled(int newScale) const;  // rounds half away from zero when digits are dropped
    int compare(const Decimal& other) const;
    bool isZero() const { return mantissa == 0; }
    friend bool operator==(const Decimal& a, const Decimal& b) { return a.compare(b) == 0; }
};

// Date and time of day, in milliseconds from 30 December 1899 00:00 (the zero date of the platform's
// date type; earlier dates are negative).
struct DateTime {
    std::int64_t millis = 0;

    static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                              int millisecond = 0);
    // A valid calendar date (years 1 to 9999) and time of day?
    static bool isValidDate(int year, int month, int day);
    // Parses "yyyy-mm-dd[ hh:mm[:ss[.fff]]]", "yyyymmdd" and "dd/mm/yyyy[ hh:mm[:ss]]".
    static bool parse(std::string_view text, DateTime& out);

    int year() const;
    int month() const;
    int day() const;
    int hour() const;
    int minute() const;
    int second() const;
    int millisecond() const;
    DateTime dateOnly() const;
    std::string toIsoString() const;  // "yyyy-mm-dd hh:mm:ss.fff"
    friend bool operator==(DateTime, DateTime) = default;
    friend auto operator<=>(DateTime, DateTime) = default;
};

class Value {
public:
    enum class Kind {
        Empty,     // never assigned
        Null,      // no data (a database NULL)
        Integer,   // 16-bit
        Long,      // 32-bit
        BigInt,    // 64-bit
        Byte,      // 8-bit unsigned
        Single,    // 32-bit float
        Double,    // 64-bit float
        Currency,  // money
        Decimal,   // exact decimal
        Date,      // date and time
        String,    // UTF-8 text
        Boolean,
    };

    Value() = default;
    static Value null() { return Value(NullTag{}); }
    static Value integer(std::int16_t v) { return Value(v); }
    static Value longInt(std::int32_t v) { return Value(v); }
    static Value bigInt(std::int64_t v) { return Value(v); }
    static Value byte(std::uint8_t v) { return Value(v); }
    static Value single(float v) { return Value(v); }
    static Value dbl(double v) { return Value(v); }
    static Value currency(Currency v) { return Value(v); }
    static Value decimal(Decimal v) { return Value(v); }
    static Value date(DateTime v) { return Value(v); }
    static Value string(std::string v) { return Value(std::move(v)); }
    static Value boolean(bool v) { return Value(v); }

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isNull() const { return kind() == Kind::Null; }
    bool isNumeric() const;  // integer kinds, floats, currency, decimal

    // Raw access; the kind must match.
    std::int64_t asInteger() const;  // any integer kind or boolean (true = -1)
    double asDouble() const;         // any numeric kind
    Currency asCurrency() const { return std::get<Currency>(data_); }
    const Decimal& asDecimal() const { return std::get<Decimal>(data_); }
    DateTime asDate() const { return std::get<DateTime>(data_); }
    const std::string& asString() const { return std::get<std::string>(data_); }
    bool asBoolean() const { return std::get<bool>(data_); }

    // Conversions as the platform makes them. Numbers print in plain decimal form with a point;
    // booleans as "True"/"False"; dates as "yyyy-mm-dd hh:mm:ss" (the time part only when not
    // midnight); Empty and Null as "".
    std::string toString() const;
    // Numeric value of a number, boolean, date (days) or numeric text; 0 for anything else.
    double toDouble() const;
    // Exact decimal form of any numeric kind or numeric text; false when there is none.
    bool toDecimal(Decimal& out) const;

    // Exact equality of kind and value.
    friend bool operator==(const Value& a, const Value& b) { return a.data_ == b.data_; }

private:
    struct NullTag {
        friend bool operator==(NullTag, NullTag) { return true; }
    };
    using Data = std::variant<std::monostate, NullTag, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, float,
                              double, Currency, Decimal, DateTime, std::string, bool>;
    template <typename T>
    explicit Value(T v) : data_(std::in_place_type<T>, std::move(v)) {}
    Data data_;
};

std::string_view kindName(Value::Kind kind);

}  // namespace vopa
