#pragma once
// Checked integer arithmetic: the one place where the engine adds, subtracts, multiplies, divides and
// negates 64-bit (and 128-bit) integers. Every result is computed with the compiler's overflow
// built-ins, so no operation is ever undefined behaviour; an overflow becomes the server's error.
//
// Results are checked against the range of the SQL Server type they belong to (a `NumericRange`):
// int arithmetic overflows at 2^31, money at its stored ten-thousandths, decimal(p,s) at 10^p (and at
// the 64 bits the engine stores it in).

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "EngineError.h"
#include "SqlType.h"

namespace vopa::engine::checked {

// The range of values of an exact numeric type as the engine stores it (scaled integers for money and
// decimal), and the name the server gives it in overflow messages.
struct NumericRange {
    std::int64_t low = std::numeric_limits<std::int64_t>::min();
    std::int64_t high = std::numeric_limits<std::int64_t>::max();
    const char* typeName = "bigint";

    bool contains(Int128 v) const { return v >= low && v <= high; }
};

// 8115: "Arithmetic overflow error converting expression to data type <type>."
[[noreturn]] inline void overflow(const char* typeName) {
    throw EngineError(err::ArithmeticOverflow,
                      std::string("Arithmetic overflow error converting expression to data type ") + typeName + ".");
}

// decimal(p, s) stored as value * 10^s: |stored| < 10^p, and within 64 bits.
inline NumericRange decimalRange(int precision) {
    if (precision >= 19) return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), "numeric"};
    std::int64_t limit = 1;
    for (int i = 0; i < precision; ++i) limit *= 10;
    return {-(limit - 1), limit - 1, "numeric"};
}

// The range of `t` (an integer, money or decimal type; anything else gets the 64-bit range).
inline NumericRange rangeOf(const SqlType& t) {
    switch (t.base) {
        case BaseType::Bit: return {0, 1, "bit"};
        case BaseType::TinyInt: return {0, 255, "tinyint"};
        case BaseType::SmallInt: return {-32768, 32767, "smallint"};
        case BaseType::Int: return {-2147483647 - 1, 2147483647, "int"};
        case BaseType::SmallMoney: return {-2147483647 - 1, 2147483647, "smallmoney"};
        case BaseType::Money: return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), "money"};
        case BaseType::Decimal:
        case BaseType::Numeric: return decimalRange(t.precision);
        default: return {};
    }
}

// A compact code of an exact numeric type for the SQL text of a call to the engine's checked functions,
// and back: integers and money by their base type, decimal(p, s) as 100 + p.
inline int rangeCode(const SqlType& t) {
    if (t.base == BaseType::Decimal || t.base == BaseType::Numeric) return 100 + t.precision;
    return static_cast<int>(t.base);
}
inline NumericRange rangeOfCode(std::int64_t code) {
    if (code >= 100 && code <= 138) return decimalRange(static_cast<int>(code - 100));
    if (code >= 0 && code <= static_cast<int>(BaseType::UniqueIdentifier))
        return rangeOf(SqlType::of(static_cast<BaseType>(code)));
    return {};
}

// The raw 64-bit operations, empty on overflow (for callers with errors of their own).
inline std::optional<std::int64_t> add64(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
    return r;
}
inline std::optional<std::int64_t> subtract64(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) return std::nullopt;
    return r;
}
inline std::optional<std::int64_t> multiply64(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
    return r;
}
// a * 10^n in 128 bits, empty on overflow.
inline std::optional<Int128> scaleUp(Int128 a, int n) {
    for (int i = 0; i < n; ++i)
        if (__builtin_mul_overflow(a, static_cast<Int128>(10), &a)) return std::nullopt;
    return a;
}

// a in `range`, or 8115.
inline std::int64_t within(Int128 a, const NumericRange& range) {
    if (!range.contains(a)) overflow(range.typeName);
    return static_cast<std::int64_t>(a);
}
inline std::int64_t within(std::optional<std::int64_t> a, const NumericRange& range) {
    if (!a) overflow(range.typeName);
    return within(static_cast<Int128>(*a), range);
}

[[noreturn]] inline void divideByZero() { throw EngineError(err::DivideByZero, "Divide by zero error encountered."); }

// a op b within `range`, or 8115; division and modulo by zero are 8134.
inline std::int64_t add(std::int64_t a, std::int64_t b, const NumericRange& range) { return within(add64(a, b), range); }
inline std::int64_t subtract(std::int64_t a, std::int64_t b, const NumericRange& range) {
    return within(subtract64(a, b), range);
}
inline std::int64_t multiply(std::int64_t a, std::int64_t b, const NumericRange& range) {
    return within(multiply64(a, b), range);
}
// Truncates towards zero, as the server does.
inline std::int64_t divide(std::int64_t a, std::int64_t b, const NumericRange& range) {
    if (b == 0) divideByZero();
    if (b == -1) return within(subtract64(0, a), range);
    return within(static_cast<Int128>(a / b), range);
}
inline std::int64_t modulo(std::int64_t a, std::int64_t b) {
    if (b == 0) divideByZero();
    if (b == -1) return 0;
    return a % b;
}
inline std::int64_t negate(std::int64_t a, const NumericRange& range) { return within(subtract64(0, a), range); }
inline std::int64_t absolute(std::int64_t a, const NumericRange& range) {
    return a < 0 ? negate(a, range) : within(static_cast<Int128>(a), range);
}

// q rounded from a quotient with remainder r of divisor d (half away from zero).
inline Int128 roundQuotient(Int128 q, Int128 r, Int128 d, bool negative) {
    Int128 ar = r < 0 ? -r : r, ad = d < 0 ? -d : d;
    if (ar * 2 >= ad) q += negative ? -1 : 1;
    return q;
}

// Products and quotients of scaled integers (money, decimal): a (scale sa) op b (scale sb) as a value of
// scale `s`, rounded half away from zero, within `range`. Computed in 128 bits: exact to the last digit.
inline std::int64_t multiplyScaled(std::int64_t a, int sa, std::int64_t b, int sb, int s, const NumericRange& range) {
    Int128 p = static_cast<Int128>(a) * static_cast<Int128>(b);  // |a * b| < 2^126: cannot overflow
    const int from = sa + sb;
    if (s >= from) {
        std::optional<Int128> up = scaleUp(p, s - from);
        if (!up) overflow(range.typeName);
        return within(*up, range);
    }
    Int128 d = 1;
    for (int i = s; i < from; ++i) d *= 10;
    return within(roundQuotient(p / d, p % d, d, p < 0), range);
}

inline std::int64_t divideScaled(std::int64_t a, int sa, std::int64_t b, int sb, int s, const NumericRange& range) {
    if (b == 0) divideByZero();
    // a / 10^sa / (b / 10^sb) * 10^s = a * 10^(sb + s - sa) / b
    const int shift = sb + s - sa;
    Int128 n = a, d = b;
    if (shift >= 0) {
        std::optional<Int128> up = scaleUp(n, shift);
        if (!up) overflow(range.typeName);
        n = *up;
    } else {
        std::optional<Int128> up = scaleUp(d, -shift);
        if (!up) return 0;  // the divisor is beyond 10^38: the quotient rounds to zero at any 64-bit dividend
        d = *up;
    }
    return within(roundQuotient(n / d, n % d, d, (n < 0) != (d < 0)), range);
}

// ROUND(v, digits) of a value of scale `scale`; `truncate` cuts instead of rounding.
inline std::int64_t roundScaled(std::int64_t v, int scale, std::int64_t digits, bool truncate,
                                const NumericRange& range) {
    if (digits >= scale) return v;
    const std::int64_t drop = scale - digits;
    if (drop > 19) return 0;
    Int128 unit = 1;
    for (std::int64_t i = 0; i < drop; ++i) unit *= 10;
    Int128 q = v / unit, r = v % unit;
    if (!truncate) q = roundQuotient(q, r, unit, v < 0);
    return within(q * unit, range);
}

}  // namespace vopa::engine::checked
