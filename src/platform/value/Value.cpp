#include "Value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace vopa {
namespace {

constexpr std::int64_t kMillisPerDay = 86'400'000;

Int128 pow10(int n) {
    Int128 r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

std::string int128ToString(Int128 v) {
    if (v == 0) return "0";
    bool negative = v < 0;
    std::string digits;
    while (v != 0) {
        int d = static_cast<int>(v % 10);
        digits.insert(digits.begin(), static_cast<char>('0' + (d < 0 ? -d : d)));
        v /= 10;
    }
    if (negative) digits.insert(digits.begin(), '-');
    return digits;
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// Days from 1970-01-01 to the zero date 1899-12-30; a constant, so that other files' constants may be
// computed from dates whatever the order in which they are initialised.
constexpr std::int64_t kZeroDateDays = daysFromCivil(1899, 12, 30);

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::string formatDouble(double v) {
    if (std::isnan(v)) return "NaN";
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    // Shortest text that reads back as the same number.
    char buf[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

}  // namespace

// ---- Decimal ---------------------------------------------------------------------------------------

bool Decimal::parse(std::string_view text, Decimal& out) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    Int128 mantissa = 0;
    int digits = 0, scale = 0;
    bool seenPoint = false, any = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else if (c >= '0' && c <= '9') {
            any = true;
            if (mantissa != 0 || c != '0') ++digits;
            if (digits > 38) return false;
            mantissa = mantissa * 10 + (c - '0');
            if (seenPoint) ++scale;
        } else {
            break;
        }
    }
    while (i < text.size() && text[i] == ' ') ++i;
    if (!any || i != text.size()) return false;
    out = {negative ? -mantissa : mantissa, scale};
    return true;
}

std::string Decimal::toString() const {
    std::string digits = int128ToString(mantissa < 0 ? -mantissa : mantissa);
    if (scale > 0) {
        if (static_cast<int>(digits.size()) <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
        digits.insert(digits.size() - scale, 1, '.');
    }
    return mantissa < 0 ? "-" + digits : digits;
}

double Decimal::toDouble() const { return std::strtod(toString().c_str(), nullptr); }

Decimal Decimal::rescaled(int newScale) const {
    if (newScale >= scale) {
        // Beyond 128 bits the value saturates (never wraps), so comparisons keep their sign and order.
        Int128 v = 0;
        if (newScale - scale > 38 || __builtin_mul_overflow(mantissa, pow10(newScale - scale), &v))
            v = mantissa < 0 ? std::numeric_limits<Int128>::min() : std::numeric_limits<Int128>::max();
        return {v, newScale};
    }
    if (scale - newScale > 38) return {0, newScale};  // below half a unit of the new scale
    Int128 divisor = pow10(scale - newScale);
    Int128 q = mantissa / divisor, r = mantissa % divisor;
    const Int128 ar = r < 0 ? -r : r;
    if (ar >= divisor - ar) q += mantissa < 0 ? -1 : 1;  // half away from zero, without doubling r
    return {q, newScale};
}

int Decimal::compare(const Decimal& other) const {
    int s = scale > other.scale ? scale : other.scale;
    Int128 a = rescaled(s).mantissa, b = other.rescaled(s).mantissa;
    return a < b ? -1 : a > b ? 1 : 0;
}

// ---- DateTime --------------------------------------------------------------------------------------

bool DateTime::isValidDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

DateTime DateTime::fromParts(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kZeroDateDays;
    return {days * kMillisPerDay + ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond};
}

bool DateTime::parse(std::string_view text, DateTime& out) {
    std::string s(text);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0, n = 0;
    auto validTime = [&] { return h >= 0 && h < 24 && mi >= 0 && mi < 60 && sec >= 0 && sec < 60; };
    auto finish = [&] {
        if (!isValidDate(y, mo, d) || !validTime()) return false;
        out = fromParts(y, mo, d, h, mi, sec, ms);
        return true;
    };
    auto timeAt = [&](std::size_t pos) {
        if (pos >= s.size()) return true;
        char frac[8] = {};
        int m = std::sscanf(s.c_str() + pos, " %d:%d%n", &h, &mi, &n);
        if (m < 2) return false;
        pos += static_cast<std::size_t>(n);
        if (pos < s.size() && s[pos] == ':') {
            if (std::sscanf(s.c_str() + pos, ":%d%n", &sec, &n) < 1) return false;
            pos += static_cast<std::size_t>(n);
            if (pos < s.size() && s[pos] == '.') {
                if (std::sscanf(s.c_str() + pos, ".%7[0-9]%n", frac, &n) < 1) return false;
                pos += static_cast<std::size_t>(n);
                std::string f = std::string(frac) + "000";
                ms = std::atoi(f.substr(0, 3).c_str());
            }
        }
        while (pos < s.size() && s[pos] == ' ') ++pos;
        return pos == s.size();
    };
    if (s.size() == 8 && s.find_first_not_of("0123456789") == std::string::npos) {
        y = std::atoi(s.substr(0, 4).c_str());
        mo = std::atoi(s.substr(4, 2).c_str());
        d = std::atoi(s.substr(6, 2).c_str());
        return finish();
    }
    if (std::sscanf(s.c_str(), " %4d-%2d-%2d%n", &y, &mo, &d, &n) == 3 ||
        std::sscanf(s.c_str(), " %4d.%2d.%2d%n", &y, &mo, &d, &n) == 3) {
        std::size_t pos = static_cast<std::size_t>(n);
        if (pos < s.size() && (s[pos] == 'T' || s[pos] == ' ')) ++pos;
        return timeAt(pos) && finish();
    }
    if (std::sscanf(s.c_str(), " %2d/%2d/%4d%n", &d, &mo, &y, &n) == 3) {
        return timeAt(static_cast<std::size_t>(n)) && finish();
    }
    return false;
}

int DateTime::year() const {
    int y, m, d;
    civilFromDays(floorDiv(millis, kMillisPerDay) + kZeroDateDays, y, m, d);
    return y;
}
int DateTime::month() const {
    int y, m, d;
    civilFromDays(floorDiv(millis, kMillisPerDay) + kZeroDateDays, y, m, d);
    return m;
}
int DateTime::day() const {
    int y, m, d;
    civilFromDays(floorDiv(millis, kMillisPerDay) + kZeroDateDays, y, m, d);
    return d;
}
int DateTime::hour() const { return static_cast<int>((millis - floorDiv(millis, kMillisPerDay) * kMillisPerDay) / 3'600'000); }
int DateTime::minute() const {
    return static_cast<int>((millis - floorDiv(millis, kMillisPerDay) * kMillisPerDay) / 60'000 % 60);
}
int DateTime::second() const {
    return static_cast<int>((millis - floorDiv(millis, kMillisPerDay) * kMillisPerDay) / 1000 % 60);
}
int DateTime::millisecond() const {
    return static_cast<int>((millis - floorDiv(millis, kMillisPerDay) * kMillisPerDay) % 1000);
}
DateTime DateTime::dateOnly() const { return {floorDiv(millis, kMillisPerDay) * kMillisPerDay}; }

std::string DateTime::toIsoString() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year(), month(), day(), hour(), minute(),
                  second(), millisecond());
    return buf;
}

// ---- Value -----------------------------------------------------------------------------------------

bool Value::isNumeric() const {
    switch (kind()) {
        case Kind::Integer:
        case Kind::Long:
        case Kind::BigInt:
        case Kind::Byte:
        case Kind::Single:
        case Kind::Double:
        case Kind::Currency:
        case Kind::Decimal:
            return true;
        default:
            return false;
    }
}

std::int64_t Value::asInteger() const {
    switch (kind()) {
        case Kind::Integer: return std::get<std::int16_t>(data_);
        case Kind::Long: return std::get<std::int32_t>(data_);
        case Kind::BigInt: return std::get<std::int64_t>(data_);
        case Kind::Byte: return std::get<std::uint8_t>(data_);
        case Kind::Boolean: return std::get<bool>(data_) ? -1 : 0;
        default: throw std::logic_error("Value::asInteger on a value of kind " + std::string(kindName(kind())));
    }
}

double Value::asDouble() const {
    switch (kind()) {
        case Kind::Single: return std::get<float>(data_);
        case Kind::Double: return std::get<double>(data_);
        case Kind::Currency: return static_cast<double>(asCurrency().tenThousandths) / 10000.0;
        case Kind::Decimal: return asDecimal().toDouble();
        default: return static_cast<double>(asInteger());
    }
}

std::string Value::toString() const {
    switch (kind()) {
        case Kind::Empty:
        case Kind::Null: return {};
        case Kind::Integer:
        case Kind::Long:
        case Kind::BigInt:
        case Kind::Byte: return std::to_string(asInteger());
        case Kind::Single: return formatDouble(static_cast<double>(std::get<float>(data_)));
        case Kind::Double: return formatDouble(std::get<double>(data_));
        case Kind::Currency: {
            // Money prints without trailing zeros of its four decimals, as the platform prints it.
            std::string s = Decimal{asCurrency().tenThousandths, 4}.toString();
            while (s.back() == '0') s.pop_back();
            if (s.back() == '.') s.pop_back();
            return s;
        }
        case Kind::Decimal: return asDecimal().toString();
        case Kind::Date: {
            DateTime d = asDate();
            std::string iso = d.toIsoString();
            if (d.millis == d.dateOnly().millis) return iso.substr(0, 10);
            return d.millisecond() == 0 ? iso.substr(0, 19) : iso;
        }
        case Kind::String: return asString();
        case Kind::Boolean: return asBoolean() ? "True" : "False";
    }
    return {};
}

double Value::toDouble() const {
    if (isNumeric() || kind() == Kind::Boolean) return asDouble();
    if (kind() == Kind::Date) return static_cast<double>(asDate().millis) / kMillisPerDay;
    if (kind() == Kind::String) {
        Decimal d;
        if (Decimal::parse(asString(), d)) return d.toDouble();
        char* end = nullptr;
        double v = std::strtod(asString().c_str(), &end);
        return end && *end == '\0' ? v : 0.0;
    }
    return 0.0;
}

bool Value::toDecimal(Decimal& out) const {
    switch (kind()) {
        case Kind::Integer:
        case Kind::Long:
        case Kind::BigInt:
        case Kind::Byte:
        case Kind::Boolean: out = Decimal::fromInt(asInteger()); return true;
        case Kind::Currency: out = {asCurrency().tenThousandths, 4}; return true;
        case Kind::Decimal: out = asDecimal(); return true;
        case Kind::Single:
        case Kind::Double: {
            double v = asDouble();
            if (!std::isfinite(v)) return false;
            return Decimal::parse(formatDouble(v), out) || [&] {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.10f", v);
                return Decimal::parse(buf, out);
            }();
        }
        case Kind::String: return Decimal::parse(asString(), out);
        default: return false;
    }
}

std::string_view kindName(Value::Kind kind) {
    switch (kind) {
        case Value::Kind::Empty: return "Empty";
        case Value::Kind::Null: return "Null";
        case Value::Kind::Integer: return "Integer";
        case Value::Kind::Long: return "Long";
        case Value::Kind::BigInt: return "BigInt";
        case Value::Kind::Byte: return "Byte";
        case Value::Kind::Single: return "Single";
        case Value::Kind::Double: return "Double";
        case Value::Kind::Currency: return "Currency";
        case Value::Kind::Decimal: return "Decimal";
        case Value::Kind::Date: return "Date";
        case Value::Kind::String: return "String";
        case Value::Kind::Boolean: return "Boolean";
    }
    return "?";
}

}  // namespace vopa
