// The built-in functions the engine knows, each translated to SQLite or to one of its own.

#include <cmath>
#include <cstdio>
#include <limits>

#include "Compiler.h"
#include "CompilerSupport.h"
#include "platform/engine/sql/Parser.h"

namespace vopa::engine::translate {

using namespace detail;
using sql::Expr;

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
        if (t.storage() == Storage::Real)
            return typed(std::string(name == "SUM" ? "sum(" : "avg(") + inner + ")", t, true);
        // Exact numbers are summed by the engine, which checks the result type's range.
        const char* kind = t.base == BaseType::Int ? "int" : t.base == BaseType::BigInt ? "bigint"
                           : t.base == BaseType::Money                                  ? "money"
                                                                                         : "numeric";
        return typed(std::string(name == "SUM" ? "vopa_sum_" : "vopa_avg_") + kind + "(" + inner + ")", t, true);
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
        if (name == "DATEPART") {
            requireArgs(2, 2);
            return typed("vopa_datepart(" + std::to_string(part) + ", " + convert(arg(1), dt, ConversionMode::Implicit) +
                             ", " + std::to_string(s_.dateFirst) + ")",
                         SqlType::of(BaseType::Int));
        }
        if (name == "DATENAME") {
            requireArgs(2, 2);
            return typed("vopa_datename(" + std::to_string(part) + ", " + convert(arg(1), dt, ConversionMode::Implicit) +
                             ", " + std::to_string(s_.language->code) + ", " + std::to_string(s_.dateFirst) + ")",
                         SqlType::nvarchar(30));
        }
        requireArgs(3, 3);
        if (name == "DATEADD") {
            Compiled d = arg(2);
            SqlType t = d.type.isDate() ? d.type : dt;
            return typed("vopa_dateadd(" + std::to_string(part) + ", " +
                             convert(arg(1), SqlType::of(BaseType::BigInt), ConversionMode::Implicit) + ", " +
                             convert(d, t, ConversionMode::Implicit) + ", " + std::to_string(static_cast<int>(t.base)) + ")",
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
        if (x.type.isString() || x.type.isDate())
            throw EngineError(8117, "Operand data type " + x.type.name() + " is invalid for abs operator.");
        if (x.type.storage() == Storage::Real) return typed("abs(" + x.sql + ")", x.type);
        // ABS of the smallest value of a type is beyond its range.
        const SqlType t = x.type.base == BaseType::Bit ? SqlType::of(BaseType::Int) : x.type;
        if (x.constant && x.constant->kind == Cell::Kind::Integer) {
            r.constant = Cell::integer(checked::absolute(x.constant->i, checked::rangeOf(t)));
            return typed(literal(*r.constant), t);
        }
        return typed("vopa_abs(" + x.sql + ", " + rangeArgument(t) + ")", t);
    }
    if (name == "ROUND") {
        requireArgs(2, 3);
        Compiled x = arg(0), n = arg(1);
        if (!n.constant || n.constant->kind != Cell::Kind::Integer) notSupported("ROUND with a length that is not a number");
        std::int64_t digits = n.constant->i;
        // A third argument other than 0 truncates instead of rounding.
        bool truncate = false;
        if (e.args.size() == 3) {
            Compiled f = arg(2);
            if (!f.constant || f.constant->kind != Cell::Kind::Integer) notSupported("ROUND with a function that is not a number");
            truncate = f.constant->i != 0;
        }
        if (x.type.isString() || x.type.isDate())
            throw EngineError(8117, "Operand data type " + x.type.name() + " is invalid for round function.");
        if (x.type.storage() == Storage::Real) {
            if (!truncate) return typed("round(" + x.sql + ", " + std::to_string(digits) + ")", x.type);
            // Cut towards zero at the digit: shift, truncate, shift back.
            const std::string unit = "1e" + std::to_string(digits);
            return typed("(CAST(CAST(" + x.sql + " * " + unit + " AS INTEGER) AS REAL) / " + unit + ")", x.type);
        }
        int scale = x.type.storage() == Storage::Scaled ? x.type.scale : 0;
        const SqlType t = x.type.base == BaseType::Bit ? SqlType::of(BaseType::Int) : x.type;
        return typed("vopa_round_scaled(" + x.sql + ", " + std::to_string(scale) + ", " + std::to_string(digits) + ", " +
                         (truncate ? "1" : "0") + ", " + rangeArgument(t) + ")",
                     t);
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
}  // namespace vopa::engine::translate
