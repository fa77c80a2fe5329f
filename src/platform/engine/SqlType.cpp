#include "SqlType.h"

#include <cmath>

#include "EngineError.h"
#include "platform/text/Text.h"

namespace vopa::engine {

SqlType SqlType::of(BaseType b) {
    SqlType t;
    t.base = b;
    switch (b) {
        case BaseType::Money:
        case BaseType::SmallMoney:
            t.precision = b == BaseType::Money ? 19 : 10;
            t.scale = 4;
            break;
        case BaseType::Decimal:
        case BaseType::Numeric: t.precision = 18; break;
        case BaseType::Char:
        case BaseType::VarChar:
        case BaseType::NChar:
        case BaseType::NVarChar:
        case BaseType::Binary:
        case BaseType::VarBinary: t.length = 1; break;
        case BaseType::Text:
        case BaseType::Image: t.length = 2147483647; break;
        case BaseType::NText: t.length = 1073741823; break;
        case BaseType::UniqueIdentifier: t.length = 36; break;
        default: break;
    }
    return t;
}

SqlType SqlType::decimal(int precision, int scale) {
    SqlType t = of(BaseType::Decimal);
    t.precision = precision;
    t.scale = scale;
    return t;
}

SqlType SqlType::nvarchar(int length) {
    SqlType t = of(BaseType::NVarChar);
    t.length = length;
    return t;
}

SqlType SqlType::varchar(int length) {
    SqlType t = of(BaseType::VarChar);
    t.length = length;
    return t;
}

SqlType SqlType::fromName(const std::string& rawName, int length, int precision, int scale) {
    const std::string name = text::toLower(rawName);
    struct Entry {
        const char* name;
        BaseType base;
    };
    static constexpr Entry kTypes[] = {
        {"bit", BaseType::Bit},
        {"tinyint", BaseType::TinyInt},
        {"smallint", BaseType::SmallInt},
        {"int", BaseType::Int},
        {"integer", BaseType::Int},
        {"bigint", BaseType::BigInt},
        {"real", BaseType::Real},
        {"float", BaseType::Float},
        {"smallmoney", BaseType::SmallMoney},
        {"money", BaseType::Money},
        {"decimal", BaseType::Decimal},
        {"dec", BaseType::Decimal},
        {"numeric", BaseType::Numeric},
        {"smalldatetime", BaseType::SmallDateTime},
        {"datetime", BaseType::DateTime},
        {"date", BaseType::Date},
        {"char", BaseType::Char},
        {"character", BaseType::Char},
        {"varchar", BaseType::VarChar},
        {"text", BaseType::Text},
        {"nchar", BaseType::NChar},
        {"nvarchar", BaseType::NVarChar},
        {"ntext", BaseType::NText},
        {"binary", BaseType::Binary},
        {"varbinary", BaseType::VarBinary},
        {"image", BaseType::Image},
        {"uniqueidentifier", BaseType::UniqueIdentifier},
        {"sysname", BaseType::NVarChar},
    };
    for (const Entry& e : kTypes) {
        if (name != e.name) continue;
        SqlType t = of(e.base);
        if (name == "sysname") {
            t.length = 128;
            return t;
        }
        if (name == "float" && length > 0) {
            // float(n): n <= 24 is real.
            if (length <= 24) t.base = BaseType::Real;
            return t;
        }
        if (t.base == BaseType::Decimal || t.base == BaseType::Numeric) {
            // decimal(p) arrives as a length, decimal(p,s) as precision and scale.
            int p = precision >= 0 ? precision : (length > 0 ? length : 18);
            int s = scale >= 0 ? scale : 0;
            if (p < 1 || p > 38)
                throw EngineError(err::PrecisionTooLarge, "Column or parameter #1: Specified column precision " +
                                                              std::to_string(p) +
                                                              " is greater than the maximum precision of 38.");
            if (s > p)
                throw EngineError(err::ScaleAbovePrecision,
                                  "Column or parameter #1: Specified column scale " + std::to_string(s) +
                                      " is greater than the specified precision of " + std::to_string(p) + ".");
            t.precision = p;
            t.scale = s;
            return t;
        }
        if (t.isString() || t.base == BaseType::Binary || t.base == BaseType::VarBinary) {
            if (t.isLob()) return t;
            if (length == kMax) {
                if (t.isFixedLength())
                    throw EngineError(err::InvalidTypeLength,
                                      "Line 1: The length max is invalid for the type '" + name + "'.");
                t.length = kMax;
            } else if (length > 0) {
                int limit = t.isUnicode() ? 4000 : 8000;
                if (length > limit)
                    throw EngineError(err::TypeSizeTooLarge, "The size (" + std::to_string(length) +
                                                                 ") given to the type '" + name +
                                                                 "' exceeds the maximum allowed for any data type (" +
                                                                 std::to_string(limit) + ").");
                t.length = length;
            } else if (length == 0) {
                throw EngineError(err::InvalidTypeLength,
                                  "Line 1: The length 0 is invalid for the type '" + name + "'.");
            }
            return t;
        }
        return t;
    }
    throw EngineError(err::UnknownType, "Column, parameter, or variable #1: Cannot find data type " + rawName + ".");
}

Storage SqlType::storage() const {
    switch (base) {
        case BaseType::Bit:
        case BaseType::TinyInt:
        case BaseType::SmallInt:
        case BaseType::Int:
        case BaseType::BigInt: return Storage::Integer;
        case BaseType::Real:
        case BaseType::Float: return Storage::Real;
        case BaseType::SmallMoney:
        case BaseType::Money:
        case BaseType::Decimal:
        case BaseType::Numeric: return Storage::Scaled;
        case BaseType::SmallDateTime:
        case BaseType::DateTime:
        case BaseType::Date: return Storage::DateMillis;
        case BaseType::Binary:
        case BaseType::VarBinary:
        case BaseType::Image: return Storage::Blob;
        default: return Storage::Text;
    }
}

bool SqlType::isInteger() const { return storage() == Storage::Integer; }
bool SqlType::isExactNumeric() const { return isInteger() || storage() == Storage::Scaled; }
bool SqlType::isNumeric() const { return isExactNumeric() || storage() == Storage::Real; }
bool SqlType::isString() const {
    switch (base) {
        case BaseType::Char:
        case BaseType::VarChar:
        case BaseType::Text:
        case BaseType::NChar:
        case BaseType::NVarChar:
        case BaseType::NText: return true;
        default: return false;
    }
}
bool SqlType::isUnicode() const {
    return base == BaseType::NChar || base == BaseType::NVarChar || base == BaseType::NText;
}
bool SqlType::isFixedLength() const {
    return base == BaseType::Char || base == BaseType::NChar || base == BaseType::Binary;
}
bool SqlType::isDate() const { return storage() == Storage::DateMillis; }
bool SqlType::isLob() const { return base == BaseType::Text || base == BaseType::NText || base == BaseType::Image; }
int SqlType::storedScale() const { return storage() == Storage::Scaled ? scale : 0; }

std::string SqlType::name() const {
    switch (base) {
        case BaseType::Bit: return "bit";
        case BaseType::TinyInt: return "tinyint";
        case BaseType::SmallInt: return "smallint";
        case BaseType::Int: return "int";
        case BaseType::BigInt: return "bigint";
        case BaseType::Real: return "real";
        case BaseType::Float: return "float";
        case BaseType::SmallMoney: return "smallmoney";
        case BaseType::Money: return "money";
        case BaseType::Decimal: return "decimal";
        case BaseType::Numeric: return "numeric";
        case BaseType::SmallDateTime: return "smalldatetime";
        case BaseType::DateTime: return "datetime";
        case BaseType::Date: return "date";
        case BaseType::Char: return "char";
        case BaseType::VarChar: return "varchar";
        case BaseType::Text: return "text";
        case BaseType::NChar: return "nchar";
        case BaseType::NVarChar: return "nvarchar";
        case BaseType::NText: return "ntext";
        case BaseType::Binary: return "binary";
        case BaseType::VarBinary: return "varbinary";
        case BaseType::Image: return "image";
        case BaseType::UniqueIdentifier: return "uniqueidentifier";
    }
    return "?";
}

std::string SqlType::toString() const {
    std::string n = name();
    if (base == BaseType::Decimal || base == BaseType::Numeric)
        return n + "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    if ((isString() || base == BaseType::Binary || base == BaseType::VarBinary) && !isLob())
        return n + "(" + (length == kMax ? std::string("max") : std::to_string(length)) + ")";
    return n;
}

int SqlType::precedence() const {
    // Higher wins, following the server's data type precedence list.
    switch (base) {
        case BaseType::DateTime: return 24;
        case BaseType::SmallDateTime: return 23;
        case BaseType::Date: return 22;
        case BaseType::Float: return 21;
        case BaseType::Real: return 20;
        case BaseType::Decimal:
        case BaseType::Numeric: return 19;
        case BaseType::Money: return 18;
        case BaseType::SmallMoney: return 17;
        case BaseType::BigInt: return 16;
        case BaseType::Int: return 15;
        case BaseType::SmallInt: return 14;
        case BaseType::TinyInt: return 13;
        case BaseType::Bit: return 12;
        case BaseType::NText: return 11;
        case BaseType::Text: return 10;
        case BaseType::Image: return 9;
        case BaseType::UniqueIdentifier: return 8;
        case BaseType::NVarChar: return 7;
        case BaseType::NChar: return 6;
        case BaseType::VarChar: return 5;
        case BaseType::Char: return 4;
        case BaseType::VarBinary: return 3;
        case BaseType::Binary: return 2;
    }
    return 0;
}

Value storedToValue(const SqlType& type, std::int64_t v) {
    switch (type.base) {
        case BaseType::Bit: return Value::boolean(v != 0);
        case BaseType::TinyInt: return Value::byte(static_cast<std::uint8_t>(v));
        case BaseType::SmallInt: return Value::integer(static_cast<std::int16_t>(v));
        case BaseType::Int: return Value::longInt(static_cast<std::int32_t>(v));
        case BaseType::BigInt: return Value::bigInt(v);
        case BaseType::Real: return Value::single(static_cast<float>(v));
        case BaseType::Float: return Value::dbl(static_cast<double>(v));
        case BaseType::SmallMoney:
        case BaseType::Money: return Value::currency(Currency{v});
        case BaseType::Decimal:
        case BaseType::Numeric: return Value::decimal(Decimal{v, type.scale});
        case BaseType::SmallDateTime:
        case BaseType::DateTime:
        case BaseType::Date: return Value::date(DateTime{v});
        default: return Value::string(std::to_string(v));
    }
}

Value storedToValue(const SqlType& type, double v) {
    switch (type.base) {
        case BaseType::Real: return Value::single(static_cast<float>(v));
        case BaseType::Float: return Value::dbl(v);
        default:
            if (type.storage() == Storage::Text) {
                Value d = Value::dbl(v);
                return Value::string(d.toString());
            }
            return storedToValue(type, static_cast<std::int64_t>(std::llround(v)));
    }
}

Value storedToValue(const SqlType& type, const std::string& text) {
    if (type.storage() == Storage::Text || type.storage() == Storage::Blob) return Value::string(text);
    // A number stored as text cannot come from the engine's own writes; show it as it is.
    return Value::string(text);
}

}  // namespace vopa::engine
