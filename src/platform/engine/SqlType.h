#pragma once
// SQL Server data types and how the engine stores each one in SQLite:
//
//   bit, tinyint, smallint, int, bigint     INTEGER
//   real, float                              REAL
//   money, smallmoney                        INTEGER, ten-thousandths (exact)
//   decimal(p,s), numeric(p,s)               INTEGER, value * 10^s (exact while |value * 10^s| < 2^63)
//   datetime, smalldatetime, date            INTEGER, milliseconds from 1899-12-30 00:00
//   char, varchar, nchar, nvarchar, text, ntext, uniqueidentifier    TEXT (char/nchar padded to length)
//   binary, varbinary, image                 BLOB

#include <cstdint>
#include <string>

#include "platform/value/Value.h"

namespace vopa::engine {

enum class BaseType {
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Real,
    Float,
    SmallMoney,
    Money,
    Decimal,
    Numeric,
    SmallDateTime,
    DateTime,
    Date,
    Char,
    VarChar,
    Text,
    NChar,
    NVarChar,
    NText,
    Binary,
    VarBinary,
    Image,
    UniqueIdentifier,
};

enum class Storage { Integer, Real, Scaled, DateMillis, Text, Blob };

struct SqlType {
    static constexpr int kMax = -2;  // varchar(max)

    BaseType base = BaseType::Int;
    int length = 0;     // characters (or bytes) of string and binary types; kMax for (max)
    int precision = 0;  // decimal/numeric
    int scale = 0;      // decimal/numeric; 4 for money

    static SqlType of(BaseType b);
    static SqlType decimal(int precision, int scale);
    static SqlType nvarchar(int length);
    static SqlType varchar(int length);

    // From a type as written in DDL ("nvarchar", 50, -1, -1). Throws EngineError 2715 for unknown types.
    static SqlType fromName(const std::string& name, int length, int precision, int scale);

    Storage storage() const;
    bool isInteger() const;     // bit .. bigint
    bool isExactNumeric() const;  // integers, money, decimal
    bool isNumeric() const;     // exact and approximate numbers
    bool isString() const;      // char .. ntext
    bool isUnicode() const;     // nchar, nvarchar, ntext
    bool isFixedLength() const;  // char, nchar, binary
    bool isDate() const;
    bool isLob() const;         // text, ntext, image
    // Scale of the stored integer: 4 for money, s for decimal, 0 otherwise.
    int storedScale() const;

    // "nvarchar(50)", "decimal(18,2)", "int" — as the server names the type.
    std::string toString() const;
    // Lower-case type name alone ("nvarchar").
    std::string name() const;
    // The server's precedence: the operand of higher precedence decides the type of an expression.
    int precedence() const;

    friend bool operator==(const SqlType&, const SqlType&) = default;
};

// Stored SQLite value <-> program value, for a column of type `type`.
Value storedToValue(const SqlType& type, std::int64_t integer);
Value storedToValue(const SqlType& type, double real);
Value storedToValue(const SqlType& type, const std::string& text);

}  // namespace vopa::engine
