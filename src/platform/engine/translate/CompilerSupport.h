#pragma once
// Small helpers the translator's files share.

#include <algorithm>
#include <cstdint>
#include <string>

#include "Compiler.h"
#include "platform/engine/Checked.h"
#include "platform/text/Text.h"

namespace vopa::engine::translate::detail {

// 10^n for the scales of stored decimals; beyond 10^18 no 64-bit value of that scale exists.
inline std::int64_t pow10(int n) {
    if (n > 18) checked::overflow("numeric");
    std::int64_t r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

// The range code of `t` as SQL text, the last argument of the engine's checked arithmetic functions.
inline std::string rangeArgument(const SqlType& t) { return std::to_string(checked::rangeCode(t)); }

// SQL for x * 10^n (a scaled integer brought to a larger scale), checked against the range of `to`.
inline std::string scaledUpSql(const std::string& x, int n, const SqlType& to) {
    if (n <= 0) return x;
    return "vopa_mul(" + x + ", " + std::to_string(pow10(n)) + ", " + rangeArgument(to) + ")";
}

[[noreturn]] inline void notSupported(const std::string& what) {
    throw EngineError(err::NotSupported, "The embedded engine does not support " + what + ".");
}

inline std::string upper(const std::string& s) { return text::toUpper(s); }

// Text of any kind, and uniqueidentifier: compared with the server's collation.
inline bool isCharacter(const SqlType& t) { return t.isString() || t.base == BaseType::UniqueIdentifier; }

// Integer literal types as the server gives them.
inline SqlType integerLiteralType(std::int64_t v) {
    if (v >= -2147483648LL && v <= 2147483647LL) return SqlType::of(BaseType::Int);
    return SqlType::decimal(19, 0);
}

// Decimal type used when an integer or money meets a decimal.
inline SqlType asDecimal(const SqlType& t) {
    switch (t.base) {
        case BaseType::Bit:
        case BaseType::TinyInt: return SqlType::decimal(3, 0);
        case BaseType::SmallInt: return SqlType::decimal(5, 0);
        case BaseType::Int: return SqlType::decimal(10, 0);
        case BaseType::BigInt: return SqlType::decimal(19, 0);
        case BaseType::Money: return SqlType::decimal(19, 4);
        case BaseType::SmallMoney: return SqlType::decimal(10, 4);
        default: return t;
    }
}

// Products and quotients keep at most six decimals (the server keeps more), so that their values keep a
// range of +-9.2e12 within 64 bits.
inline constexpr int kMaxComputedScale = 6;

// The result type of a decimal product or quotient: the server's precision p and scale s, where a
// precision beyond 38 takes digits from the scale (not below 6). The engine's values have 18 digits
// (64 bits), so beyond 18 the scale gives way in the same manner: the result keeps the server's scale
// whenever p <= 18, and at least min(s, 6) decimals otherwise.
inline SqlType fittedDecimal(int p, int s) {
    if (p > 38) {
        s = std::max(s - (p - 38), std::min(s, 6));
        p = 38;
    }
    if (p > 18) s = std::max(s - (p - 18), std::min(s, kMaxComputedScale));
    return SqlType::decimal(p, s);
}

}  // namespace vopa::engine::translate::detail
