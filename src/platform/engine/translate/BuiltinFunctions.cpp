// The built-in functions the engine knows, each translated to SQLite or to one of its own.

#include <algorithm>
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

// Built-in functions of SQL Server (upper case, sorted). A name among them that the engine does not
// translate is refused as not supported; any other name is unknown to the server too (195).
constexpr std::string_view kServerFunctions[] = {
    "ABS", "ACOS", "APPROX_COUNT_DISTINCT", "APP_NAME", "ASCII", "ASIN", "ATAN", "ATN2", "AVG", "BINARY_CHECKSUM",
    "CAST", "CEILING", "CHAR", "CHARINDEX", "CHECKSUM", "CHECKSUM_AGG", "CHOOSE", "COALESCE", "COLUMNPROPERTY",
    "COL_LENGTH", "COL_NAME", "COMPRESS", "CONCAT", "CONCAT_WS", "CONNECTIONPROPERTY", "CONTEXT_INFO", "CONVERT",
    "COS", "COT", "COUNT", "COUNT_BIG", "CUME_DIST", "CURRENT_REQUEST_ID", "CURRENT_TIMESTAMP",
    "CURRENT_TRANSACTION_ID", "CURRENT_USER", "CURSOR_STATUS", "DATABASEPROPERTY", "DATABASEPROPERTYEX",
    "DATALENGTH", "DATEADD", "DATEDIFF", "DATEDIFF_BIG", "DATEFROMPARTS", "DATENAME", "DATEPART",
    "DATETIME2FROMPARTS", "DATETIMEFROMPARTS", "DATETIMEOFFSETFROMPARTS", "DATETRUNC", "DATE_BUCKET", "DAY",
    "DB_ID", "DB_NAME", "DECOMPRESS", "DEGREES", "DENSE_RANK", "DIFFERENCE", "EOMONTH", "ERROR_LINE",
    "ERROR_MESSAGE", "ERROR_NUMBER", "ERROR_PROCEDURE", "ERROR_SEVERITY", "ERROR_STATE", "EXP", "FILEGROUPPROPERTY",
    "FILEGROUP_ID", "FILEGROUP_NAME", "FILEPROPERTY", "FILE_ID", "FILE_IDEX", "FILE_NAME", "FIRST_VALUE", "FLOOR",
    "FORMAT", "FORMATMESSAGE", "FULLTEXTCATALOGPROPERTY", "FULLTEXTSERVICEPROPERTY", "GETANSINULL", "GETDATE",
    "GETUTCDATE", "GREATEST", "GROUPING", "GROUPING_ID", "HASHBYTES", "HAS_DBACCESS", "HAS_PERMS_BY_NAME",
    "HOST_ID", "HOST_NAME", "IDENTITY", "IDENT_CURRENT", "IDENT_INCR", "IDENT_SEED", "IIF", "INDEXKEY_PROPERTY",
    "INDEXPROPERTY", "INDEX_COL", "ISDATE", "ISJSON", "ISNULL", "ISNUMERIC", "IS_MEMBER", "IS_ROLEMEMBER",
    "IS_SRVROLEMEMBER", "JSON_MODIFY", "JSON_QUERY", "JSON_VALUE", "LAG", "LAST_VALUE", "LEAD", "LEAST", "LEFT",
    "LEN", "LOG", "LOG10", "LOWER", "LTRIM", "MAX", "MIN", "MIN_ACTIVE_ROWVERSION", "MONTH", "NCHAR", "NEWID",
    "NEWSEQUENTIALID", "NTILE", "NULLIF", "OBJECTPROPERTY", "OBJECTPROPERTYEX", "OBJECT_DEFINITION", "OBJECT_ID",
    "OBJECT_NAME", "OBJECT_SCHEMA_NAME", "ORIGINAL_LOGIN", "PARSE", "PARSENAME", "PATINDEX", "PERCENTILE_CONT",
    "PERCENTILE_DISC", "PERCENT_RANK", "PERMISSIONS", "PI", "POWER", "PWDCOMPARE", "PWDENCRYPT", "QUOTENAME",
    "RADIANS", "RAND", "RANK", "REPLACE", "REPLICATE", "REVERSE", "RIGHT", "ROUND", "ROWCOUNT_BIG", "ROW_NUMBER",
    "RTRIM", "SCHEMA_ID", "SCHEMA_NAME", "SCOPE_IDENTITY", "SERVERPROPERTY", "SESSIONPROPERTY", "SESSION_USER",
    "SIGN", "SIN", "SMALLDATETIMEFROMPARTS", "SOUNDEX", "SPACE", "SQRT", "SQUARE", "STATS_DATE", "STDEV", "STDEVP",
    "STR", "STRING_AGG", "STRING_ESCAPE", "STRING_SPLIT", "STUFF", "SUBSTRING", "SUM", "SUSER_ID", "SUSER_NAME",
    "SUSER_SID", "SUSER_SNAME", "SWITCHOFFSET", "SYSDATETIME", "SYSDATETIMEOFFSET", "SYSTEM_USER", "SYSUTCDATETIME",
    "TAN", "TEXTPTR", "TEXTVALID", "TIMEFROMPARTS", "TODATETIMEOFFSET", "TRANSLATE", "TRIM", "TRY_CAST",
    "TRY_CONVERT", "TRY_PARSE", "TYPEPROPERTY", "TYPE_ID", "TYPE_NAME", "UNICODE", "UPPER", "USER", "USER_ID",
    "USER_NAME", "VAR", "VARP", "XACT_STATE", "YEAR",
};

bool isServerFunction(const std::string& upperName) {
    return std::binary_search(std::begin(kServerFunctions), std::end(kServerFunctions), std::string_view(upperName));
}

}  // namespace

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

    if (isAggregateName(name)) {
        int local = 0, outer = 0;
        for (const sql::ExprPtr& a : e.args) {
            if (a && (containsAggregate(*a) || a->kind == Expr::Kind::Subquery))
                throw EngineError(130, "Cannot perform an aggregate function on an expression containing an aggregate "
                                       "or a subquery.");
            if (a) countColumns(*a, scope, local, outer);
        }
        // Over columns of an enclosing query only, the aggregate is that query's (the server counts
        // it there), which SQLite cannot express.
        if (outer > 0 && local == 0)
            notSupported("an aggregate of an enclosing query's columns inside a subquery (" + e.name.last() + ")");
    }
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
        // SUM of decimal(p, s) is decimal(38, s), AVG decimal(38, max(s, 6)).
        int extraScale = 0;
        if (t.storage() == Storage::Scaled && t.base != BaseType::Money && t.base != BaseType::SmallMoney) {
            if (name == "AVG" && t.scale < 6) extraScale = 6 - t.scale;
            t = SqlType::decimal(38, t.scale + extraScale);
        }
        if (t.base == BaseType::SmallMoney) t = SqlType::of(BaseType::Money);
        if (t.base == BaseType::Real) t = SqlType::of(BaseType::Float);
        if (t.storage() == Storage::Real)
            return typed(std::string(name == "SUM" ? "sum(" : "avg(") + inner + ")", t, true);
        // Exact numbers are summed by the engine, which checks the result type's range.
        const char* kind = t.base == BaseType::Int ? "int" : t.base == BaseType::BigInt ? "bigint"
                           : t.base == BaseType::Money                                  ? "money"
                                                                                         : "numeric";
        const std::string up = extraScale ? "_up" + std::to_string(extraScale) : "";
        return typed(std::string(name == "SUM" ? "vopa_sum_" : "vopa_avg_") + kind + up + "(" + inner + ")", t, true);
    }
    if (name == "ISNULL") {
        requireArgs(2, 2);
        Compiled a = arg(0), b = arg(1);
        SqlType t = a.isNull ? b.type : a.type;
        r.nullable = b.nullable;
        // ISNULL(ISNULL(x, y), z) is coalesce(x, y, z): nested replacements stay one level deep.
        const bool nested = a.chainOp == "ISNULL" && a.type == t && a.sql == "coalesce(" + a.chain + ")";
        const std::string first = nested ? a.chain : convert(a, t, ConversionMode::Implicit);
        r.chainOp = "ISNULL";
        r.chain = first + ", " + convert(b, t, ConversionMode::Explicit);
        return typed("coalesce(" + r.chain + ")", t);
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
            value = known ? s_.identCurrent(th) : 0;
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
        // The object's type code, as sys.objects shows it: U, V, S, PK, UQ.
        std::string code;
        std::int64_t id = 0;
        if (th.table) {
            id = th.table->objectId;
            code = th.table->type == storage::TableInfo::Type::View     ? "V"
                   : th.table->type == storage::TableInfo::Type::System ? "S"
                                                                        : "U";
        } else if (!qn.empty() && qn.parts.size() <= 2) {
            // Key constraints are objects of their own.
            for (const storage::TableInfo& owner : s_.database("").catalog->tables())
                for (const storage::IndexInfo& i : owner.indexes)
                    if ((i.primaryKey || i.uniqueConstraint) && text::equalsNoCase(i.name, qn.last())) {
                        id = owner.objectId * 1000 + i.id;
                        code = i.primaryKey ? "PK" : "UQ";
                    }
        }
        if (id != 0 && e.args.size() == 2) {
            Compiled wanted = arg(1);
            if (!wanted.constant || wanted.constant->kind != Cell::Kind::Text)
                notSupported("OBJECT_ID with a computed object type");
            std::string w = upper(wanted.constant->s);
            while (!w.empty() && w.back() == ' ') w.pop_back();
            if (w != code) id = 0;
        }
        if (id == 0) {
            r.isNull = true;
            return typed("NULL", r.type);
        }
        r.constant = Cell::integer(id);
        return typed(std::to_string(id), r.type);
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
    if (isServerFunction(name))
        throw EngineError(err::NotSupported, "The embedded engine does not support the function " + name + ".");
    throw EngineError(err::UnknownFunction, "'" + e.name.last() + "' is not a recognized built-in function name.");
}
}  // namespace vopa::engine::translate
