#include "Compiler.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/engine/sql/Parser.h"
#include "platform/text/Text.h"

namespace vopa::engine::translate {
namespace {

using sql::Expr;

std::int64_t pow10(int n) {
    std::int64_t r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

[[noreturn]] void notSupported(const std::string& what) {
    throw EngineError(err::NotSupported, "The embedded engine does not support " + what + ".");
}

std::string upper(const std::string& s) { return text::toUpper(s); }

bool isCharacter(const SqlType& t) { return t.isString() || t.base == BaseType::UniqueIdentifier; }

// Integer literal types as the server gives them.
SqlType integerLiteralType(std::int64_t v) {
    if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max())
        return SqlType::of(BaseType::Int);
    return SqlType::decimal(19, 0);
}

// Decimal type used when an integer meets a decimal.
SqlType asDecimal(const SqlType& t) {
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
constexpr int kMaxComputedScale = 6;

}  // namespace

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
        case Cell::Kind::Integer: return std::to_string(c.i);
        case Cell::Kind::Real: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", c.r);
            std::string s = buf;
            if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
            return s;
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
            return "(" + c.sql + " * 10000)";
        if (from == Storage::Integer && target == Storage::Real) return "CAST(" + c.sql + " AS REAL)";
        if (from == Storage::Scaled && target == Storage::Real)
            return "(CAST(" + c.sql + " AS REAL) / " + std::to_string(pow10(c.type.scale)) + ".0)";
        if (from == Storage::Scaled && target == Storage::Scaled && to.scale > c.type.scale &&
            (to.base == BaseType::Money || to.precision - to.scale >= c.type.precision - c.type.scale))
            return "(" + c.sql + " * " + std::to_string(pow10(to.scale - c.type.scale)) + ")";
        if (from == Storage::Integer && c.type.base != BaseType::Bit && target == Storage::Scaled &&
            to.precision - to.scale >= 19)
            return "(" + c.sql + " * " + std::to_string(pow10(to.scale)) + ")";
        if (from == Storage::Text && target == Storage::Text && to.isLob()) return c.sql;
    }
    int k = s_.functions.addConversion({c.type, to, mode, style, false, false, {}, {}});
    return "vopa_conv(" + c.sql + ", " + std::to_string(k) + ")";
}

std::string Compiler::store(const Compiled& c, const storage::ColumnInfo& column, const TableHandle& table,
                            bool forUpdate) {
    const bool needsNullCheck = !column.nullable && (c.nullable || c.isNull);
    if (!needsNullCheck) {
        if (c.isNull) return "NULL";
        if (c.constant) return literal(convertCell(*c.constant, c.type, column.type, ConversionMode::Implicit));
        if (sameRepresentation(c.type, column.type)) return c.sql;
    }
    storage::FunctionContext::Conversion conv;
    conv.from = c.isNull ? column.type : c.type;
    conv.to = column.type;
    conv.mode = ConversionMode::Implicit;
    conv.notNull = !column.nullable;
    conv.forUpdate = forUpdate;
    conv.columnName = column.name;
    conv.tableName = table.displayName();
    int k = s_.functions.addConversion(std::move(conv));
    return "vopa_conv(" + (c.isNull ? std::string("NULL") : c.sql) + ", " + std::to_string(k) + ")";
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

// ---- expressions ----------------------------------------------------------------------------------

Compiled Compiler::expr(const Expr& e, const Scope& scope) {
    switch (e.kind) {
        case Expr::Kind::Literal: return literalExpr(e);
        case Expr::Kind::Column: return column(e, scope);
        case Expr::Kind::Star: throw EngineError(err::SyntaxNear, "Incorrect syntax near '*'.");
        case Expr::Kind::Unary: return unary(e, scope);
        case Expr::Kind::Binary: return binary(e, scope);
        case Expr::Kind::Function: return function(e, scope);
        case Expr::Kind::Cast: return cast(e, scope);
        case Expr::Kind::Case: return caseExpr(e, scope);
        case Expr::Kind::Subquery: return subqueryValue(*e.subquery, scope);
        case Expr::Kind::Exists: {
            CompiledSelect sub = select(*e.subquery, &scope);
            Compiled r;
            r.sql = std::string(e.negated ? "(NOT " : "(") + "EXISTS (" + sub.sql + "))";
            r.type = SqlType::of(BaseType::Bit);
            r.nullable = false;
            return r;
        }
        case Expr::Kind::InList: return inList(e, scope);
        case Expr::Kind::InSubquery: {
            Compiled left = expr(*e.args[0], scope);
            CompiledSelect sub = select(*e.subquery, &scope);
            if (sub.columns.size() != 1)
                throw EngineError(116, "Only one expression can be specified in the select list when the subquery "
                                       "is not introduced with EXISTS.");
            Compiled inner;
            inner.sql = "\"x1\"";
            inner.type = sub.columns[0].type;
            SqlType t = commonType(left, inner);
            std::string subSql = sub.sql;
            if (!sameRepresentation(inner.type, t) || !sameRepresentation(t, inner.type))
                subSql = "SELECT " + convert(inner, t, ConversionMode::Explicit) + " FROM (" + sub.sql + ")";
            Compiled r;
            std::string lhs = convert(left, t, ConversionMode::Explicit);
            if (isCharacter(t)) lhs += " COLLATE VOPA_CI";
            r.sql = "(" + lhs + (e.negated ? " NOT IN (" : " IN (") + subSql + "))";
            r.type = SqlType::of(BaseType::Bit);
            return r;
        }
        case Expr::Kind::Between: {
            Compiled x = expr(*e.args[0], scope), lo = expr(*e.args[1], scope), hi = expr(*e.args[2], scope);
            Compiled a = comparison(">=", x, lo), b = comparison("<=", x, hi);
            Compiled r;
            r.sql = std::string(e.negated ? "(NOT (" : "((") + a.sql + " AND " + b.sql + "))";
            r.type = SqlType::of(BaseType::Bit);
            return r;
        }
        case Expr::Kind::Like: {
            Compiled x = expr(*e.args[0], scope), p = expr(*e.args[1], scope);
            SqlType text = SqlType::nvarchar(SqlType::kMax);
            std::string call = "vopa_like(" + convert(x, text, ConversionMode::Explicit) + ", " +
                               convert(p, text, ConversionMode::Explicit);
            if (e.args.size() > 2) call += ", " + convert(expr(*e.args[2], scope), text, ConversionMode::Explicit);
            Compiled r;
            r.sql = std::string(e.negated ? "(NOT " : "(") + call + "))";
            r.type = SqlType::of(BaseType::Bit);
            return r;
        }
        case Expr::Kind::IsNull: {
            Compiled x = expr(*e.args[0], scope);
            Compiled r;
            r.sql = "(" + (x.isNull ? std::string("NULL") : x.sql) + (e.negated ? " IS NOT NULL)" : " IS NULL)");
            r.type = SqlType::of(BaseType::Bit);
            r.nullable = false;
            return r;
        }
        case Expr::Kind::Variable: {
            const std::string name = upper(e.text);
            Compiled r;
            r.nullable = true;
            auto integerConstant = [&](std::optional<std::int64_t> v, BaseType t) {
                r.type = SqlType::of(t);
                if (v) {
                    r.constant = Cell::integer(*v);
                    r.sql = std::to_string(*v);
                } else {
                    r.isNull = true;
                    r.sql = "NULL";
                }
                return r;
            };
            if (name == "@@IDENTITY") {
                r = integerConstant(s_.lastInsertedIdentity(), BaseType::Decimal);
                r.type = SqlType::decimal(38, 0);
                return r;
            }
            if (name == "@@TRANCOUNT") return integerConstant(s_.transactionDepth, BaseType::Int);
            if (name == "@@ERROR") return integerConstant(0, BaseType::Int);
            if (name == "@@SERVERNAME" || name == "@@VERSION" || name == "@@SERVICENAME") {
                std::string v = name == "@@VERSION" ? "Microsoft SQL Server (embedded engine)" : s_.instance.instanceName;
                r.type = SqlType::nvarchar(128);
                r.constant = Cell::text(v);
                r.sql = literal(*r.constant);
                return r;
            }
            notSupported("variables (" + e.text + ")");
        }
    }
    notSupported("this expression");
}

Compiled Compiler::literalExpr(const Expr& e) {
    Compiled r;
    r.nullable = false;
    switch (e.literalKind) {
        case Expr::LiteralKind::Null:
            r.isNull = true;
            r.nullable = true;
            r.sql = "NULL";
            r.type = SqlType::of(BaseType::Int);
            return r;
        case Expr::LiteralKind::Integer: {
            Decimal d;
            if (Decimal::parse(e.text, d) && d.mantissa <= std::numeric_limits<std::int64_t>::max()) {
                auto v = static_cast<std::int64_t>(d.mantissa);
                r.type = integerLiteralType(v);
                r.constant = Cell::integer(v);
            } else {
                r.type = SqlType::of(BaseType::Float);
                r.constant = Cell::real(std::strtod(e.text.c_str(), nullptr));
            }
            break;
        }
        case Expr::LiteralKind::Decimal:
        case Expr::LiteralKind::Money: {
            Decimal d;
            if (!Decimal::parse(e.text, d)) throw EngineError(err::SyntaxNear, "Incorrect syntax near '" + e.text + "'.");
            if (e.literalKind == Expr::LiteralKind::Money) {
                Decimal m = d.rescaled(4);
                r.type = SqlType::of(BaseType::Money);
                r.constant = Cell::integer(static_cast<std::int64_t>(m.mantissa));
                break;
            }
            int digits = static_cast<int>(Decimal{d.mantissa < 0 ? -d.mantissa : d.mantissa, 0}.toString().size());
            int precision = std::max(digits, d.scale);
            if (d.mantissa > std::numeric_limits<std::int64_t>::max()) {
                r.type = SqlType::of(BaseType::Float);
                r.constant = Cell::real(d.toDouble());
                break;
            }
            r.type = SqlType::decimal(std::max(1, precision), d.scale);
            r.constant = Cell::integer(static_cast<std::int64_t>(d.mantissa));
            break;
        }
        case Expr::LiteralKind::Float:
            r.type = SqlType::of(BaseType::Float);
            r.constant = Cell::real(std::strtod(e.text.c_str(), nullptr));
            break;
        case Expr::LiteralKind::String:
        case Expr::LiteralKind::NString: {
            int chars = static_cast<int>(text::lengthInChars(e.text));
            r.type = e.literalKind == Expr::LiteralKind::NString ? SqlType::nvarchar(std::max(1, std::min(chars, 4000)))
                                                                 : SqlType::varchar(std::max(1, std::min(chars, 8000)));
            if (chars > 8000) r.type.length = SqlType::kMax;
            r.constant = Cell::text(e.text);
            break;
        }
        case Expr::LiteralKind::Binary: {
            std::string bytes;
            for (std::size_t i = 0; i + 1 < e.text.size(); i += 2)
                bytes.push_back(static_cast<char>(std::stoi(e.text.substr(i, 2), nullptr, 16)));
            r.type = SqlType::fromName("varbinary", std::max<int>(1, static_cast<int>(bytes.size())), -1, -1);
            r.constant = Cell::blob(bytes);
            break;
        }
    }
    r.sql = literal(*r.constant);
    return r;
}

Compiled Compiler::column(const Expr& e, const Scope& scope) {
    const std::vector<std::string>& parts = e.name.parts;
    const std::string& columnName = parts.back();
    const std::size_t qualifierSize = parts.size() - 1;
    for (const Scope* sc = &scope; sc; sc = sc->outer) {
        const ScopeTable* found = nullptr;
        const storage::ColumnInfo* foundColumn = nullptr;
        int foundDerived = -1;
        for (const ScopeTable& t : sc->tables) {
            if (qualifierSize >= 1) {
                if (!text::equalsNoCase(parts[qualifierSize - 1], t.alias)) continue;
                // [db].[schema].[table].[column]: the database must match too.
                if (qualifierSize >= 3 && !parts[qualifierSize - 3].empty() &&
                    !text::equalsNoCase(parts[qualifierSize - 3], t.database))
                    continue;
                if (qualifierSize >= 3 && t.database.empty()) continue;
            }
            const storage::ColumnInfo* c = nullptr;
            int derived = -1;
            if (t.base && t.base->table->type != storage::TableInfo::Type::View) {
                c = t.base->table->findColumn(columnName);
            } else {
                for (std::size_t i = 0; i < t.columns.size(); ++i)
                    if (text::equalsNoCase(t.columns[i].name, columnName)) {
                        derived = static_cast<int>(i);
                        break;
                    }
            }
            if (!c && derived < 0) continue;
            if (found) throw EngineError(err::AmbiguousColumn, "Ambiguous column name '" + columnName + "'.");
            found = &t;
            foundColumn = c;
            foundDerived = derived;
        }
        if (!found) continue;
        Compiled r;
        if (foundColumn) {
            r.sql = storage::quoteIdentifier(found->sqlAlias) + "." + foundColumn->storageName();
            r.type = foundColumn->type;
            r.nullable = foundColumn->nullable;
            r.baseColumnId = foundColumn->id;
        } else {
            const ResultColumn& rc = found->columns[static_cast<std::size_t>(foundDerived)];
            r.sql = storage::quoteIdentifier(found->sqlAlias) + ".\"x" + std::to_string(foundDerived + 1) + "\"";
            r.type = rc.type;
            r.nullable = rc.nullable;
        }
        return r;
    }
    if (qualifierSize >= 1) {
        // A qualifier that names no table of the statement.
        bool tableKnown = false;
        for (const Scope* sc = &scope; sc && !tableKnown; sc = sc->outer)
            for (const ScopeTable& t : sc->tables) tableKnown = tableKnown || text::equalsNoCase(parts[qualifierSize - 1], t.alias);
        if (!tableKnown)
            throw EngineError(4104, "The multi-part identifier \"" + e.name.text() + "\" could not be bound.");
    }
    throw EngineError(err::InvalidColumn, "Invalid column name '" + columnName + "'.");
}

Compiled Compiler::unary(const Expr& e, const Scope& scope) {
    Compiled x = expr(*e.args[0], scope);
    const std::string op = upper(e.op);
    Compiled r = x;
    r.constant.reset();
    r.baseColumnId = 0;
    if (op == "NOT") {
        r.sql = "(NOT " + x.sql + ")";
        r.type = SqlType::of(BaseType::Bit);
        return r;
    }
    if (op == "+") return x;
    if (x.type.isString()) {
        x.sql = convert(x, SqlType::of(BaseType::Float), ConversionMode::Implicit);
        x.type = SqlType::of(BaseType::Float);
        x.constant.reset();
    }
    if (op == "-") {
        if (x.constant && x.constant->kind == Cell::Kind::Integer) {
            r.constant = Cell::integer(-x.constant->i);
            r.sql = literal(*r.constant);
        } else if (x.constant && x.constant->kind == Cell::Kind::Real) {
            r.constant = Cell::real(-x.constant->r);
            r.sql = literal(*r.constant);
        } else {
            r.sql = "(-" + x.sql + ")";
        }
        r.type = x.type;
        return r;
    }
    if (op == "~") {
        r.sql = "(~" + x.sql + ")";
        return r;
    }
    notSupported("the operator " + e.op);
}

Compiled Compiler::binary(const Expr& e, const Scope& scope) {
    const std::string op = upper(e.op);
    if (op == "AND" || op == "OR") {
        Compiled a = expr(*e.args[0], scope), b = expr(*e.args[1], scope);
        Compiled r;
        r.sql = "(" + a.sql + " " + op + " " + b.sql + ")";
        r.type = SqlType::of(BaseType::Bit);
        return r;
    }
    Compiled a = expr(*e.args[0], scope), b = expr(*e.args[1], scope);
    if (op == "=" || op == "<>" || op == "!=" || op == "<" || op == "<=" || op == ">" || op == ">=" || op == "!<" ||
        op == "!>")
        return comparison(op, a, b);
    return arithmetic(op, std::move(a), std::move(b));
}

Compiled Compiler::comparison(const std::string& rawOp, const Compiled& a, const Compiled& b) {
    std::string op = rawOp == "!=" ? "<>" : rawOp == "!<" ? ">=" : rawOp == "!>" ? "<=" : rawOp;
    SqlType t = commonType(a, b);
    std::string lhs = convert(a, t, ConversionMode::Explicit);
    std::string rhs = convert(b, t, ConversionMode::Explicit);
    Compiled r;
    r.sql = "(" + lhs + " " + op + " " + rhs + (isCharacter(t) ? " COLLATE VOPA_CI)" : ")");
    r.type = SqlType::of(BaseType::Bit);
    return r;
}

Compiled Compiler::arithmetic(const std::string& op, Compiled a, Compiled b) {
    Compiled r;
    r.nullable = a.nullable || b.nullable;
    if (a.isNull || b.isNull) {
        r.isNull = true;
        r.sql = "NULL";
        r.type = a.isNull ? b.type : a.type;
        return r;
    }
    // Text + text concatenates.
    if (op == "+" && a.type.isString() && b.type.isString()) {
        r.type = a.type.isUnicode() || b.type.isUnicode() ? SqlType::nvarchar(SqlType::kMax) : SqlType::varchar(SqlType::kMax);
        if (a.type.length > 0 && b.type.length > 0 && !a.type.isLob() && !b.type.isLob()) {
            int limit = r.type.isUnicode() ? 4000 : 8000;
            int sum = a.type.length + b.type.length;
            if (sum <= limit) r.type.length = sum;
        }
        if (a.constant && b.constant) {
            r.constant = Cell::text(a.constant->s + b.constant->s);
            r.sql = literal(*r.constant);
        } else {
            r.sql = "(" + a.sql + " || " + b.sql + ")";
        }
        return r;
    }
    // A text operand takes the type of the other one.
    if (a.type.isString()) {
        SqlType t = b.type.isDate() ? SqlType::of(BaseType::DateTime) : b.type;
        a.sql = convert(a, t, ConversionMode::Implicit);
        if (a.constant) a.constant = convertCell(*a.constant, a.type, t, ConversionMode::Implicit);
        a.type = t;
    }
    if (b.type.isString()) {
        SqlType t = a.type.isDate() ? SqlType::of(BaseType::Float) : a.type;
        b.sql = convert(b, t, ConversionMode::Implicit);
        if (b.constant) b.constant = convertCell(*b.constant, b.type, t, ConversionMode::Implicit);
        b.type = t;
    }
    // Dates move by days.
    if (a.type.isDate() || b.type.isDate()) {
        if (op != "+" && op != "-") throw EngineError(8117, "Operand data type datetime is invalid for " + op + " operator.");
        if (a.type.isDate() && b.type.isDate()) notSupported("subtracting one date from another");
        Compiled& d = a.type.isDate() ? a : b;
        Compiled& n = a.type.isDate() ? b : a;
        std::string days = convert(n, SqlType::of(BaseType::Float), ConversionMode::Implicit);
        r.type = SqlType::of(BaseType::DateTime);
        r.sql = "(" + d.sql + " " + op + " CAST(round(" + days + " * 86400000.0) AS INTEGER))";
        return r;
    }
    if (op == "&" || op == "|" || op == "^") {
        r.type = a.type.precedence() >= b.type.precedence() ? a.type : b.type;
        r.sql = "(" + a.sql + " " + op + " " + b.sql + ")";
        return r;
    }
    const bool real = a.type.storage() == Storage::Real || b.type.storage() == Storage::Real;
    const bool scaled = a.type.storage() == Storage::Scaled || b.type.storage() == Storage::Scaled;
    if (real) {
        r.type = SqlType::of(BaseType::Float);
        std::string x = convert(a, r.type, ConversionMode::Implicit), y = convert(b, r.type, ConversionMode::Implicit);
        if (op == "/" || op == "%") y = "vopa_nz(" + y + ")";
        r.sql = "(" + x + " " + op + " " + y + ")";
        return r;
    }
    if (!scaled) {
        // Integer arithmetic; division truncates towards zero as on the server.
        r.type = a.type.precedence() >= b.type.precedence() ? a.type : b.type;
        if (r.type.precedence() < SqlType::of(BaseType::Int).precedence()) r.type = SqlType::of(BaseType::Int);
        if (a.constant && b.constant && a.constant->kind == Cell::Kind::Integer && b.constant->kind == Cell::Kind::Integer) {
            std::int64_t x = a.constant->i, y = b.constant->i, v = 0;
            if ((op == "/" || op == "%") && y == 0) throw EngineError(err::DivideByZero, "Divide by zero error encountered.");
            if (op == "+") v = x + y;
            else if (op == "-") v = x - y;
            else if (op == "*") v = x * y;
            else if (op == "/") v = x / y;
            else if (op == "%") v = x % y;
            else notSupported("the operator " + op);
            r.constant = Cell::integer(v);
            r.sql = literal(*r.constant);
            r.nullable = false;
            return r;
        }
        std::string y = (op == "/" || op == "%") ? "vopa_nz(" + b.sql + ")" : b.sql;
        r.sql = "(" + a.sql + " " + op + " " + y + ")";
        return r;
    }
    // Exact decimal arithmetic over scaled integers.
    const bool money = (a.type.base == BaseType::Money || a.type.base == BaseType::SmallMoney || a.type.isInteger()) &&
                       (b.type.base == BaseType::Money || b.type.base == BaseType::SmallMoney || b.type.isInteger());
    SqlType da = asDecimal(a.type), db = asDecimal(b.type);
    if (money) {
        r.type = SqlType::of(BaseType::Money);
    } else if (op == "+" || op == "-") {
        int s = std::max(da.scale, db.scale);
        int p = std::max(da.precision - da.scale, db.precision - db.scale) + s + 1;
        r.type = SqlType::decimal(std::min(38, p), s);
    } else if (op == "*") {
        int s = std::min(kMaxComputedScale, da.scale + db.scale);
        r.type = SqlType::decimal(std::min(38, da.precision + db.precision + 1), s);
    } else if (op == "/") {
        int s = std::min(kMaxComputedScale, std::max(6, da.scale + db.precision + 1));
        r.type = SqlType::decimal(std::min(38, da.precision - da.scale + db.scale + s), s);
    } else {
        r.type = SqlType::decimal(std::max(da.precision, db.precision), std::max(da.scale, db.scale));
    }
    const int s = r.type.scale;
    auto scaledTo = [&](const Compiled& c, int scale) -> std::string {
        SqlType t = c.type.isInteger() ? SqlType::decimal(19, 0) : c.type;
        int from = t.storage() == Storage::Scaled ? t.scale : 0;
        if (from == scale) return c.sql;
        if (from < scale) return "(" + c.sql + " * " + std::to_string(pow10(scale - from)) + ")";
        return "vopa_round_scaled(" + c.sql + ", " + std::to_string(from) + ", " + std::to_string(scale) + ") / " +
               std::to_string(pow10(from - scale));
    };
    const int sa = a.type.storage() == Storage::Scaled ? a.type.scale : 0;
    const int sb = b.type.storage() == Storage::Scaled ? b.type.scale : 0;
    if (op == "+" || op == "-") {
        r.sql = "(" + scaledTo(a, s) + " " + op + " " + scaledTo(b, s) + ")";
    } else if (op == "*") {
        if (sa + sb == s)
            r.sql = "(" + a.sql + " * " + b.sql + ")";
        else
            r.sql = "CAST(round(CAST(" + a.sql + " AS REAL) * " + b.sql + " / " + std::to_string(pow10(sa + sb)) +
                    ".0 * " + std::to_string(pow10(s)) + ") AS INTEGER)";
    } else if (op == "/") {
        r.sql = "CAST(round((CAST(" + a.sql + " AS REAL) / " + std::to_string(pow10(sa)) + ".0) / (CAST(vopa_nz(" +
                b.sql + ") AS REAL) / " + std::to_string(pow10(sb)) + ".0) * " + std::to_string(pow10(s)) +
                ") AS INTEGER)";
    } else if (op == "%") {
        r.sql = "(" + scaledTo(a, s) + " % vopa_nz(" + scaledTo(b, s) + "))";
    } else {
        notSupported("the operator " + op);
    }
    return r;
}

Compiled Compiler::cast(const Expr& e, const Scope& scope) {
    Compiled x = expr(*e.args[0], scope);
    SqlType to = SqlType::fromName(e.type.name, e.type.length, e.type.precision, e.type.scale);
    if (e.type.length == sql::TypeName::kNotGiven && (to.isString() || to.base == BaseType::VarBinary ||
                                                      to.base == BaseType::Binary) && !to.isLob())
        to.length = 30;  // CAST(x AS varchar) means varchar(30)
    int style = -1;
    if (e.args.size() > 1) {
        Compiled st = expr(*e.args[1], scope);
        if (!st.constant || st.constant->kind != Cell::Kind::Integer) notSupported("a CONVERT style that is not a number");
        style = static_cast<int>(st.constant->i);
    }
    Compiled r;
    r.type = to;
    r.nullable = x.nullable;
    if (x.isNull) {
        r.isNull = true;
        r.sql = "NULL";
        return r;
    }
    if (x.constant) {
        r.constant = convertCell(*x.constant, x.type, to, ConversionMode::Explicit, style);
        r.sql = literal(*r.constant);
        return r;
    }
    // A date converted with a style is formatted; other styles matter only for dates and text.
    int effectiveStyle = (x.type.isDate() && to.isString()) || (x.type.isString() && to.isDate()) ? style : -1;
    r.sql = convert(x, to, ConversionMode::Explicit, effectiveStyle);
    if (r.sql == x.sql && !sameRepresentation(x.type, to)) {
        int k = s_.functions.addConversion({x.type, to, ConversionMode::Explicit, effectiveStyle, false, false, {}, {}});
        r.sql = "vopa_conv(" + x.sql + ", " + std::to_string(k) + ")";
    }
    return r;
}

Compiled Compiler::caseExpr(const Expr& e, const Scope& scope) {
    std::optional<Compiled> operand;
    if (e.caseOperand) operand = expr(*e.caseOperand, scope);
    std::vector<std::pair<std::string, Compiled>> branches;
    std::optional<Compiled> otherwise;
    SqlType resultType;
    bool haveType = false;
    auto widen = [&](const Compiled& c) {
        if (c.isNull) return;
        if (!haveType || c.type.precedence() > resultType.precedence()) {
            resultType = c.type;
            haveType = true;
        } else if (c.type.isString() && resultType.isString() && c.type.length != resultType.length) {
            resultType.length = SqlType::kMax;
        }
    };
    for (const auto& [when, then] : e.whens) {
        std::string condition;
        if (operand) {
            condition = comparison("=", *operand, expr(*when, scope)).sql;
        } else {
            condition = expr(*when, scope).sql;
        }
        Compiled value = expr(*then, scope);
        widen(value);
        branches.emplace_back(condition, std::move(value));
    }
    if (e.elseExpr) {
        otherwise = expr(*e.elseExpr, scope);
        widen(*otherwise);
    }
    if (!haveType) resultType = SqlType::of(BaseType::Int);
    Compiled r;
    r.type = resultType;
    r.sql = "(CASE";
    for (auto& [condition, value] : branches)
        r.sql += " WHEN " + condition + " THEN " + convert(value, resultType, ConversionMode::Implicit);
    if (otherwise) r.sql += " ELSE " + convert(*otherwise, resultType, ConversionMode::Implicit);
    r.sql += " END)";
    return r;
}

Compiled Compiler::inList(const Expr& e, const Scope& scope) {
    Compiled x = expr(*e.args[0], scope);
    std::vector<Compiled> items;
    SqlType t = x.type;
    for (std::size_t i = 1; i < e.args.size(); ++i) {
        items.push_back(expr(*e.args[i], scope));
        t = commonType(Compiled{std::string(), t, false, true, std::nullopt, 0, false}, items.back());
    }
    std::string lhs = convert(x, t, ConversionMode::Explicit);
    if (isCharacter(t)) lhs += " COLLATE VOPA_CI";
    std::string list;
    for (const Compiled& c : items) {
        if (!list.empty()) list += ", ";
        list += convert(c, t, ConversionMode::Explicit);
    }
    Compiled r;
    r.sql = "(" + lhs + (e.negated ? " NOT IN (" : " IN (") + list + "))";
    r.type = SqlType::of(BaseType::Bit);
    return r;
}

Compiled Compiler::subqueryValue(const sql::SelectStmt& s, const Scope& scope) {
    CompiledSelect sub = select(s, &scope);
    if (sub.columns.size() != 1)
        throw EngineError(116, "Only one expression can be specified in the select list when the subquery is not "
                               "introduced with EXISTS.");
    Compiled r;
    r.sql = "(SELECT \"x1\" FROM (" + sub.sql + ") LIMIT 1)";
    r.type = sub.columns[0].type;
    return r;
}

Compiled Compiler::function(const Expr& e, const Scope& scope) {
    const std::string name = upper(e.name.last());
    auto arg = [&](std::size_t i) { return expr(*e.args.at(i), scope); };
    auto requireArgs = [&](std::size_t lo, std::size_t hi) {
        if (e.args.size() < lo || e.args.size() > hi)
            throw EngineError(174, "The " + e.name.last() + " function requires " + std::to_string(lo) +
                                       " argument(s).");
    };
    Compiled r;
    auto typed = [&](std::string sqlText, SqlType t, bool aggregate = false) {
        r.sql = std::move(sqlText);
        r.type = t;
        r.aggregate = aggregate;
        return r;
    };
    const SqlType textType = SqlType::nvarchar(SqlType::kMax);
    auto asText = [&](const Compiled& c) { return convert(c, textType, ConversionMode::Implicit); };

    if (name == "COUNT" || name == "COUNT_BIG") {
        SqlType t = SqlType::of(name == "COUNT" ? BaseType::Int : BaseType::BigInt);
        if (e.starArgument || e.args.empty()) return typed("count(*)", t, true);
        Compiled x = arg(0);
        return typed(std::string("count(") + (e.distinct ? "DISTINCT " : "") + x.sql + ")", t, true);
    }
    if (name == "SUM" || name == "AVG" || name == "MAX" || name == "MIN") {
        requireArgs(1, 1);
        Compiled x = arg(0);
        std::string inner = (e.distinct ? "DISTINCT " : "") + x.sql;
        SqlType t = x.type;
        if (name == "MAX" || name == "MIN") {
            std::string collate = isCharacter(t) ? " COLLATE VOPA_CI" : "";
            return typed(text::toLower(name) + "(" + inner + collate + ")", t, true);
        }
        if (t.isString() || t.isDate())
            throw EngineError(8117, "Operand data type " + t.name() + " is invalid for " + text::toLower(name) +
                                        " operator.");
        if (t.isInteger() && t.base != BaseType::BigInt) t = SqlType::of(BaseType::Int);
        if (t.storage() == Storage::Scaled && t.base != BaseType::Money && t.base != BaseType::SmallMoney)
            t = SqlType::decimal(38, t.scale);
        if (t.base == BaseType::SmallMoney) t = SqlType::of(BaseType::Money);
        if (t.base == BaseType::Real) t = SqlType::of(BaseType::Float);
        if (name == "SUM") return typed("sum(" + inner + ")", t, true);
        if (t.storage() == Storage::Real) return typed("avg(" + inner + ")", t, true);
        if (t.isInteger()) return typed("CAST(avg(" + inner + ") AS INTEGER)", t, true);
        return typed("CAST(round(avg(" + inner + ")) AS INTEGER)", t, true);
    }
    if (name == "ISNULL") {
        requireArgs(2, 2);
        Compiled a = arg(0), b = arg(1);
        SqlType t = a.isNull ? b.type : a.type;
        r.nullable = b.nullable;
        return typed("ifnull(" + convert(a, t, ConversionMode::Implicit) + ", " +
                         convert(b, t, ConversionMode::Explicit) + ")",
                     t);
    }
    if (name == "COALESCE") {
        if (e.args.empty()) throw EngineError(174, "The coalesce function requires 2 argument(s).");
        std::vector<Compiled> xs;
        Compiled acc;
        acc.isNull = true;
        for (std::size_t i = 0; i < e.args.size(); ++i) {
            xs.push_back(arg(i));
            acc.type = commonType(acc, xs.back());
            acc.isNull = acc.isNull && xs.back().isNull;
        }
        std::string s = "coalesce(";
        for (std::size_t i = 0; i < xs.size(); ++i) s += (i ? ", " : "") + convert(xs[i], acc.type, ConversionMode::Implicit);
        if (xs.size() == 1) s += ", NULL";
        return typed(s + ")", acc.type);
    }
    if (name == "NULLIF") {
        requireArgs(2, 2);
        Compiled a = arg(0), b = arg(1);
        return typed("nullif(" + a.sql + ", " + convert(b, a.type, ConversionMode::Implicit) + ")", a.type);
    }
    if (name == "YEAR" || name == "MONTH" || name == "DAY") {
        requireArgs(1, 1);
        int part = storage::datePartCode(name);
        return typed("vopa_datepart(" + std::to_string(part) + ", " +
                         convert(arg(0), SqlType::of(BaseType::DateTime), ConversionMode::Implicit) + ")",
                     SqlType::of(BaseType::Int));
    }
    if (name == "DATEPART" || name == "DATEADD" || name == "DATEDIFF" || name == "DATENAME") {
        if (e.args.empty() || e.args[0]->kind != Expr::Kind::Column)
            throw EngineError(155, "'" + e.name.last() + "' is not a recognized option.");
        int part = storage::datePartCode(e.args[0]->name.last());
        if (part < 0)
            throw EngineError(155, "'" + e.args[0]->name.last() + "' is not a recognized " + text::toLower(name) +
                                       " option.");
        const SqlType dt = SqlType::of(BaseType::DateTime);
        if (name == "DATEPART" || name == "DATENAME") {
            requireArgs(2, 2);
            return typed("vopa_datepart(" + std::to_string(part) + ", " + convert(arg(1), dt, ConversionMode::Implicit) + ")",
                         SqlType::of(BaseType::Int));
        }
        requireArgs(3, 3);
        if (name == "DATEADD") {
            Compiled d = arg(2);
            SqlType t = d.type.isDate() ? d.type : dt;
            return typed("vopa_dateadd(" + std::to_string(part) + ", " +
                             convert(arg(1), SqlType::of(BaseType::BigInt), ConversionMode::Implicit) + ", " +
                             convert(d, t, ConversionMode::Implicit) + ")",
                         t);
        }
        return typed("vopa_datediff(" + std::to_string(part) + ", " + convert(arg(1), dt, ConversionMode::Implicit) +
                         ", " + convert(arg(2), dt, ConversionMode::Implicit) + ")",
                     SqlType::of(BaseType::Int));
    }
    if (name == "GETDATE" || name == "CURRENT_TIMESTAMP" || name == "GETUTCDATE" || name == "SYSDATETIME") {
        return typed("vopa_getdate()", SqlType::of(BaseType::DateTime));
    }
    if (name == "LEN") {
        requireArgs(1, 1);
        return typed("length(rtrim(" + asText(arg(0)) + ", ' '))", SqlType::of(BaseType::Int));
    }
    if (name == "DATALENGTH") {
        requireArgs(1, 1);
        Compiled x = arg(0);
        std::string f = x.type.isUnicode() ? "(length(CAST(" + x.sql + " AS BLOB)) * 0 + length(" + x.sql + ") * 2)"
                                           : "length(CAST(" + x.sql + " AS BLOB))";
        return typed(f, SqlType::of(BaseType::Int));
    }
    if (name == "UPPER" || name == "LOWER") {
        requireArgs(1, 1);
        Compiled x = arg(0);
        SqlType t = x.type.isString() ? x.type : SqlType::varchar(30);
        return typed(std::string(name == "UPPER" ? "vopa_upper(" : "vopa_lower(") + convert(x, t, ConversionMode::Implicit) + ")", t);
    }
    if (name == "LTRIM" || name == "RTRIM") {
        requireArgs(1, 1);
        Compiled x = arg(0);
        SqlType t = x.type.isString() ? x.type : SqlType::varchar(30);
        if (t.isFixedLength()) t.base = t.isUnicode() ? BaseType::NVarChar : BaseType::VarChar;
        return typed(text::toLower(name) + "(" + convert(x, x.type.isString() ? x.type : t, ConversionMode::Implicit) + ", ' ')", t);
    }
    if (name == "SUBSTRING" || name == "LEFT" || name == "RIGHT") {
        requireArgs(name == "SUBSTRING" ? 3 : 2, name == "SUBSTRING" ? 3 : 2);
        Compiled x = arg(0);
        SqlType t = x.type.isString() ? x.type : SqlType::varchar(30);
        if (t.isFixedLength()) t.base = t.isUnicode() ? BaseType::NVarChar : BaseType::VarChar;
        std::string s = convert(x, t, ConversionMode::Implicit);
        const SqlType bigint = SqlType::of(BaseType::BigInt);
        if (name == "LEFT") return typed("substr(" + s + ", 1, " + convert(arg(1), bigint, ConversionMode::Implicit) + ")", t);
        if (name == "RIGHT") return typed("vopa_right(" + s + ", " + convert(arg(1), bigint, ConversionMode::Implicit) + ")", t);
        return typed("substr(" + s + ", " + convert(arg(1), bigint, ConversionMode::Implicit) + ", " +
                         convert(arg(2), bigint, ConversionMode::Implicit) + ")",
                     t);
    }
    if (name == "REPLACE") {
        requireArgs(3, 3);
        return typed("vopa_replace(" + asText(arg(0)) + ", " + asText(arg(1)) + ", " + asText(arg(2)) + ")", textType);
    }
    if (name == "CHARINDEX") {
        requireArgs(2, 3);
        std::string s = "vopa_charindex(" + asText(arg(0)) + ", " + asText(arg(1));
        if (e.args.size() == 3) s += ", " + convert(arg(2), SqlType::of(BaseType::BigInt), ConversionMode::Implicit);
        return typed(s + ")", SqlType::of(BaseType::Int));
    }
    if (name == "ABS") {
        requireArgs(1, 1);
        Compiled x = arg(0);
        return typed("abs(" + x.sql + ")", x.type);
    }
    if (name == "ROUND") {
        requireArgs(2, 3);
        Compiled x = arg(0), n = arg(1);
        if (!n.constant || n.constant->kind != Cell::Kind::Integer) notSupported("ROUND with a length that is not a number");
        std::int64_t digits = n.constant->i;
        if (x.type.storage() == Storage::Real) return typed("round(" + x.sql + ", " + std::to_string(digits) + ")", x.type);
        int scale = x.type.storage() == Storage::Scaled ? x.type.scale : 0;
        return typed("vopa_round_scaled(" + x.sql + ", " + std::to_string(scale) + ", " + std::to_string(digits) + ")", x.type);
    }
    if (name == "NEWID") return typed("vopa_newid()", SqlType::of(BaseType::UniqueIdentifier));
    if (name == "DB_NAME") {
        r.constant = Cell::text(s_.currentDatabase);
        return typed(literal(*r.constant), SqlType::nvarchar(128));
    }
    if (name == "SCOPE_IDENTITY" || name == "IDENT_CURRENT") {
        std::optional<std::int64_t> last = s_.lastInsertedIdentity();
        bool known = last.has_value();
        std::int64_t value = last.value_or(0);
        if (name == "IDENT_CURRENT") {
            requireArgs(1, 1);
            Compiled t = arg(0);
            if (!t.constant || t.constant->kind != Cell::Kind::Text) notSupported("IDENT_CURRENT of a computed name");
            sql::QualifiedName qn;
            qn.parts.push_back(t.constant->s);
            TableHandle th = s_.table(qn, false);
            known = th.table && th.table->identityColumn();
            value = known ? s_.currentIdentity(th) : 0;
        }
        r.type = SqlType::decimal(38, 0);
        if (!known) return typed("NULL", r.type);
        r.constant = Cell::integer(value);
        return typed(std::to_string(value), r.type);
    }
    if (name == "OBJECT_ID") {
        requireArgs(1, 2);
        Compiled t = arg(0);
        if (!t.constant || t.constant->kind != Cell::Kind::Text) notSupported("OBJECT_ID of a computed name");
        // The name itself is T-SQL text: "[dbo].[partitadoppia]", "db.dbo.t".
        std::unique_ptr<sql::SelectStmt> probe;
        sql::QualifiedName qn;
        sql::ExprPtr parsed = sql::parseExpression(t.constant->s);
        if (parsed && parsed->kind == Expr::Kind::Column) qn = parsed->name;
        TableHandle th = qn.empty() ? TableHandle{} : s_.table(qn, false);
        r.type = SqlType::of(BaseType::Int);
        if (!th.table) {
            r.isNull = true;
            return typed("NULL", r.type);
        }
        r.constant = Cell::integer(th.table->objectId);
        return typed(std::to_string(th.table->objectId), r.type);
    }
    if (name == "COLUMNPROPERTY") {
        requireArgs(3, 3);
        Compiled id = arg(0), column = arg(1), property = arg(2);
        r.type = SqlType::of(BaseType::Int);
        if (!id.constant || !column.constant || !property.constant || id.constant->kind != Cell::Kind::Integer)
            return typed("NULL", r.type);
        DatabaseHandle current = s_.database("");
        const storage::TableInfo* t = current.catalog->findById(id.constant->i);
        const storage::ColumnInfo* c = t ? t->findColumn(column.constant->s) : nullptr;
        if (!c) return typed("NULL", r.type);
        const std::string p = upper(property.constant->s);
        int v = -1;
        if (p == "ISIDENTITY") v = c->identity;
        else if (p == "ALLOWSNULL") v = c->nullable;
        else if (p == "PRECISION") v = c->type.storage() == Storage::Scaled ? c->type.precision : c->type.length;
        else if (p == "SCALE") v = c->type.storage() == Storage::Scaled ? c->type.scale : 0;
        if (v < 0) return typed("NULL", r.type);
        r.constant = Cell::integer(v);
        return typed(std::to_string(v), r.type);
    }
    throw EngineError(err::UnknownFunction, "'" + e.name.last() + "' is not a recognized built-in function name.");
}

// ---- queries ---------------------------------------------------------------------------------------

ScopeTable Compiler::bindTable(const TableHandle& t, const std::string& alias) {
    ScopeTable st;
    st.alias = alias.empty() ? t.table->name : alias;
    st.database = t.db.name;
    st.sqlAlias = freshAlias();
    st.base = t;
    return st;
}

std::string Compiler::bindRef(const sql::TableRef& ref, Scope& scope) {
    switch (ref.kind) {
        case sql::TableRef::Kind::Table: {
            TableHandle t = s_.table(ref.table);
            ScopeTable st = bindTable(t, ref.alias);
            if (t.table->type == storage::TableInfo::Type::View) {
                std::unique_ptr<sql::SelectStmt> view = sql::parseSelect(t.table->viewText);
                // A view's names are those of its own database, whichever database the reader is in.
                const std::string readerDatabase = s_.currentDatabase;
                s_.currentDatabase = t.db.name;
                CompiledSelect inner;
                try {
                    inner = select(*view, nullptr);
                } catch (...) {
                    s_.currentDatabase = readerDatabase;
                    throw;
                }
                s_.currentDatabase = readerDatabase;
                st.columns = inner.columns;
                for (std::size_t i = 0; i < st.columns.size() && i < t.table->columns.size(); ++i)
                    st.columns[i].name = t.table->columns[i].name;
                std::string text = "(" + inner.sql + ") AS " + storage::quoteIdentifier(st.sqlAlias);
                scope.tables.push_back(std::move(st));
                return text;
            }
            std::string text = t.storageName() + " AS " + storage::quoteIdentifier(st.sqlAlias);
            scope.tables.push_back(std::move(st));
            return text;
        }
        case sql::TableRef::Kind::Derived: {
            CompiledSelect inner = select(*ref.derived, scope.outer);
            ScopeTable st;
            st.alias = ref.alias;
            st.sqlAlias = freshAlias();
            st.columns = inner.columns;
            std::string text = "(" + inner.sql + ") AS " + storage::quoteIdentifier(st.sqlAlias);
            scope.tables.push_back(std::move(st));
            return text;
        }
        case sql::TableRef::Kind::Join: {
            std::string left = bindRef(*ref.left, scope);
            std::string right = bindRef(*ref.right, scope);
            const char* join = "JOIN";
            switch (ref.joinType) {
                case sql::TableRef::JoinType::Inner: join = "JOIN"; break;
                case sql::TableRef::JoinType::Left: join = "LEFT JOIN"; break;
                case sql::TableRef::JoinType::Right: join = "RIGHT JOIN"; break;
                case sql::TableRef::JoinType::Full: join = "FULL JOIN"; break;
                case sql::TableRef::JoinType::Cross: join = "CROSS JOIN"; break;
            }
            std::string text = left + " " + join + " " + right;
            if (ref.on) text += " ON " + expr(*ref.on, scope).sql;
            return text;
        }
    }
    return {};
}

void Compiler::bindFrom(const std::vector<sql::TableRefPtr>& refs, Scope& scope, std::string& from) {
    for (std::size_t i = 0; i < refs.size(); ++i) {
        from += i ? ", " : " FROM ";
        from += bindRef(*refs[i], scope);
    }
}

CompiledSelect Compiler::select(const sql::SelectStmt& s, const Scope* outer, bool withRowId, bool intoAllowed) {
    if (!s.into.empty() && !intoAllowed) notSupported("SELECT ... INTO inside another statement");
    Scope scope;
    scope.outer = outer;
    std::string from;
    bindFrom(s.from, scope, from);

    CompiledSelect out;
    std::string items;
    bool aggregate = false;
    auto addItem = [&](const std::string& sqlText, ResultColumn column) {
        if (!items.empty()) items += ", ";
        items += sqlText + " AS \"x" + std::to_string(out.columns.size() + 1) + "\"";
        out.columns.push_back(std::move(column));
    };
    for (const sql::SelectItem& item : s.items) {
        if (item.expr->kind == Expr::Kind::Star) {
            const std::vector<std::string>& q = item.expr->name.parts;
            bool any = false;
            for (const ScopeTable& t : scope.tables) {
                if (!q.empty() && !text::equalsNoCase(q.back(), t.alias)) continue;
                any = true;
                if (t.base && t.base->table->type != storage::TableInfo::Type::View) {
                    for (const storage::ColumnInfo& c : t.base->table->columns)
                        addItem(storage::quoteIdentifier(t.sqlAlias) + "." + c.storageName(),
                                {c.name, c.type, c.nullable, c.id});
                } else {
                    for (std::size_t i = 0; i < t.columns.size(); ++i) {
                        ResultColumn rc = t.columns[i];
                        rc.baseColumnId = 0;
                        addItem(storage::quoteIdentifier(t.sqlAlias) + ".\"x" + std::to_string(i + 1) + "\"", rc);
                    }
                }
            }
            if (!any) {
                if (q.empty()) throw EngineError(263, "Must specify table to select from.");
                throw EngineError(4104, "The multi-part identifier \"" + item.expr->name.text() + "\" could not be bound.");
            }
            continue;
        }
        Compiled c = expr(*item.expr, scope);
        aggregate = aggregate || c.aggregate;
        std::string name = item.alias;
        if (name.empty() && item.expr->kind == Expr::Kind::Column) name = item.expr->name.last();
        addItem(c.isNull ? "NULL" : c.sql, {name, c.type, c.nullable || c.isNull, c.baseColumnId});
    }
    const bool single = s.from.size() == 1 && s.from[0]->kind == sql::TableRef::Kind::Table &&
                        scope.tables.size() == 1 && scope.tables[0].base &&
                        scope.tables[0].base->table->type != storage::TableInfo::Type::View && !aggregate &&
                        s.groupBy.empty() && !s.distinct && !s.unionNext && !s.having;
    if (single) {
        out.singleBase = scope.tables[0].base;
        out.plain = !s.where && s.orderBy.empty() && !s.top;
        if (withRowId) items += ", " + storage::quoteIdentifier(scope.tables[0].sqlAlias) + ".rowid AS \"__rowid\"";
    }
    std::string text = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "") + items + from;
    if (s.where) text += " WHERE " + expr(*s.where, scope).sql;
    if (!s.groupBy.empty()) {
        text += " GROUP BY ";
        for (std::size_t i = 0; i < s.groupBy.size(); ++i) {
            Compiled g = expr(*s.groupBy[i], scope);
            text += (i ? ", " : "") + g.sql + (isCharacter(g.type) ? " COLLATE VOPA_CI" : "");
        }
    }
    if (s.having) text += " HAVING " + expr(*s.having, scope).sql;

    if (s.unionNext) {
        // Every branch of the UNION yields the first branch's columns, converted where they differ.
        std::string combined = text;
        for (const sql::SelectStmt* next = s.unionNext.get(), *prev = &s; next; prev = next, next = next->unionNext.get()) {
            CompiledSelect branch = select(*next, outer);
            if (branch.columns.size() != out.columns.size())
                throw EngineError(205, "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an "
                                       "equal number of expressions in their target lists.");
            std::string cols;
            for (std::size_t i = 0; i < branch.columns.size(); ++i) {
                Compiled c;
                c.sql = "\"x" + std::to_string(i + 1) + "\"";
                c.type = branch.columns[i].type;
                cols += (i ? ", " : "") + convert(c, out.columns[i].type, ConversionMode::Implicit) + " AS \"x" +
                        std::to_string(i + 1) + "\"";
            }
            combined += std::string(prev->unionAll ? " UNION ALL " : " UNION ") + "SELECT " + cols + " FROM (" +
                        branch.sql + ")";
        }
        text = "SELECT * FROM (" + combined + ")";
    }
    if (!s.orderBy.empty()) {
        text += " ORDER BY ";
        for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
            const sql::OrderItem& o = s.orderBy[i];
            std::string key;
            bool character = false;
            if (o.expr->kind == Expr::Kind::Literal && o.expr->literalKind == Expr::LiteralKind::Integer) {
                std::size_t n = std::stoul(o.expr->text);
                if (n < 1 || n > out.columns.size())
                    throw EngineError(108, "The ORDER BY position number " + o.expr->text +
                                               " is out of range of the number of items in the select list.");
                key = "\"x" + std::to_string(n) + "\"";
                character = isCharacter(out.columns[n - 1].type);
            } else {
                // A name of the select list first, then any expression over the FROM clause.
                int byAlias = -1;
                if (o.expr->kind == Expr::Kind::Column && o.expr->name.parts.size() == 1)
                    for (std::size_t k = 0; k < s.items.size() && k < out.columns.size(); ++k)
                        if (!s.items[k].alias.empty() && text::equalsNoCase(s.items[k].alias, o.expr->name.last()))
                            byAlias = static_cast<int>(k);
                if (byAlias >= 0 || s.unionNext) {
                    if (byAlias < 0)
                        for (std::size_t k = 0; k < out.columns.size(); ++k)
                            if (text::equalsNoCase(out.columns[k].name, o.expr->name.last())) byAlias = static_cast<int>(k);
                    if (byAlias < 0) notSupported("ORDER BY an expression of a UNION");
                    key = "\"x" + std::to_string(byAlias + 1) + "\"";
                    character = isCharacter(out.columns[static_cast<std::size_t>(byAlias)].type);
                } else {
                    Compiled c = expr(*o.expr, scope);
                    key = c.sql;
                    character = isCharacter(c.type);
                }
            }
            text += (i ? ", " : "") + key + (character ? " COLLATE VOPA_CI" : "") + (o.descending ? " DESC" : "");
        }
    }
    if (s.top) {
        if (s.topPercent) notSupported("TOP ... PERCENT");
        Compiled n = expr(*s.top, scope);
        if (!n.constant || n.constant->kind != Cell::Kind::Integer) notSupported("TOP with an expression");
        text += " LIMIT " + std::to_string(n.constant->i);
    }
    out.sql = text;
    return out;
}

}  // namespace vopa::engine::translate
