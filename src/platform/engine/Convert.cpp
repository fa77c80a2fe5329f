#include "Convert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "Checked.h"
#include "EngineError.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

constexpr std::int64_t kMillisPerDay = 86'400'000;
// 1900-01-01, the server's day zero for numbers converted to dates, is two days after 1899-12-30.
constexpr std::int64_t kServerEpochOffset = 2 * kMillisPerDay;

const std::int64_t kMinDateTime = DateTime::fromParts(1753, 1, 1).millis;
const std::int64_t kMaxDateTime = DateTime::fromParts(9999, 12, 31, 23, 59, 59, 997).millis;
const std::int64_t kMinSmallDateTime = DateTime::fromParts(1900, 1, 1).millis;
const std::int64_t kMaxSmallDateTime = DateTime::fromParts(2079, 6, 6, 23, 59).millis;
const std::int64_t kMinDate = DateTime::fromParts(1, 1, 1).millis;

// 10^n as a double (scales of decimals reach 38, beyond any 64-bit power of ten).
double pow10(int n) { return std::pow(10.0, n); }

// The stored value in days is far outside every date type: no conversion may compute with it.
constexpr double kMaxDays = 4'000'000;

[[noreturn]] void overflow(const std::string& fromName, const SqlType& to) {
    std::string target = to.storage() == Storage::Scaled && to.base != BaseType::Money &&
                                 to.base != BaseType::SmallMoney
                             ? "numeric"
                             : to.name();
    throw EngineError(err::ArithmeticOverflow,
                      "Arithmetic overflow error converting " + fromName + " to data type " + target + ".");
}

std::string sourceName(const SqlType& from) {
    return from.storage() == Storage::Scaled && from.base != BaseType::Money && from.base != BaseType::SmallMoney
               ? "numeric"
               : from.isInteger() ? "expression" : from.name();
}

bool fitsInteger(std::int64_t v, BaseType base) {
    switch (base) {
        case BaseType::TinyInt: return v >= 0 && v <= 255;
        case BaseType::SmallInt: return v >= -32768 && v <= 32767;
        case BaseType::Int: return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
        default: return true;
    }
}

std::int64_t checkedInteger(std::int64_t v, const SqlType& from, const SqlType& to) {
    if (to.base == BaseType::Bit) return v != 0 ? 1 : 0;
    if (!fitsInteger(v, to.base)) {
        // An integer too large for tinyint or smallint is the server's error 220, which names the value.
        if (from.isInteger() && (to.base == BaseType::TinyInt || to.base == BaseType::SmallInt))
            throw EngineError(err::IntegerOverflow, "Arithmetic overflow error for data type " + to.name() +
                                                        ", value = " + std::to_string(v) + ".");
        overflow(sourceName(from), to);
    }
    return v;
}

// Checks that a scaled value fits the target's range: money and smallmoney reach one ten-thousandth
// further below zero than above it, decimal(p, s) stays below 10^p and within the 64 bits it is stored in.
std::int64_t checkedScaled(Int128 scaled, const SqlType& from, const SqlType& to) {
    if (!checked::rangeOf(to).contains(scaled)) overflow(sourceName(from), to);
    return static_cast<std::int64_t>(scaled);
}

// v of scale `fromScale` at scale `toScale`; a value beyond 128 bits saturates, so that the caller's
// range check refuses it.
Int128 rescale(Int128 v, int fromScale, int toScale, bool truncate) {
    if (toScale >= fromScale) {
        std::optional<Int128> up = checked::scaleUp(v, toScale - fromScale);
        if (!up) return v < 0 ? -(static_cast<Int128>(1) << 126) : static_cast<Int128>(1) << 126;
        return *up;
    }
    Int128 divisor = 1;
    for (int i = toScale; i < fromScale; ++i) divisor *= 10;
    Int128 q = v / divisor, r = v % divisor;
    if (!truncate && (r < 0 ? -r : r) * 2 >= divisor) q += v < 0 ? -1 : 1;
    return q;
}

std::string formatReal(double v, int significant) {
    if (v == 0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", significant, v);
    std::string s = buf;
    // The server writes exponents with three digits: 1.23457e+006.
    std::size_t e = s.find('e');
    if (e != std::string::npos && s.size() - e - 2 < 3) s.insert(e + 2, 3 - (s.size() - e - 2), '0');
    return s;
}

std::string trimSpaces(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

std::string quoteForMessage(const SqlType& from, const std::string& s) {
    return (from.isUnicode() ? "nvarchar" : from.isString() ? from.name() : std::string("varchar")) + " value '" +
           s + "'";
}

Cell fitText(std::string s, const SqlType& to, ConversionMode mode) {
    if (!to.isUnicode()) {
        // Single-byte columns hold Windows-1252 only: other characters become '?', as on the server.
        bool ascii = true;
        for (unsigned char c : s) ascii = ascii && c < 0x80;
        if (!ascii) s = text::fromWindows1252(text::toWindows1252(s));
    }
    if (to.length != SqlType::kMax && !to.isLob()) {
        std::size_t chars = text::lengthInChars(s);
        std::size_t limit = static_cast<std::size_t>(to.length);
        if (chars > limit) {
            // Trailing blanks beyond the length are dropped without complaint.
            std::string trimmed = s;
            while (!trimmed.empty() && trimmed.back() == ' ' && text::lengthInChars(trimmed) > limit) trimmed.pop_back();
            if (text::lengthInChars(trimmed) > limit) {
                if (mode == ConversionMode::Implicit)
                    throw EngineError(err::StringTruncation, "String or binary data would be truncated.");
                std::size_t pos = 0;
                for (std::size_t n = 0; n < limit; ++n) text::nextCodePoint(s, pos);
                trimmed = s.substr(0, pos);
            }
            s = trimmed;
            chars = text::lengthInChars(s);
        }
        if (to.isFixedLength() && chars < limit) s.append(limit - chars, ' ');
    }
    return Cell::text(std::move(s));
}

// A number of days from 1900-01-01 as a date of type `to`; beyond its range 8115, as on the server.
std::int64_t dateFromDays(double days, const SqlType& to) {
    if (!std::isfinite(days) || days > kMaxDays || days < -kMaxDays) overflow("expression", to);
    std::int64_t ms = static_cast<std::int64_t>(std::llround(days * kMillisPerDay)) + kServerEpochOffset;
    std::int64_t rounded = roundDate(ms, to.base);
    if (!dateInRange(rounded, to.base)) overflow("expression", to);
    return rounded;
}

Cell fromInteger(std::int64_t v, const SqlType& from, const SqlType& to, ConversionMode mode) {
    switch (to.storage()) {
        case Storage::Integer: return Cell::integer(checkedInteger(v, from, to));
        case Storage::Real:
            return Cell::real(to.base == BaseType::Real ? static_cast<double>(static_cast<float>(v))
                                                        : static_cast<double>(v));
        case Storage::Scaled: return Cell::integer(checkedScaled(rescale(v, 0, to.scale, false), from, to));
        case Storage::DateMillis:
            if (to.base == BaseType::Date)
                throw EngineError(err::ConversionNotAllowed,
                                  "Explicit conversion from data type " + from.name() + " to date is not allowed.");
            return Cell::integer(dateFromDays(static_cast<double>(v), to));
        case Storage::Text: {
            std::string s = std::to_string(v);
            if (to.length != SqlType::kMax && !to.isLob() && s.size() > static_cast<std::size_t>(to.length)) {
                if (mode == ConversionMode::Implicit)
                    throw EngineError(err::StringTruncation, "String or binary data would be truncated.");
                if (!to.isUnicode()) return fitText("*", to, mode);
                overflow("expression", to);
            }
            return fitText(s, to, mode);
        }
        case Storage::Blob: break;
    }
    throw EngineError(err::ConversionNotAllowed,
                      "Explicit conversion from data type " + from.name() + " to " + to.name() + " is not allowed.");
}

Cell fromReal(double v, const SqlType& from, const SqlType& to, ConversionMode mode) {
    if (!std::isfinite(v)) overflow("float", to);
    switch (to.storage()) {
        case Storage::Integer: {
            double t = std::trunc(v);
            if (t < -9.2e18 || t > 9.2e18) overflow("expression", to);
            return Cell::integer(checkedInteger(static_cast<std::int64_t>(t), from, to));
        }
        case Storage::Real:
            return Cell::real(to.base == BaseType::Real ? static_cast<double>(static_cast<float>(v)) : v);
        case Storage::Scaled: {
            double scaled = std::round(v * pow10(to.scale));
            if (std::fabs(scaled) > 9.2e18) overflow("float", to);
            return Cell::integer(checkedScaled(static_cast<std::int64_t>(scaled), SqlType::of(BaseType::Float), to));
        }
        case Storage::DateMillis: return Cell::integer(dateFromDays(v, to));
        case Storage::Text: return fitText(formatReal(v, from.base == BaseType::Real ? 7 : 6), to, mode);
        case Storage::Blob: break;
    }
    throw EngineError(err::ConversionNotAllowed,
                      "Explicit conversion from data type " + from.name() + " to " + to.name() + " is not allowed.");
}

Cell fromScaled(std::int64_t v, const SqlType& from, const SqlType& to, ConversionMode mode) {
    const bool money = from.base == BaseType::Money || from.base == BaseType::SmallMoney;
    switch (to.storage()) {
        case Storage::Integer: {
            // Money rounds to whole units; decimal truncates.
            Int128 whole = rescale(v, from.scale, 0, !money);
            if (whole > std::numeric_limits<std::int64_t>::max() || whole < std::numeric_limits<std::int64_t>::min())
                overflow(sourceName(from), to);
            return Cell::integer(checkedInteger(static_cast<std::int64_t>(whole), from, to));
        }
        case Storage::Real: {
            double d = static_cast<double>(v) / pow10(from.scale);
            return Cell::real(to.base == BaseType::Real ? static_cast<double>(static_cast<float>(d)) : d);
        }
        case Storage::Scaled: return Cell::integer(checkedScaled(rescale(v, from.scale, to.scale, false), from, to));
        case Storage::DateMillis: {
            if (to.base == BaseType::Date || money)
                throw EngineError(err::ConversionNotAllowed, "Explicit conversion from data type " + from.name() +
                                                                 " to " + to.name() + " is not allowed.");
            return Cell::integer(dateFromDays(static_cast<double>(v) / pow10(from.scale), to));
        }
        case Storage::Text: {
            // Money prints with two decimals; decimal with all of its scale.
            std::string s = money ? formatScaled(static_cast<std::int64_t>(rescale(v, 4, 2, false)), 2)
                                  : formatScaled(v, from.scale);
            if (to.length != SqlType::kMax && !to.isLob() && s.size() > static_cast<std::size_t>(to.length)) {
                if (mode == ConversionMode::Implicit)
                    throw EngineError(err::StringTruncation, "String or binary data would be truncated.");
                if (!to.isUnicode()) return fitText("*", to, mode);
                overflow(sourceName(from), to);
            }
            return fitText(s, to, mode);
        }
        case Storage::Blob: break;
    }
    throw EngineError(err::ConversionNotAllowed,
                      "Explicit conversion from data type " + from.name() + " to " + to.name() + " is not allowed.");
}

Cell fromDate(std::int64_t ms, const SqlType& from, const SqlType& to, ConversionMode mode, int style) {
    switch (to.storage()) {
        case Storage::DateMillis: {
            std::int64_t r = roundDate(ms, to.base);
            if (to.base == BaseType::SmallDateTime && (r < kMinSmallDateTime || r > kMaxSmallDateTime))
                throw EngineError(err::DateOutOfRange,
                                  "The conversion of a " + from.name() +
                                      " data type to a smalldatetime data type resulted in an out-of-range value.");
            return Cell::integer(r);
        }
        case Storage::Integer: {
            if (to.base == BaseType::Bit) break;
            double days = static_cast<double>(ms - kServerEpochOffset) / kMillisPerDay;
            return Cell::integer(checkedInteger(static_cast<std::int64_t>(std::llround(days)), from, to));
        }
        case Storage::Real: return Cell::real(static_cast<double>(ms - kServerEpochOffset) / kMillisPerDay);
        case Storage::Text:
            return fitText(formatDate(ms, style >= 0 ? style : (from.base == BaseType::Date ? 23 : 0)), to, mode);
        default: break;
    }
    throw EngineError(err::ConversionNotAllowed,
                      "Explicit conversion from data type " + from.name() + " to " + to.name() + " is not allowed.");
}

// The order a CONVERT style gives a date text; without a style, the session's.
DateOrder dateOrderOfStyle(int style) {
    switch (style) {
        case 1: case 101: case 10: case 110: return DateOrder::MDY;
        case 3: case 103: case 4: case 104: case 5: case 105: return DateOrder::DMY;
        case 2: case 102: case 11: case 111: case 20: case 120: case 21: case 121: case 23: case 126:
            return DateOrder::YMD;
        default: return currentDateOrder();
    }
}

Cell fromText(const std::string& s, const SqlType& from, const SqlType& to, ConversionMode mode, int style) {
    switch (to.storage()) {
        case Storage::Text:
            if (to.base == BaseType::UniqueIdentifier) {
                std::string t = trimSpaces(s);
                bool ok = t.size() == 36;
                for (std::size_t i = 0; ok && i < t.size(); ++i)
                    ok = (i == 8 || i == 13 || i == 18 || i == 23) ? t[i] == '-' : std::isxdigit(static_cast<unsigned char>(t[i])) != 0;
                if (!ok)
                    throw EngineError(err::UniqueIdentifierConversionFailed,
                                      "Conversion failed when converting from a character string to uniqueidentifier.");
                return Cell::text(text::toUpper(t));
            }
            return fitText(s, to, mode);
        case Storage::Integer: {
            std::string t = trimSpaces(s);
            if (to.base == BaseType::Bit) {
                if (text::equalsNoCase(t, "true")) return Cell::integer(1);
                if (text::equalsNoCase(t, "false")) return Cell::integer(0);
            }
            std::size_t i = 0;
            bool negative = false;
            if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
            bool digits = i < t.size();
            Int128 v = 0;
            for (; i < t.size() && digits; ++i) {
                if (t[i] < '0' || t[i] > '9') digits = false;
                else if (v < static_cast<Int128>(1) << 70) v = v * 10 + (t[i] - '0');
            }
            if (t.empty()) return Cell::integer(0);  // '' converts to 0
            if (!digits)
                throw EngineError(err::ConversionFailed, "Conversion failed when converting the " +
                                                             quoteForMessage(from, s) + " to data type " + to.name() + ".");
            if (negative) v = -v;
            if (v > std::numeric_limits<std::int64_t>::max() || v < std::numeric_limits<std::int64_t>::min())
                throw EngineError(err::IntConversionOverflow,
                                  "The conversion of the " + quoteForMessage(from, s) + " overflowed an int column.");
            if (!fitsInteger(static_cast<std::int64_t>(v), to.base) && to.base != BaseType::Bit)
                throw EngineError(err::IntConversionOverflow, "The conversion of the " + quoteForMessage(from, s) +
                                                                  " overflowed an " + to.name() + " column.");
            return Cell::integer(checkedInteger(static_cast<std::int64_t>(v), from, to));
        }
        case Storage::Scaled: {
            std::string t = trimSpaces(s);
            const bool money = to.base == BaseType::Money || to.base == BaseType::SmallMoney;
            if (money && !t.empty() && (t[0] == '$' || t.rfind("\xE2\x82\xAC", 0) == 0))
                t = t.substr(t[0] == '$' ? 1 : 3);
            Decimal d;
            if (!Decimal::parse(t, d)) {
                if (money)
                    throw EngineError(err::MoneyConversionFailed,
                                      "Cannot convert a char value to money. The char value has incorrect syntax.");
                throw EngineError(err::NumericConversionFailed,
                                  "Error converting data type " +
                                      (from.isString() ? from.name() : std::string("varchar")) + " to numeric.");
            }
            return Cell::integer(checkedScaled(rescale(d.mantissa, d.scale, to.scale, false), from, to));
        }
        case Storage::Real: {
            std::string t = trimSpaces(s);
            char* end = nullptr;
            double v = t.empty() ? 0.0 : std::strtod(t.c_str(), &end);
            if (!t.empty() && (end == nullptr || *end != '\0' || !std::isfinite(v)))
                throw EngineError(err::NumericConversionFailed,
                                  "Error converting data type " +
                                      (from.isString() ? from.name() : std::string("varchar")) + " to float.");
            return Cell::real(to.base == BaseType::Real ? static_cast<double>(static_cast<float>(v)) : v);
        }
        case Storage::DateMillis: {
            std::int64_t ms = 0;
            std::string t = trimSpaces(s);
            if (t.empty()) return Cell::integer(to.base == BaseType::Date ? kMinDate : kServerEpochOffset);
            const DateParse parsed = parseDateText(t, dateOrderOfStyle(style), to.base == BaseType::Date, ms);
            const std::string fromName = from.isString() ? from.name() : std::string("varchar");
            bool inRange = parsed == DateParse::Ok &&
                           (to.base == BaseType::SmallDateTime ? ms >= kMinSmallDateTime && ms <= kMaxSmallDateTime
                            : to.base == BaseType::DateTime    ? ms >= kMinDateTime && ms <= kMaxDateTime + 2
                                                               : true);
            // The date type reports every failure as 241; datetime and smalldatetime tell numbers that are
            // no date (242) from text that is none (241).
            if (parsed == DateParse::Malformed || (!inRange && to.base == BaseType::Date))
                throw EngineError(err::DateConversionFailed,
                                  "Conversion failed when converting date and/or time from character string.");
            if (!inRange)
                throw EngineError(err::DateOutOfRange, "The conversion of a " + fromName + " data type to a " +
                                                           to.name() + " data type resulted in an out-of-range value.");
            return Cell::integer(roundDate(ms, to.base));
        }
        case Storage::Blob: return Cell::blob(s);
    }
    return Cell::null();
}

}  // namespace

bool dateInRange(std::int64_t ms, BaseType base) {
    switch (base) {
        case BaseType::SmallDateTime: return ms >= kMinSmallDateTime && ms <= kMaxSmallDateTime;
        case BaseType::DateTime: return ms >= kMinDateTime && ms <= kMaxDateTime;
        default: return ms >= kMinDate && ms <= kMaxDateTime;
    }
}

std::string formatScaled(std::int64_t v, int scale) { return Decimal{v, scale}.toString(); }

std::int64_t roundDate(std::int64_t ms, BaseType base) {
    std::int64_t day = ms / kMillisPerDay - (ms % kMillisPerDay < 0 ? 1 : 0);
    std::int64_t inDay = ms - day * kMillisPerDay;
    switch (base) {
        case BaseType::Date: return day * kMillisPerDay;
        case BaseType::SmallDateTime: {
            // 29.998 seconds or less round down to the minute, more round up.
            std::int64_t minutes = inDay / 60'000;
            if (inDay % 60'000 >= 29'999) ++minutes;
            return day * kMillisPerDay + minutes * 60'000;
        }
        case BaseType::DateTime: {
            // 1/300 s ticks: .000, .003, .007.
            std::int64_t ticks = (inDay * 3 + 5) / 10;
            std::int64_t rounded = (ticks * 10 + 1) / 3;
            return day * kMillisPerDay + rounded;
        }
        default: return ms;
    }
}

std::string formatDate(std::int64_t millis, int style) {
    DateTime d{millis};
    char buf[64];
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    switch (style) {
        case 102: std::snprintf(buf, sizeof buf, "%04d.%02d.%02d", d.year(), d.month(), d.day()); break;
        case 103: std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day(), d.month(), d.year()); break;
        case 101: std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.month(), d.day(), d.year()); break;
        case 104: std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d.day(), d.month(), d.year()); break;
        case 105: std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", d.day(), d.month(), d.year()); break;
        case 112: std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year(), d.month(), d.day()); break;
        case 108: std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", d.hour(), d.minute(), d.second()); break;
        case 23: std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year(), d.month(), d.day()); break;
        case 120:
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(), d.hour(),
                          d.minute(), d.second());
            break;
        case 121:
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year(), d.month(), d.day(), d.hour(),
                          d.minute(), d.second(), d.millisecond());
            break;
        default: {
            int h = d.hour() % 12;
            std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", kMonths[d.month() - 1], d.day(), d.year(),
                          h == 0 ? 12 : h, d.minute(), d.hour() < 12 ? "AM" : "PM");
        }
    }
    return buf;
}

namespace {
thread_local DateOrder threadDateOrder = DateOrder::MDY;

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A run of at most nine digits as a number (longer runs are no part of a date).
bool smallNumber(std::string_view s, int& out) {
    if (!allDigits(s) || s.size() > 9) return false;
    out = 0;
    for (char c : s) out = out * 10 + (c - '0');
    return true;
}

int fullYear(int y, std::size_t digits) {
    // Two-digit years: 00-49 are 2000-2049, 50-99 are 1950-1999 (the server's cutoff 2049).
    if (digits <= 2) return y + (y < 50 ? 2000 : 1900);
    return y;
}
}  // namespace

std::optional<DateOrder> dateOrderNamed(std::string_view name) {
    const std::string n = text::toLower(std::string(name));
    if (n == "mdy") return DateOrder::MDY;
    if (n == "dmy") return DateOrder::DMY;
    if (n == "ymd") return DateOrder::YMD;
    if (n == "ydm") return DateOrder::YDM;
    if (n == "myd") return DateOrder::MYD;
    if (n == "dym") return DateOrder::DYM;
    return std::nullopt;
}

DateOrder currentDateOrder() { return threadDateOrder; }
DateOrderScope::DateOrderScope(DateOrder order) : previous_(threadDateOrder) { threadDateOrder = order; }
DateOrderScope::~DateOrderScope() { threadDateOrder = previous_; }

DateParse parseDateText(std::string_view input, DateOrder order, bool isoDashes, std::int64_t& millis) {
    std::string s = trimSpaces(input);
    int y = 0, m = 0, d = 0;
    std::size_t pos = 0;
    const std::size_t digits = std::min(s.find_first_not_of("0123456789"), s.size());
    if (digits == 8 && (s.size() == 8 || s[8] == ' ' || s[8] == 'T')) {
        // yyyymmdd: the same in every date format and language.
        y = std::atoi(s.substr(0, 4).c_str());
        m = std::atoi(s.substr(4, 2).c_str());
        d = std::atoi(s.substr(6, 2).c_str());
        pos = 8;
    } else if (digits > 0 && digits < s.size() && (s[digits] == '-' || s[digits] == '/' || s[digits] == '.')) {
        const char sep = s[digits];
        const std::size_t second = s.find(sep, digits + 1);
        if (second == std::string::npos) return DateParse::Malformed;
        std::size_t thirdEnd = second + 1;
        while (thirdEnd < s.size() && std::isdigit(static_cast<unsigned char>(s[thirdEnd]))) ++thirdEnd;
        const std::string_view a = std::string_view(s).substr(0, digits);
        const std::string_view b = std::string_view(s).substr(digits + 1, second - digits - 1);
        const std::string_view c = std::string_view(s).substr(second + 1, thirdEnd - second - 1);
        int na = 0, nb = 0, nc = 0;
        if (!smallNumber(a, na) || !smallNumber(b, nb) || !smallNumber(c, nc)) return DateParse::Malformed;
        pos = thirdEnd;
        // ISO 8601 yyyy-mm-ddThh:mm... is year, month, day in every format.
        const bool isoT = sep == '-' && a.size() == 4 && pos < s.size() && s[pos] == 'T';
        if (a.size() == 4) {
            // Year first: day and month follow in the order the date format gives them.
            const bool dayBeforeMonth = !isoT && !(isoDashes && sep == '-') &&
                                        (order == DateOrder::DMY || order == DateOrder::YDM || order == DateOrder::DYM);
            y = na;
            if (dayBeforeMonth)
                d = nb, m = nc;
            else
                m = nb, d = nc;
        } else {
            std::string_view yearText;
            switch (order) {
                case DateOrder::MDY: m = na, d = nb, y = nc, yearText = c; break;
                case DateOrder::DMY: d = na, m = nb, y = nc, yearText = c; break;
                case DateOrder::YMD: y = na, m = nb, d = nc, yearText = a; break;
                case DateOrder::YDM: y = na, d = nb, m = nc, yearText = a; break;
                case DateOrder::MYD: m = na, y = nb, d = nc, yearText = b; break;
                case DateOrder::DYM: d = na, y = nb, m = nc, yearText = b; break;
            }
            if (yearText.size() > 4 || yearText.size() == 3) return DateParse::Malformed;
            y = fullYear(y, yearText.size());
        }
    } else {
        // A time alone is a time on 1900-01-01.
        y = 1900, m = 1, d = 1;
    }
    int h = 0, mi = 0, sec = 0, ms = 0;
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T')) ++pos;
    if (pos < s.size()) {
        int consumed = 0;
        if (std::sscanf(s.c_str() + pos, "%2d:%2d%n", &h, &mi, &consumed) < 2) return DateParse::Malformed;
        pos += static_cast<std::size_t>(consumed);
        if (pos < s.size() && s[pos] == ':') {
            if (std::sscanf(s.c_str() + pos, ":%2d%n", &sec, &consumed) < 1) return DateParse::Malformed;
            pos += static_cast<std::size_t>(consumed);
        }
        if (pos < s.size() && (s[pos] == '.' || s[pos] == ':')) {
            ++pos;
            std::string frac;
            while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) frac.push_back(s[pos++]);
            frac = (frac + "000").substr(0, 3);
            ms = std::atoi(frac.c_str());
        }
        while (pos < s.size() && s[pos] == ' ') ++pos;
        std::string rest = text::toUpper(s.substr(pos));
        if (rest == "PM" && h < 12) h += 12;
        else if (rest == "AM" && h == 12) h = 0;
        else if (!rest.empty() && rest != "AM" && rest != "PM") return DateParse::Malformed;
    }
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59) return DateParse::Malformed;
    if (y < 1 || y > 9999 || !DateTime::isValidDate(y, m, d)) return DateParse::OutOfRange;
    millis = DateTime::fromParts(y, m, d, h, mi, sec, ms).millis;
    return DateParse::Ok;
}

Cell convertCell(const Cell& in, const SqlType& from, const SqlType& to, ConversionMode mode, int style) {
    switch (in.kind) {
        case Cell::Kind::Null: return in;
        case Cell::Kind::Integer:
            switch (from.storage()) {
                case Storage::Scaled: return fromScaled(in.i, from, to, mode);
                case Storage::DateMillis: return fromDate(in.i, from, to, mode, style);
                case Storage::Real: return fromReal(static_cast<double>(in.i), from, to, mode);
                case Storage::Text: return fromText(std::to_string(in.i), from, to, mode, style);
                default: return fromInteger(in.i, from, to, mode);
            }
        case Cell::Kind::Real:
            if (from.storage() == Storage::Text) return fromText(Value::dbl(in.r).toString(), from, to, mode, style);
            return fromReal(in.r, from, to, mode);
        case Cell::Kind::Text: return fromText(in.s, from, to, mode, style);
        case Cell::Kind::Blob:
            if (to.storage() == Storage::Blob) {
                if (to.length != SqlType::kMax && !to.isLob() && in.s.size() > static_cast<std::size_t>(to.length)) {
                    if (mode == ConversionMode::Implicit)
                        throw EngineError(err::StringTruncation, "String or binary data would be truncated.");
                    return Cell::blob(in.s.substr(0, static_cast<std::size_t>(to.length)));
                }
                return in;
            }
            if (to.isString()) return fitText(in.s, to, mode);
            throw EngineError(err::ConversionNotAllowed, "Explicit conversion from data type " + from.name() + " to " +
                                                             to.name() + " is not allowed.");
    }
    return Cell::null();
}

Cell valueToCell(const Value& v, const SqlType& to) {
    using K = Value::Kind;
    switch (v.kind()) {
        case K::Empty:
        case K::Null: return Cell::null();
        case K::Boolean: return convertCell(Cell::integer(v.asBoolean() ? 1 : 0), SqlType::of(BaseType::Bit), to, ConversionMode::Implicit);
        case K::Integer:
        case K::Long:
        case K::BigInt:
        case K::Byte: return convertCell(Cell::integer(v.asInteger()), SqlType::of(BaseType::BigInt), to, ConversionMode::Implicit);
        case K::Single:
        case K::Double: return convertCell(Cell::real(v.asDouble()), SqlType::of(BaseType::Float), to, ConversionMode::Implicit);
        case K::Currency:
            return convertCell(Cell::integer(v.asCurrency().tenThousandths), SqlType::of(BaseType::Money), to,
                               ConversionMode::Implicit);
        case K::Decimal: {
            const Decimal& d = v.asDecimal();
            if (d.mantissa <= std::numeric_limits<std::int64_t>::max() && d.mantissa >= std::numeric_limits<std::int64_t>::min())
                return convertCell(Cell::integer(static_cast<std::int64_t>(d.mantissa)), SqlType::decimal(38, d.scale), to,
                                   ConversionMode::Implicit);
            return convertCell(Cell::text(d.toString()), SqlType::varchar(100), to, ConversionMode::Implicit);
        }
        case K::Date: return convertCell(Cell::integer(v.asDate().millis), SqlType::of(BaseType::DateTime), to, ConversionMode::Implicit);
        case K::String: return convertCell(Cell::text(v.asString()), SqlType::nvarchar(SqlType::kMax), to, ConversionMode::Implicit);
    }
    return Cell::null();
}

Value cellToValue(const Cell& c, const SqlType& type) {
    switch (c.kind) {
        case Cell::Kind::Null: return Value::null();
        case Cell::Kind::Integer: return storedToValue(type, c.i);
        case Cell::Kind::Real: return storedToValue(type, c.r);
        case Cell::Kind::Text:
        case Cell::Kind::Blob: return storedToValue(type, c.s);
    }
    return Value::null();
}

}  // namespace vopa::engine
