// Expressions: literals, columns, operators, casts, CASE, IN and subqueries.

#include <cmath>
#include <cstdio>
#include <limits>

#include "Compiler.h"
#include "CompilerSupport.h"
#include "platform/engine/sql/Parser.h"

namespace vopa::engine::translate {

using namespace detail;
using sql::Expr;

namespace {

Compiled typedOnly(const SqlType& t) {
    Compiled c;
    c.type = t;
    return c;
}

}  // namespace

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
                throw EngineError(err::SubqueryTooManyColumns,
                                  "Only one expression can be specified in the select list when the subquery "
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
                r = integerConstant(ctx_.lastInsertedIdentity(), BaseType::Decimal);
                r.type = SqlType::decimal(38, 0);
                return r;
            }
            if (name == "@@TRANCOUNT") return integerConstant(ctx_.transactionDepth(), BaseType::Int);
            if (name == "@@ERROR") return integerConstant(0, BaseType::Int);
            if (name == "@@DATEFIRST") return integerConstant(ctx_.dateFirst(), BaseType::TinyInt);
            if (name == "@@LOCK_TIMEOUT") return integerConstant(ctx_.lockTimeout(), BaseType::Int);
            if (name == "@@LANGUAGE") {
                r.type = SqlType::nvarchar(128);
                r.constant = Cell::text(ctx_.language().name);
                r.sql = literal(*r.constant);
                return r;
            }
            if (name == "@@SERVERNAME" || name == "@@VERSION" || name == "@@SERVICENAME") {
                std::string v = name == "@@VERSION" ? "Microsoft SQL Server (embedded engine)" : ctx_.serverName();
                r.type = SqlType::nvarchar(128);
                r.constant = Cell::text(v);
                r.sql = literal(*r.constant);
                return r;
            }
            if (name.rfind("@@", 0) != 0) {
                const BatchVariable& v = ctx_.variable(e.text, e.offset);
                r.type = v.type;
                if (v.value.isNull()) {
                    r.sql = "NULL";
                } else {
                    r.constant = v.value;
                    r.sql = literal(v.value);
                    r.nullable = false;
                }
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
            if (!Decimal::parse(e.text, d) || d.scale > 38)
                throw EngineError(err::NumberOutOfRange,
                                  "The number '" + e.text +
                                      "' is out of the range for numeric representation (maximum precision 38).");
            if (e.literalKind == Expr::LiteralKind::Money) {
                // Four decimals, within the money range (8115 beyond it).
                r.type = SqlType::of(BaseType::Money);
                const checked::NumericRange range = checked::rangeOf(r.type);
                std::optional<Int128> m = d.scale <= 4 ? checked::scaleUp(d.mantissa, 4 - d.scale)
                                                       : std::optional<Int128>(d.rescaled(4).mantissa);
                if (!m) checked::overflow(range.typeName);
                r.constant = Cell::integer(checked::within(*m, range));
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
        r.tableAlias = found->alias;
        r.outerReference = sc != &scope;
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
            throw EngineError(err::UnboundIdentifier,
                              "The multi-part identifier \"" + e.name.text() + "\" could not be bound.");
    }
    throw EngineError(err::InvalidColumn, "Invalid column name '" + columnName + "'.");
}

Compiled Compiler::unary(const Expr& e, const Scope& scope) {
    const std::string op = upper(e.op);
    // The lowest value of the 64 bits exact numbers are kept in (money's -922337203685477.5808, bigint's
    // -9223372036854775808) is written as a minus before a number one beyond them: the two are read as one
    // negative literal, so that it stays exact instead of becoming a float that no longer fits.
    const Expr& operand = *e.args[0];
    if (op == "-" && operand.kind == Expr::Kind::Literal &&
        (operand.literalKind == Expr::LiteralKind::Integer || operand.literalKind == Expr::LiteralKind::Decimal)) {
        Decimal d;
        if (Decimal::parse(operand.text, d) && d.mantissa == -static_cast<Int128>(std::numeric_limits<std::int64_t>::min())) {
            Expr negative;
            negative.offset = operand.offset;
            negative.literalKind = operand.literalKind;
            negative.text = "-" + operand.text;
            return literalExpr(negative);
        }
    }
    Compiled x = expr(*e.args[0], scope);
    Compiled r = x;
    r.constant.reset();
    r.baseColumnId = 0;
    if (op == "NOT") {
        r.sql = "(NOT " + x.sql + ")";
        r.type = SqlType::of(BaseType::Bit);
        return r;
    }
    if (op == "+") return x;
    if (x.type.isString() || x.type.isDate() || x.type.storage() == Storage::Blob)
        throw EngineError(err::InvalidOperandType, "Operand data type " + x.type.name() + " is invalid for " +
                                                       (op == "-" ? std::string("minus") : op) + " operator.");
    if (op == "-") {
        const bool exact = x.type.storage() == Storage::Integer || x.type.storage() == Storage::Scaled;
        const SqlType negated = x.type.base == BaseType::Bit ? SqlType::of(BaseType::Int) : x.type;
        if (x.constant && x.constant->kind == Cell::Kind::Integer) {
            r.constant = Cell::integer(checked::negate(x.constant->i, checked::rangeOf(exact ? negated : SqlType::of(BaseType::BigInt))));
            r.sql = literal(*r.constant);
        } else if (x.constant && x.constant->kind == Cell::Kind::Real) {
            r.constant = Cell::real(-x.constant->r);
            r.sql = literal(*r.constant);
        } else if (exact) {
            r.sql = "vopa_neg(" + x.sql + ", " + rangeArgument(negated) + ")";
        } else {
            r.sql = "(- (" + x.sql + "))";
        }
        r.type = x.type;
        return r;
    }
    if (op == "~") {
        r.sql = "(~ (" + x.sql + "))";
        return r;
    }
    notSupported("the operator " + e.op);
}

Compiled Compiler::binary(const Expr& e, const Scope& scope) {
    const std::string op = upper(e.op);
    if (op == "AND" || op == "OR") {
        Compiled a = expr(*e.args[0], scope), b = expr(*e.args[1], scope);
        Compiled r;
        // AND and OR are associative: a chain of one of them is written flat, each operand in its own
        // parentheses, so that a hundred conditions do not nest a hundred levels deep.
        r.chainOp = op;
        auto operand = [&](const Compiled& c) {
            return c.chainOp == op && c.sql == "(" + c.chain + ")" ? c.chain : c.sql;
        };
        r.chain = operand(a) + " " + op + " " + operand(b);
        r.sql = "(" + r.chain + ")";
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
        if (op != "+" && op != "-")
            throw EngineError(err::InvalidOperandType,
                              "Operand data type datetime is invalid for " + op + " operator.");
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
        // SQLite has no exclusive or: the engine's own function computes it.
        r.sql = op == "^" ? "vopa_xor(" + a.sql + ", " + b.sql + ")" : "(" + a.sql + " " + op + " " + b.sql + ")";
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
        // Integer arithmetic in the type of higher precedence, checked at that type's range (int + int
        // overflows at 2^31); division truncates towards zero as on the server.
        r.type = a.type.precedence() >= b.type.precedence() ? a.type : b.type;
        if (r.type.base == BaseType::Bit) r.type = SqlType::of(BaseType::Int);
        const checked::NumericRange range = checked::rangeOf(r.type);
        if (a.constant && b.constant && a.constant->kind == Cell::Kind::Integer && b.constant->kind == Cell::Kind::Integer) {
            std::int64_t x = a.constant->i, y = b.constant->i, v = 0;
            if (op == "+") v = checked::add(x, y, range);
            else if (op == "-") v = checked::subtract(x, y, range);
            else if (op == "*") v = checked::multiply(x, y, range);
            else if (op == "/") v = checked::divide(x, y, range);
            else if (op == "%") v = checked::modulo(x, y);
            else notSupported("the operator " + op);
            r.constant = Cell::integer(v);
            r.sql = literal(*r.constant);
            r.nullable = false;
            return r;
        }
        const std::string code = rangeArgument(r.type);
        if (op == "%")
            r.sql = "(" + a.sql + " % vopa_nz(" + b.sql + "))";
        else
            r.sql = std::string(op == "+" ? "vopa_add(" : op == "-" ? "vopa_sub(" : op == "*" ? "vopa_mul(" : "vopa_div(") +
                    a.sql + ", " + b.sql + ", " + code + ")";
        if (op != "+" && op != "-" && op != "*" && op != "/" && op != "%") notSupported("the operator " + op);
        return r;
    }
    // Exact decimal arithmetic over scaled integers, checked at the result type's range.
    auto isMoney = [](const SqlType& t) { return t.base == BaseType::Money || t.base == BaseType::SmallMoney; };
    const bool money = (isMoney(a.type) || a.type.isInteger()) && (isMoney(b.type) || b.type.isInteger());
    SqlType da = asDecimal(a.type), db = asDecimal(b.type);
    if (money) {
        // smallmoney with smallmoney or an integer stays smallmoney (and overflows at its range).
        r.type = SqlType::of(a.type.base == BaseType::Money || b.type.base == BaseType::Money ? BaseType::Money
                                                                                           : BaseType::SmallMoney);
    } else if (op == "+" || op == "-") {
        int s = std::max(da.scale, db.scale);
        int p = std::max(da.precision - da.scale, db.precision - db.scale) + s + 1;
        r.type = SqlType::decimal(std::min(38, p), s);
    } else if (op == "*") {
        r.type = fittedDecimal(da.precision + db.precision + 1, da.scale + db.scale);
    } else if (op == "/") {
        const int s = std::max(6, da.scale + db.precision + 1);
        r.type = fittedDecimal(da.precision - da.scale + db.scale + s, s);
    } else {
        r.type = SqlType::decimal(std::max(da.precision, db.precision), std::max(da.scale, db.scale));
    }
    const int s = r.type.scale;
    const std::string code = rangeArgument(r.type);
    const int sa = a.type.storage() == Storage::Scaled ? a.type.scale : 0;
    const int sb = b.type.storage() == Storage::Scaled ? b.type.scale : 0;
    auto scaledTo = [&](const Compiled& c, int from, int scale) -> std::string {
        if (from == scale) return c.sql;
        if (from < scale) return scaledUpSql(c.sql, scale - from, r.type);
        return "vopa_round_scaled(" + c.sql + ", " + std::to_string(from) + ", " + std::to_string(scale) + ") / " +
               std::to_string(pow10(from - scale));
    };
    if (op == "+" || op == "-") {
        r.sql = std::string(op == "+" ? "vopa_add(" : "vopa_sub(") + scaledTo(a, sa, s) + ", " + scaledTo(b, sb, s) +
                ", " + code + ")";
    } else if (op == "*") {
        if (sa + sb == s)
            r.sql = "vopa_mul(" + a.sql + ", " + b.sql + ", " + code + ")";
        else
            r.sql = "vopa_mul_scaled(" + a.sql + ", " + std::to_string(sa) + ", " + b.sql + ", " + std::to_string(sb) +
                    ", " + std::to_string(s) + ", " + code + ")";
    } else if (op == "/") {
        r.sql = "vopa_div_scaled(" + a.sql + ", " + std::to_string(sa) + ", " + b.sql + ", " + std::to_string(sb) + ", " +
                std::to_string(s) + ", " + code + ")";
    } else if (op == "%") {
        r.sql = "(" + scaledTo(a, sa, s) + " % vopa_nz(" + scaledTo(b, sb, s) + "))";
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
        int k = ctx_.functions().addConversion({x.type, to, ConversionMode::Explicit, effectiveStyle, false, false, {}, {}});
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
        t = commonType(typedOnly(t), items.back());
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
        throw EngineError(err::SubqueryTooManyColumns,
                          "Only one expression can be specified in the select list when the subquery is not "
                          "introduced with EXISTS.");
    Compiled r;
    r.sql = "(SELECT \"x1\" FROM (" + sub.sql + ") LIMIT 1)";
    r.type = sub.columns[0].type;
    return r;
}
}  // namespace vopa::engine::translate
