#pragma once
// Data types on the wire: TYPE_INFO (the type of a column or parameter) and the encoding of values.
// Values are the program's Value: the int family as Byte/Integer/Long/BigInt, bit as Boolean, real and
// float as Single/Double, money as Currency, decimal/numeric as Decimal, the date types as Date, character
// types as String (UTF-8), and binary types and uniqueidentifier as String too (the raw bytes, resp. the
// canonical "XXXXXXXX-XXXX-..." text); NULL as Value::null().

#include <cstdint>
#include <string>

#include "platform/value/Value.h"
#include "server/tds/Wire.h"

namespace vopa::tds {

enum class TypeId : std::uint8_t {
    // Fixed length, never NULL.
    Null = 0x1F,
    Int1 = 0x30,
    Bit = 0x32,
    Int2 = 0x34,
    Int4 = 0x38,
    DateTime4 = 0x3A,
    Flt4 = 0x3B,
    Money = 0x3C,
    DateTime = 0x3D,
    Flt8 = 0x3E,
    Money4 = 0x7A,
    Int8 = 0x7F,
    // Length in a byte.
    Guid = 0x24,
    IntN = 0x26,
    BitN = 0x68,
    DecimalN = 0x6A,
    NumericN = 0x6C,
    FltN = 0x6D,
    MoneyN = 0x6E,
    DateTimeN = 0x6F,
    DateN = 0x28,
    TimeN = 0x29,
    DateTime2N = 0x2A,
    DateTimeOffsetN = 0x2B,
    Char = 0x2F,       // older clients' char, varchar, binary and varbinary (up to 255 bytes)
    VarChar = 0x27,
    Binary = 0x2D,
    VarBinary = 0x25,
    // Length in a USHORT; a maximum of 0xFFFF means (max), sent as partially length-prefixed data.
    BigVarBinary = 0xA5,
    BigVarChar = 0xA7,
    BigBinary = 0xAD,
    BigChar = 0xAF,
    NVarChar = 0xE7,
    NChar = 0xEF,
    // Length in a LONG.
    Image = 0x22,
    Text = 0x23,
    NText = 0x63,
};

// A collation as TDS sends it: LCID and comparison flags in 32 bits, then the SQL sort id.
struct Collation {
    std::uint32_t info = 0x00D00409;  // en-US, case-, kana- and width-insensitive
    std::uint8_t sortId = 52;         // SQL_Latin1_General_CP1_CI_AS: code page 1252
    friend bool operator==(const Collation&, const Collation&) = default;
};

inline constexpr std::uint16_t kMaxLengthPlp = 0xFFFF;  // varchar(max), nvarchar(max), varbinary(max)

struct TypeInfo {
    TypeId type = TypeId::IntN;
    std::uint32_t maxLength = 0;  // bytes (UTF-16 strings: twice the characters)
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    Collation collation;  // character types only

    bool isPlp() const;
    bool isCharacter() const;  // carries a collation
    bool isUnicode() const;
    bool isLob() const;  // text, ntext, image (a table name follows in COLMETADATA)

    // The nullable forms the server uses for result columns.
    static TypeInfo intN(int bytes);  // 1 tinyint, 2 smallint, 4 int, 8 bigint
    static TypeInfo bit();
    static TypeInfo floatN(int bytes);  // 4 real, 8 float
    static TypeInfo money();
    static TypeInfo smallMoney();
    static TypeInfo decimal(int precision, int scale);
    static TypeInfo dateTime();
    static TypeInfo smallDateTime();
    static TypeInfo date();  // TDS 7.3 and later
    static TypeInfo varChar(int chars);  // chars 8001 or more (or -1): varchar(max)
    static TypeInfo nVarChar(int chars);
    static TypeInfo fixedChar(int chars);
    static TypeInfo nChar(int chars);
    static TypeInfo varBinary(int bytes);
    static TypeInfo binary(int bytes);
    static TypeInfo text();
    static TypeInfo nText();
    static TypeInfo image();
    static TypeInfo guid();
};

// TYPE_INFO as parameters carry it (no table name); unknown types and impossible lengths, precisions or
// scales throw ProtocolError.
TypeInfo readTypeInfo(Reader& r);
void writeTypeInfo(Writer& w, const TypeInfo& type);

// A value as an RPC parameter carries it (text, ntext and image without a text pointer).
Value readValue(Reader& r, const TypeInfo& type);
// A value as ROW and RETURNVALUE carry it. A value the type cannot hold (out of range, too long, NULL
// for a type that has no NULL) throws ProtocolError.
void writeValue(Writer& w, const TypeInfo& type, const Value& value);
// Whether NBCROW's bitmap may stand for this value.
inline bool isNullValue(const Value& v) { return v.isNull() || v.isEmpty(); }

}  // namespace vopa::tds
