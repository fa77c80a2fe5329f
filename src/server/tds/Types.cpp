#include "server/tds/Types.h"

#include <cctype>
#include <cstring>
#include <string>

#include "platform/text/Text.h"
#include "server/tds/Protocol.h"

namespace vopa::tds {

namespace {

__extension__ typedef unsigned __int128 UInt128;

constexpr std::int64_t kMillisPerDay = 86400000;
constexpr std::int64_t kDaysFrom1899To1900 = 2;        // the Value's zero date is 1899-12-30
constexpr std::int64_t kDaysFromYear1To1899 = 693593;  // 0001-01-01 to 1899-12-30
constexpr std::uint32_t kTicksPerDay = 25920000;       // datetime counts 1/300 s
constexpr std::uint64_t kPlpNull = 0xFFFFFFFFFFFFFFFFull;
constexpr std::uint64_t kPlpUnknownLength = 0xFFFFFFFFFFFFFFFEull;

std::string hex(std::uint8_t v) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[v >> 4] + digits[v & 15];
}

[[noreturn]] void fail(const std::string& problem) { throw ProtocolError(problem); }

UInt128 pow10(int n) {
    UInt128 p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

// Bytes of a decimal's magnitude for its precision.
std::uint8_t decimalBytes(int precision) {
    if (precision <= 9) return 4;
    if (precision <= 19) return 8;
    if (precision <= 28) return 12;
    return 16;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

std::string guidText(ByteView b) {
    // The first three groups are little-endian numbers, the last two plain bytes.
    static const int order[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (int i : order) {
        if (i < 0) {
            s += '-';
            continue;
        }
        s += digits[b[static_cast<std::size_t>(i)] >> 4];
        s += digits[b[static_cast<std::size_t>(i)] & 15];
    }
    return s;
}

Bytes guidBytes(const std::string& text) {
    static const int order[] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string digits;
    for (char c : text)
        if (c != '-' && c != '{' && c != '}') digits += c;
    if (digits.size() != 32) fail("'" + text + "' is not a uniqueidentifier");
    Bytes out(16);
    for (std::size_t i = 0; i < 16; ++i) {
        unsigned v = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(digits[2 * i + k])));
            if (c >= '0' && c <= '9') v = v * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'A' && c <= 'F') v = v * 16 + static_cast<unsigned>(c - 'A' + 10);
            else fail("'" + text + "' is not a uniqueidentifier");
        }
        out[static_cast<std::size_t>(order[i])] = static_cast<std::uint8_t>(v);
    }
    return out;
}

std::uint64_t readUnsigned(ByteView b) {
    std::uint64_t v = 0;
    for (std::size_t i = b.size(); i-- > 0;) v = v << 8 | b[i];
    return v;
}

Value intValue(ByteView b) {
    switch (b.size()) {
    case 1: return Value::byte(b[0]);
    case 2: return Value::integer(static_cast<std::int16_t>(readUnsigned(b)));
    case 4: return Value::longInt(static_cast<std::int32_t>(readUnsigned(b)));
    default: return Value::bigInt(static_cast<std::int64_t>(readUnsigned(b)));
    }
}

Value floatValue(ByteView b) {
    if (b.size() == 4) {
        const auto bits = static_cast<std::uint32_t>(readUnsigned(b));
        float f;
        std::memcpy(&f, &bits, 4);
        return Value::single(f);
    }
    const std::uint64_t bits = readUnsigned(b);
    double d;
    std::memcpy(&d, &bits, 8);
    return Value::dbl(d);
}

Value moneyValue(ByteView b) {
    if (b.size() == 4) return Value::currency({static_cast<std::int32_t>(readUnsigned(b))});
    const auto high = static_cast<std::int32_t>(readUnsigned(b.first(4)));
    const auto low = static_cast<std::uint32_t>(readUnsigned(b.subspan(4)));
    return Value::currency({static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(high)) << 32 | low)});
}

Value dateTimeValue(ByteView b) {
    if (b.size() == 4) {
        const auto days = readUnsigned(b.first(2));
        const auto minutes = readUnsigned(b.subspan(2));
        if (minutes >= 1440) fail("smalldatetime with " + std::to_string(minutes) + " minutes in a day");
        return Value::date({(static_cast<std::int64_t>(days) + kDaysFrom1899To1900) * kMillisPerDay +
                            static_cast<std::int64_t>(minutes) * 60000});
    }
    const auto days = static_cast<std::int32_t>(readUnsigned(b.first(4)));
    const auto ticks = static_cast<std::uint32_t>(readUnsigned(b.subspan(4)));
    if (ticks >= kTicksPerDay) fail("datetime with " + std::to_string(ticks) + " ticks in a day");
    return Value::date({(days + kDaysFrom1899To1900) * kMillisPerDay + (std::int64_t{ticks} * 10 + 1) / 3});
}

Value decimalValue(ByteView b, const TypeInfo& t) {
    // A sign and 1 to 16 bytes of magnitude (see lengthAllowed).
    if (b.size() < 2 || b.size() > 17) fail("decimal value of " + std::to_string(b.size()) + " bytes");
    UInt128 magnitude = 0;
    for (std::size_t i = b.size(); i-- > 1;) magnitude = magnitude << 8 | b[i];
    if (magnitude >= pow10(38)) fail("decimal value above 38 digits");
    const auto m = static_cast<Int128>(magnitude);
    return Value::decimal({b[0] == 0 ? -m : m, t.scale});
}

// Time of day in units of 10^-scale seconds, as milliseconds.
std::int64_t timeMillis(ByteView b, int scale) {
    const std::uint64_t units = readUnsigned(b);
    const std::uint64_t perSecond = static_cast<std::uint64_t>(pow10(scale));
    if (units >= perSecond * 86400) fail("time beyond the end of the day");
    return static_cast<std::int64_t>(units * 1000 / perSecond);
}

std::size_t timeBytes(int scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

Value dateFamilyValue(ByteView b, const TypeInfo& t) {
    std::int64_t millis = 0;
    std::size_t dateAt = 0;
    if (t.type != TypeId::DateN) {
        const std::size_t n = timeBytes(t.scale);
        const std::size_t expected = t.type == TypeId::TimeN ? n : t.type == TypeId::DateTime2N ? n + 3 : n + 5;
        if (b.size() != expected) fail("time value of " + std::to_string(b.size()) + " bytes");
        millis = timeMillis(b.first(n), t.scale);
        dateAt = n;
        if (t.type == TypeId::TimeN) return Value::date({millis});
    } else if (b.size() != 3) {
        fail("date value of " + std::to_string(b.size()) + " bytes");
    }
    const auto days = static_cast<std::int64_t>(readUnsigned(b.subspan(dateAt, 3)));
    millis += (days - kDaysFromYear1To1899) * kMillisPerDay;
    if (t.type == TypeId::DateTimeOffsetN) {
        // Stored as UTC; the client's local time adds the offset.
        const auto offset = static_cast<std::int16_t>(readUnsigned(b.subspan(dateAt + 3, 2)));
        if (offset < -840 || offset > 840) fail("time zone offset of " + std::to_string(offset) + " minutes");
        millis += std::int64_t{offset} * 60000;
    }
    return Value::date({millis});
}

Value stringValue(ByteView b, const TypeInfo& t) {
    if (t.isUnicode()) {
        if (b.size() % 2) fail("UTF-16 text of an odd " + std::to_string(b.size()) + " bytes");
        return Value::string(utf16ToUtf8(b));
    }
    const std::string raw(b.begin(), b.end());
    if (t.isCharacter()) return Value::string(text::fromWindows1252(raw));
    return Value::string(raw);
}

// Interprets the bytes of a non-NULL value.
Value valueOf(ByteView b, const TypeInfo& t) {
    switch (t.type) {
    case TypeId::Int1: case TypeId::Int2: case TypeId::Int4: case TypeId::Int8: case TypeId::IntN:
        return intValue(b);
    case TypeId::Bit: case TypeId::BitN:
        return Value::boolean(b[0] != 0);
    case TypeId::Flt4: case TypeId::Flt8: case TypeId::FltN:
        return floatValue(b);
    case TypeId::Money: case TypeId::Money4: case TypeId::MoneyN:
        return moneyValue(b);
    case TypeId::DateTime: case TypeId::DateTime4: case TypeId::DateTimeN:
        return dateTimeValue(b);
    case TypeId::DecimalN: case TypeId::NumericN:
        return decimalValue(b, t);
    case TypeId::DateN: case TypeId::TimeN: case TypeId::DateTime2N: case TypeId::DateTimeOffsetN:
        return dateFamilyValue(b, t);
    case TypeId::Guid:
        return Value::string(guidText(b));
    case TypeId::Null:
        return Value::null();
    default:
        return stringValue(b, t);
    }
}

std::size_t fixedSize(TypeId type) {
    switch (type) {
    case TypeId::Null: return 0;
    case TypeId::Int1: case TypeId::Bit: return 1;
    case TypeId::Int2: return 2;
    case TypeId::Int4: case TypeId::DateTime4: case TypeId::Flt4: case TypeId::Money4: return 4;
    case TypeId::Money: case TypeId::DateTime: case TypeId::Flt8: case TypeId::Int8: return 8;
    default: return std::size_t(-1);
    }
}

bool isByteLength(TypeId type) {
    switch (type) {
    case TypeId::Guid: case TypeId::IntN: case TypeId::BitN: case TypeId::DecimalN: case TypeId::NumericN:
    case TypeId::FltN: case TypeId::MoneyN: case TypeId::DateTimeN: case TypeId::Char: case TypeId::VarChar:
    case TypeId::Binary: case TypeId::VarBinary:
        return true;
    default:
        return false;
    }
}

bool isUShortLength(TypeId type) {
    switch (type) {
    case TypeId::BigVarBinary: case TypeId::BigVarChar: case TypeId::BigBinary: case TypeId::BigChar:
    case TypeId::NVarChar: case TypeId::NChar:
        return true;
    default:
        return false;
    }
}

// The lengths a BYTELEN type allows (for the declared maximum and for each value).
bool lengthAllowed(TypeId type, std::size_t n) {
    switch (type) {
    case TypeId::IntN: return n == 1 || n == 2 || n == 4 || n == 8;
    case TypeId::BitN: return n == 1;
    case TypeId::FltN: case TypeId::MoneyN: case TypeId::DateTimeN: return n == 4 || n == 8;
    case TypeId::Guid: return n == 16;
    // The server sends 5, 9, 13 or 17 bytes; clients may send fewer: FreeTDS sends as many as the
    // precision needs (6 for a decimal(12,3)).
    case TypeId::DecimalN: case TypeId::NumericN: return n >= 2 && n <= 17;
    default: return true;
    }
}

Bytes readPlp(Reader& r, bool& isNull) {
    const std::uint64_t total = r.u64("PLP length");
    isNull = total == kPlpNull;
    Bytes out;
    if (isNull) return out;
    if (total != kPlpUnknownLength && total > r.remaining()) r.fail("PLP length " + std::to_string(total) + " beyond the message");
    for (;;) {
        const std::uint32_t chunk = r.u32("PLP chunk length");
        if (chunk == 0) break;
        const ByteView data = r.bytes(chunk, "PLP chunk");
        out.insert(out.end(), data.begin(), data.end());
    }
    if (total != kPlpUnknownLength && total != out.size())
        r.fail("PLP chunks hold " + std::to_string(out.size()) + " bytes, the length said " + std::to_string(total));
    return out;
}

// --- encoding ---

std::int64_t integerOf(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Integer: case Value::Kind::Long: case Value::Kind::BigInt: case Value::Kind::Byte:
        return v.asInteger();
    case Value::Kind::Boolean:
        return v.asBoolean() ? 1 : 0;
    default: {
        Decimal d;
        if (!v.toDecimal(d)) fail("value '" + v.toString() + "' is not a number");
        const Int128 m = d.rescaled(0).mantissa;
        if (m > INT64_MAX || m < INT64_MIN) fail("value '" + v.toString() + "' out of range");
        return static_cast<std::int64_t>(m);
    }
    }
}

Int128 scaledOf(const Value& v, int scale) {
    if (v.kind() == Value::Kind::Currency && scale == 4) return v.asCurrency().tenThousandths;
    Decimal d;
    if (!v.toDecimal(d)) fail("value '" + v.toString() + "' is not a number");
    return d.rescaled(scale).mantissa;
}

void putLittle(Writer& w, std::uint64_t v, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) w.u8(static_cast<std::uint8_t>(v >> (8 * i)));
}

void putInteger(Writer& w, const Value& v, std::size_t bytes) {
    const std::int64_t i = integerOf(v);
    const bool fits = bytes == 1 ? (i >= 0 && i <= 255) : bytes == 2 ? (i >= INT16_MIN && i <= INT16_MAX)
                    : bytes == 4 ? (i >= INT32_MIN && i <= INT32_MAX) : true;
    if (!fits) fail("value " + std::to_string(i) + " does not fit " + std::to_string(bytes) + " bytes");
    putLittle(w, static_cast<std::uint64_t>(i), bytes);
}

void putFloat(Writer& w, const Value& v, std::size_t bytes) {
    if (!v.isNumeric()) fail("value '" + v.toString() + "' is not a number");
    if (bytes == 4) {
        const float f = static_cast<float>(v.asDouble());
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        w.u32(bits);
    } else {
        const double d = v.asDouble();
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        w.u64(bits);
    }
}

void putMoney(Writer& w, const Value& v, std::size_t bytes) {
    const Int128 m = scaledOf(v, 4);
    if (bytes == 4) {
        if (m < INT32_MIN || m > INT32_MAX) fail("value '" + v.toString() + "' out of the range of smallmoney");
        w.u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(m)));
        return;
    }
    if (m < INT64_MIN || m > INT64_MAX) fail("value '" + v.toString() + "' out of the range of money");
    const auto u = static_cast<std::uint64_t>(static_cast<std::int64_t>(m));
    w.u32(static_cast<std::uint32_t>(u >> 32));
    w.u32(static_cast<std::uint32_t>(u));
}

DateTime dateOf(const Value& v) {
    if (v.kind() == Value::Kind::Date) return v.asDate();
    DateTime d;
    if (v.kind() == Value::Kind::String && DateTime::parse(v.asString(), d)) return d;
    fail("value '" + v.toString() + "' is not a date");
}

void putDateTime(Writer& w, const Value& v, std::size_t bytes) {
    const std::int64_t millis = dateOf(v).millis;
    std::int64_t day = floorDiv(millis, kMillisPerDay);
    const std::int64_t inDay = millis - day * kMillisPerDay;
    if (bytes == 4) {
        std::int64_t minutes = (inDay + 30000) / 60000;
        if (minutes == 1440) ++day, minutes = 0;
        const std::int64_t days = day - kDaysFrom1899To1900;
        if (days < 0 || days > 0xFFFF) fail("date " + dateOf(v).toIsoString() + " out of the range of smalldatetime");
        w.u16(static_cast<std::uint16_t>(days));
        w.u16(static_cast<std::uint16_t>(minutes));
        return;
    }
    std::int64_t ticks = (inDay * 3 + 5) / 10;
    if (ticks == kTicksPerDay) ++day, ticks = 0;
    const std::int64_t days = day - kDaysFrom1899To1900;
    if (days < -53690 || days > 2958463) fail("date " + dateOf(v).toIsoString() + " out of the range of datetime");
    w.u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(days)));
    w.u32(static_cast<std::uint32_t>(ticks));
}

// The bytes of a character or binary value, padded for the fixed-length types.
Bytes stringBytes(const TypeInfo& t, const Value& v) {
    Bytes b;
    if (t.isUnicode()) {
        appendUtf16(b, v.toString());
    } else if (t.isCharacter()) {
        const std::string s = text::toWindows1252(v.toString());
        b.assign(s.begin(), s.end());
    } else {
        if (v.kind() != Value::Kind::String) fail("value '" + v.toString() + "' is not binary data");
        b.assign(v.asString().begin(), v.asString().end());
    }
    if (!t.isPlp() && !t.isLob() && b.size() > t.maxLength)
        fail("value of " + std::to_string(b.size()) + " bytes longer than its column's " + std::to_string(t.maxLength));
    if (t.type == TypeId::BigChar || t.type == TypeId::NChar || t.type == TypeId::BigBinary) {
        while (b.size() < t.maxLength) {
            if (t.type == TypeId::BigBinary) b.push_back(0);
            else if (t.type == TypeId::BigChar) b.push_back(' ');
            else b.push_back(' '), b.push_back(0);
        }
    }
    return b;
}

void putDecimal(Writer& w, const TypeInfo& t, const Value& v) {
    const Int128 m = scaledOf(v, t.scale);
    const UInt128 magnitude = m < 0 ? static_cast<UInt128>(-m) : static_cast<UInt128>(m);
    if (magnitude >= pow10(t.precision))
        fail("value '" + v.toString() + "' does not fit decimal(" + std::to_string(t.precision) + "," +
             std::to_string(t.scale) + ")");
    const std::uint8_t n = decimalBytes(t.precision);
    w.u8(static_cast<std::uint8_t>(n + 1));
    w.u8(m < 0 ? 0 : 1);
    for (std::uint8_t i = 0; i < n; ++i) w.u8(static_cast<std::uint8_t>(magnitude >> (8 * i)));
}

}  // namespace

bool TypeInfo::isPlp() const {
    return (type == TypeId::BigVarChar || type == TypeId::NVarChar || type == TypeId::BigVarBinary) &&
           maxLength == kMaxLengthPlp;
}

bool TypeInfo::isCharacter() const {
    switch (type) {
    case TypeId::BigChar: case TypeId::BigVarChar: case TypeId::NChar: case TypeId::NVarChar:
    case TypeId::Text: case TypeId::NText: case TypeId::Char: case TypeId::VarChar:
        return true;
    default:
        return false;
    }
}

bool TypeInfo::isUnicode() const { return type == TypeId::NChar || type == TypeId::NVarChar || type == TypeId::NText; }
bool TypeInfo::isLob() const { return type == TypeId::Text || type == TypeId::NText || type == TypeId::Image; }

TypeInfo TypeInfo::intN(int bytes) { return {TypeId::IntN, static_cast<std::uint32_t>(bytes), 0, 0, {}}; }
TypeInfo TypeInfo::bit() { return {TypeId::BitN, 1, 0, 0, {}}; }
TypeInfo TypeInfo::floatN(int bytes) { return {TypeId::FltN, static_cast<std::uint32_t>(bytes), 0, 0, {}}; }
TypeInfo TypeInfo::money() { return {TypeId::MoneyN, 8, 0, 0, {}}; }
TypeInfo TypeInfo::smallMoney() { return {TypeId::MoneyN, 4, 0, 0, {}}; }
TypeInfo TypeInfo::decimal(int precision, int scale) {
    return {TypeId::DecimalN, static_cast<std::uint32_t>(decimalBytes(precision) + 1u),
            static_cast<std::uint8_t>(precision), static_cast<std::uint8_t>(scale), {}};
}
TypeInfo TypeInfo::dateTime() { return {TypeId::DateTimeN, 8, 0, 0, {}}; }
TypeInfo TypeInfo::smallDateTime() { return {TypeId::DateTimeN, 4, 0, 0, {}}; }
TypeInfo TypeInfo::date() { return {TypeId::DateN, 3, 0, 0, {}}; }
TypeInfo TypeInfo::varChar(int chars) {
    return {TypeId::BigVarChar, chars < 0 || chars > 8000 ? kMaxLengthPlp : static_cast<std::uint32_t>(chars), 0, 0, {}};
}
TypeInfo TypeInfo::nVarChar(int chars) {
    return {TypeId::NVarChar, chars < 0 || chars > 4000 ? kMaxLengthPlp : static_cast<std::uint32_t>(2 * chars), 0, 0, {}};
}
TypeInfo TypeInfo::fixedChar(int chars) { return {TypeId::BigChar, static_cast<std::uint32_t>(chars), 0, 0, {}}; }
TypeInfo TypeInfo::nChar(int chars) { return {TypeId::NChar, static_cast<std::uint32_t>(2 * chars), 0, 0, {}}; }
TypeInfo TypeInfo::varBinary(int bytes) {
    return {TypeId::BigVarBinary, bytes < 0 || bytes > 8000 ? kMaxLengthPlp : static_cast<std::uint32_t>(bytes), 0, 0, {}};
}
TypeInfo TypeInfo::binary(int bytes) { return {TypeId::BigBinary, static_cast<std::uint32_t>(bytes), 0, 0, {}}; }
TypeInfo TypeInfo::text() { return {TypeId::Text, 0x7FFFFFFF, 0, 0, {}}; }
TypeInfo TypeInfo::nText() { return {TypeId::NText, 0x7FFFFFFE, 0, 0, {}}; }
TypeInfo TypeInfo::image() { return {TypeId::Image, 0x7FFFFFFF, 0, 0, {}}; }
TypeInfo TypeInfo::guid() { return {TypeId::Guid, 16, 0, 0, {}}; }

TypeInfo readTypeInfo(Reader& r) {
    TypeInfo t;
    const std::uint8_t id = r.u8("type");
    t.type = static_cast<TypeId>(id);
    if (const std::size_t n = fixedSize(t.type); n != std::size_t(-1)) {
        t.maxLength = static_cast<std::uint32_t>(n);
        return t;
    }
    switch (t.type) {
    case TypeId::DateN:
        t.maxLength = 3;
        return t;
    case TypeId::TimeN: case TypeId::DateTime2N: case TypeId::DateTimeOffsetN:
        t.scale = r.u8("scale");
        if (t.scale > 7) r.fail("time scale " + std::to_string(t.scale) + " above 7");
        return t;
    case TypeId::Image: case TypeId::Text: case TypeId::NText:
        t.maxLength = r.u32("maximum length");
        break;
    default:
        if (isByteLength(t.type)) {
            t.maxLength = r.u8("maximum length");
            if (!lengthAllowed(t.type, t.maxLength))
                r.fail("type " + hex(id) + " with a maximum length of " + std::to_string(t.maxLength));
        } else if (isUShortLength(t.type)) {
            t.maxLength = r.u16("maximum length");
            if (t.maxLength == kMaxLengthPlp && (t.type == TypeId::BigChar || t.type == TypeId::NChar || t.type == TypeId::BigBinary))
                r.fail("type " + hex(id) + " cannot be (max)");
        } else {
            r.fail("type " + hex(id) + " is not supported");
        }
    }
    if (t.type == TypeId::DecimalN || t.type == TypeId::NumericN) {
        t.precision = r.u8("precision");
        t.scale = r.u8("scale");
        if (t.precision < 1 || t.precision > 38 || t.scale > t.precision)
            r.fail("decimal(" + std::to_string(t.precision) + "," + std::to_string(t.scale) + ")");
    }
    if (t.isCharacter() && t.type != TypeId::Char && t.type != TypeId::VarChar) {
        t.collation.info = r.u32("collation");
        t.collation.sortId = r.u8("collation sort id");
    }
    return t;
}

void writeTypeInfo(Writer& w, const TypeInfo& t) {
    w.u8(static_cast<std::uint8_t>(t.type));
    if (fixedSize(t.type) != std::size_t(-1) || t.type == TypeId::DateN) return;  // a date's length is implied
    if (t.isLob()) {
        w.u32(t.maxLength);
    } else if (isUShortLength(t.type)) {
        w.u16(static_cast<std::uint16_t>(t.maxLength));
    } else if (isByteLength(t.type)) {
        w.u8(static_cast<std::uint8_t>(t.maxLength));
    } else {
        fail("type " + hex(static_cast<std::uint8_t>(t.type)) + " is not written by this server");
    }
    if (t.type == TypeId::DecimalN || t.type == TypeId::NumericN) {
        w.u8(t.precision);
        w.u8(t.scale);
    }
    if (t.isCharacter() && t.type != TypeId::Char && t.type != TypeId::VarChar) {
        w.u32(t.collation.info);
        w.u8(t.collation.sortId);
    }
}

Value readValue(Reader& r, const TypeInfo& t) {
    if (const std::size_t n = fixedSize(t.type); n != std::size_t(-1))
        return n == 0 ? Value::null() : valueOf(r.bytes(n, "value"), t);
    if (t.isPlp()) {
        bool isNull = false;
        const Bytes b = readPlp(r, isNull);
        return isNull ? Value::null() : valueOf(b, t);
    }
    std::size_t length = 0;
    if (t.isLob()) {
        const std::uint32_t n = r.u32("value length");
        if (n == 0xFFFFFFFF) return Value::null();
        length = n;
    } else if (isUShortLength(t.type)) {
        const std::uint16_t n = r.u16("value length");
        if (n == 0xFFFF) return Value::null();
        length = n;
    } else {
        // A length of 0 is NULL for every type with a one-byte length (an empty string is sent as one space).
        length = r.u8("value length");
        if (length == 0) return Value::null();
        if (isByteLength(t.type) && !lengthAllowed(t.type, length))
            r.fail("value of " + std::to_string(length) + " bytes for type " + hex(static_cast<std::uint8_t>(t.type)));
    }
    if (length > t.maxLength && t.type != TypeId::TimeN && t.type != TypeId::DateTime2N &&
        t.type != TypeId::DateTimeOffsetN)
        r.fail("value of " + std::to_string(length) + " bytes above its declared " + std::to_string(t.maxLength));
    return valueOf(r.bytes(length, "value"), t);
}

void writeValue(Writer& w, const TypeInfo& t, const Value& v) {
    const bool null = isNullValue(v);
    const std::size_t fixed = fixedSize(t.type);
    if (fixed != std::size_t(-1) && null && t.type != TypeId::Null)
        fail("NULL for type " + hex(static_cast<std::uint8_t>(t.type)) + ", which has none");
    switch (t.type) {
    case TypeId::Null:
        return;
    case TypeId::Int1: case TypeId::Int2: case TypeId::Int4: case TypeId::Int8:
        return putInteger(w, v, fixed);
    case TypeId::Bit:
        return w.u8(integerOf(v) != 0);
    case TypeId::Flt4: case TypeId::Flt8:
        return putFloat(w, v, fixed);
    case TypeId::Money: case TypeId::Money4:
        return putMoney(w, v, fixed);
    case TypeId::DateTime: case TypeId::DateTime4:
        return putDateTime(w, v, fixed);
    case TypeId::IntN: case TypeId::BitN: case TypeId::FltN: case TypeId::MoneyN: case TypeId::DateTimeN:
    case TypeId::Guid: {
        if (null) return w.u8(0);
        const std::size_t n = t.maxLength;
        w.u8(static_cast<std::uint8_t>(n));
        if (t.type == TypeId::IntN) return putInteger(w, v, n);
        if (t.type == TypeId::BitN) return w.u8(integerOf(v) != 0);
        if (t.type == TypeId::FltN) return putFloat(w, v, n);
        if (t.type == TypeId::MoneyN) return putMoney(w, v, n);
        if (t.type == TypeId::DateTimeN) return putDateTime(w, v, n);
        return w.bytes(guidBytes(v.toString()));
    }
    case TypeId::DecimalN: case TypeId::NumericN:
        if (null) return w.u8(0);
        return putDecimal(w, t, v);
    case TypeId::DateN: {
        if (null) return w.u8(0);
        const std::int64_t days = floorDiv(dateOf(v).millis, kMillisPerDay) + kDaysFromYear1To1899;
        if (days < 0 || days > 3652058) fail("date " + dateOf(v).toIsoString() + " out of the range of date");
        w.u8(3);
        for (int i = 0; i < 3; ++i) w.u8(static_cast<std::uint8_t>(days >> (8 * i)));
        return;
    }
    case TypeId::BigVarBinary: case TypeId::BigVarChar: case TypeId::BigBinary: case TypeId::BigChar:
    case TypeId::NVarChar: case TypeId::NChar: {
        if (t.isPlp()) {
            if (null) return w.u64(kPlpNull);
            const Bytes b = stringBytes(t, v);
            w.u64(b.size());
            if (!b.empty()) {
                w.u32(static_cast<std::uint32_t>(b.size()));
                w.bytes(b);
            }
            return w.u32(0);
        }
        if (null) return w.u16(0xFFFF);
        const Bytes b = stringBytes(t, v);
        w.u16(static_cast<std::uint16_t>(b.size()));
        return w.bytes(b);
    }
    case TypeId::Text: case TypeId::NText: case TypeId::Image: {
        // A row carries a text pointer and a timestamp before the data; NULL has no pointer.
        if (null) return w.u8(0);
        const Bytes b = stringBytes(t, v);
        if (b.size() > 0x7FFFFFFF) fail("value too long for a text column");
        w.u8(16);
        w.bytes(Bytes(16, 0));
        w.bytes(Bytes(8, 0));
        w.u32(static_cast<std::uint32_t>(b.size()));
        return w.bytes(b);
    }
    default:
        fail("type " + hex(static_cast<std::uint8_t>(t.type)) + " is not written by this server");
    }
}

}  // namespace vopa::tds
