// The translator's core: representations, conversions and the types operands meet in.

#include <cmath>
#include <cstdio>
#include <limits>

#include "Compiler.h"
#include "CompilerSupport.h"
#include "platform/engine/sql/Parser.h"

namespace vopa::engine::translate {

using namespace detail;
using sql::Expr;

bool sameRepresentation(const SqlType& from, const SqlType& to) {
    if (from.storage() != to.storage()) return false;
    switch (to.storage()) {
        case Storage::Integer:
            if (to.base == BaseType::Bit) return from.base == BaseType::Bit;
            return SqlType::of(from.base).precedence() <= SqlType::of(to.base).precedence() &&
                   from.base != BaseType::Bit;
        case Storage::Real: return to.base == BaseType::Float || from.base == BaseType::Real;
        case Storage::Scaled:
            if (from.scale != to.scale) return false;
            if (to.base == BaseType::Money) return true;
            if (to.base == BaseType::SmallMoney) return from.base == BaseType::SmallMoney;
            if (from.base == BaseType::Money || from.base == BaseType::SmallMoney)
                return to.precision >= (from.base == BaseType::Money ? 19 : 10);
            return from.precision <= to.precision;
        case Storage::DateMillis:
            // A smalldatetime fits a datetime; the other way round needs rounding.
            return from.base == to.base || (to.base == BaseType::DateTime && from.base == BaseType::SmallDateTime);
        case Storage::Text:
            if (to.base == BaseType::UniqueIdentifier || from.base == BaseType::UniqueIdentifier)
                return to.base == from.base;
            if (!to.isUnicode() && from.isUnicode()) return false;
            if (to.isFixedLength()) return from.isFixedLength() && from.length == to.length;
            if (to.isLob() || to.length == SqlType::kMax) return true;
            return !from.isLob() && from.length != SqlType::kMax && from.length <= to.length;
        case Storage::Blob: return to.isLob() || to.length == SqlType::kMax || (from.length <= to.length && !from.isLob());
    }
    return false;
}

std::string Compiler::literal(const Cell& c) {
    switch (c.kind) {
        case Cell::Kind::Null: return "NULL";
        // Negative numbers are parenthesised, so that no operator written before them can form "--".
        case Cell::Kind::Integer: return c.i < 0 ? "(" + std::to_string(c.i) + ")" : std::to_string(c.i);
        case Cell::Kind::Real: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", c.r);
            std::string s = buf;
            if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
            return c.r < 0 ? "(" + s + ")" : s;
        }
        case Cell::Kind::Text: return storage::quoteLiteral(c.s);
        case Cell::Kind::Blob: {
            std::string hex = "X'";
            static const char* digits = "0123456789ABCDEF";
            for (unsigned char b : c.s) {
                hex.push_back(digits[b >> 4]);
                hex.push_back(digits[b & 15]);
            }
            return hex + "'";
        }
    }
    return "NULL";
}

std::string Compiler::convert(const Compiled& c, const SqlType& to, ConversionMode mode, int style) {
    if (c.isNull) return "NULL";
    if (c.constant) return literal(convertCell(*c.constant, c.type, to, mode, style));
    if (style < 0 && sameRepresentation(c.type, to) && !(to.isFixedLength() && c.type.length != to.length))
        return c.sql;
    const Storage from = c.type.storage(), target = to.storage();
    // Cheap exact conversions in plain SQL.
    if (style < 0) {
        if (from == Storage::Integer && c.type.base != BaseType::Bit && target == Storage::Scaled && to.base == BaseType::Money)
            return scaledUpSql(c.sql, 4, to);
        if (from == Storage::Integer && target == Storage::Real) return "CAST(" + c.sql + " AS REAL)";
        if (from == Storage::Scaled && target == Storage::Real)
            return "(CAST(" + c.sql + " AS REAL) / 1e" + std::to_string(c.type.scale) + ")";
        if (from == Storage::Scaled && target == Storage::Scaled && to.scale > c.type.scale &&
            (to.base == BaseType::Money || to.precision - to.scale >= c.type.precision - c.type.scale))
            return scaledUpSql(c.sql, to.scale - c.type.scale, to);
        if (from == Storage::Integer && c.type.base != BaseType::Bit && target == Storage::Scaled &&
            to.precision - to.scale >= 19)
            return scaledUpSql(c.sql, to.scale, to);
        if (from == Storage::Text && target == Storage::Text && to.isLob()) return c.sql;
    }
    int k = ctx_.functions().addConversion({c.type, to, mode, style, false, false, {}, {}});
    return "vopa_conv(" + c.sql + ", " + std::to_string(k) + ")";
}

std::string Compiler::store(const Compiled& c, const storage::ColumnInfo& column, const TableHandle& table,
                            bool forUpdate) {
    if (std::optional<Cell> constant = storedConstant(c, column)) return constant->isNull() ? "NULL" : literal(*constant);
    const bool needsNullCheck = !column.nullable && (c.nullable || c.isNull);
    if (!needsNullCheck && sameRepresentation(c.type, column.type)) return c.sql;
    storage::FunctionContext::Conversion conv;
    conv.from = c.isNull ? column.type : c.type;
    conv.to = column.type;
    conv.mode = ConversionMode::Implicit;
    conv.notNull = !column.nullable;
    conv.forUpdate = forUpdate;
    conv.columnName = column.name;
    conv.tableName = table.displayName();
    int k = ctx_.functions().addConversion(std::move(conv));
    return "vopa_conv(" + (c.isNull ? std::string("NULL") : c.sql) + ", " + std::to_string(k) + ")";
}

std::optional<Cell> Compiler::storedConstant(const Compiled& c, const storage::ColumnInfo& column) {
    if (!column.nullable && (c.nullable || c.isNull)) return std::nullopt;
    if (c.isNull) return Cell::null();
    if (c.constant) return convertCell(*c.constant, c.type, column.type, ConversionMode::Implicit);
    return std::nullopt;
}

SqlType Compiler::commonType(const Compiled& a, const Compiled& b) {
    if (a.isNull) return b.type;
    if (b.isNull) return a.type;
    const SqlType& hi = a.type.precedence() >= b.type.precedence() ? a.type : b.type;
    const SqlType& lo = &hi == &a.type ? b.type : a.type;
    if (hi.storage() == Storage::Scaled && lo.storage() == Storage::Scaled && hi.base != BaseType::Money &&
        hi.base != BaseType::SmallMoney) {
        SqlType l = asDecimal(lo);
        int scale = std::max(hi.scale, l.scale);
        int whole = std::max(hi.precision - hi.scale, l.precision - l.scale);
        return SqlType::decimal(std::min(38, whole + scale), scale);
    }
    if (hi.storage() == Storage::Scaled && lo.isInteger() && hi.base != BaseType::Money &&
        hi.base != BaseType::SmallMoney) {
        SqlType l = asDecimal(lo);
        int whole = std::max(hi.precision - hi.scale, l.precision);
        return SqlType::decimal(std::min(38, whole + hi.scale), hi.scale);
    }
    if (hi.isString() && lo.isString()) {
        SqlType t = hi;
        t.length = SqlType::kMax;
        return t;
    }
    return hi;
}
}  // namespace vopa::engine::translate
