// The built-in functions the engine knows, each translated to SQLite or to one of its own: one table
// with an entry per function of the server (name, argument counts, result type, translation), found by
// name. A function of the server without a translation is refused as not supported.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include "Compiler.h"
#include "CompilerSupport.h"
#include "platform/engine/sql/Parser.h"

namespace vopa::engine::translate {

using namespace detail;
using sql::Expr;

// One call of a built-in function as its translation sees it.
struct FunctionCall {
    Compiler& compiler;
    CompileContext& context;
    const Expr& e;
    const Scope& scope;
    const std::string& name;  // upper case
    int datePart = -1;        // the code of a first argument that names a date part
    Compiled out;             // the result; its type is set beforehand when the function's type is fixed

    Compiled arg(std::size_t i) { return compiler.expr(*e.args.at(i), scope); }
    std::string convert(const Compiled& c, const SqlType& to, ConversionMode mode = ConversionMode::Implicit) {
        return compiler.convert(c, to, mode);
    }
    std::string asText(const Compiled& c) { return convert(c, SqlType::nvarchar(SqlType::kMax)); }
    Compiled result(std::string sqlText) {
        out.sql = std::move(sqlText);
        return out;
    }
    Compiled result(std::string sqlText, const SqlType& t) {
        out.type = t;
        return result(std::move(sqlText));
    }
    static SqlType commonType(const Compiled& a, const Compiled& b) { return Compiler::commonType(a, b); }
};

namespace {

// Result types that do not depend on the arguments.
SqlType intType() { return SqlType::of(BaseType::Int); }
SqlType bigintType() { return SqlType::of(BaseType::BigInt); }
SqlType datetimeType() { return SqlType::of(BaseType::DateTime); }
SqlType dateNameType() { return SqlType::nvarchar(30); }
SqlType textType() { return SqlType::nvarchar(SqlType::kMax); }
SqlType nameType() { return SqlType::nvarchar(128); }
SqlType uniqueIdentifierType() { return SqlType::of(BaseType::UniqueIdentifier); }
SqlType identityType() { return SqlType::decimal(38, 0); }

// Text of the arguments' kind, or varchar(30) for other kinds; `variable`: char and nchar become
// varchar and nvarchar (a function that can shorten the text).
SqlType textResult(const Compiled& x, bool variable) {
    SqlType t = x.type.isString() ? x.type : SqlType::varchar(30);
    if (variable && t.isFixedLength()) t.base = t.isUnicode() ? BaseType::NVarChar : BaseType::VarChar;
    return t;
}

void requireNumeric(const SqlType& t, const std::string& what) {
    if (t.isString() || t.isDate())
        throw EngineError(err::InvalidOperandType, "Operand data type " + t.name() + " is invalid for " + what + ".");
}

Compiled count(FunctionCall& f) {
    if (f.e.starArgument || f.e.args.empty()) return f.result("count(*)");
    Compiled x = f.arg(0);
    return f.result(std::string("count(") + (f.e.distinct ? "DISTINCT " : "") + x.sql + ")");
}

Compiled minMax(FunctionCall& f) {
    Compiled x = f.arg(0);
    const std::string collate = isCharacter(x.type) ? " COLLATE VOPA_CI" : "";
    return f.result(text::toLower(f.name) + "(" + (f.e.distinct ? "DISTINCT " : "") + x.sql + collate + ")", x.type);
}

Compiled sumAvg(FunctionCall& f) {
    const bool sum = f.name == "SUM";
    Compiled x = f.arg(0);
    const std::string inner = (f.e.distinct ? "DISTINCT " : "") + x.sql;
    SqlType t = x.type;
    requireNumeric(t, text::toLower(f.name) + " operator");
    if (t.isInteger() && t.base != BaseType::BigInt) t = SqlType::of(BaseType::Int);
    // SUM of decimal(p, s) is decimal(38, s), AVG decimal(38, max(s, 6)).
    int extraScale = 0;
    if (t.storage() == Storage::Scaled && t.base != BaseType::Money && t.base != BaseType::SmallMoney) {
        if (!sum && t.scale < 6) extraScale = 6 - t.scale;
        t = SqlType::decimal(38, t.scale + extraScale);
    }
    if (t.base == BaseType::SmallMoney) t = SqlType::of(BaseType::Money);
    if (t.base == BaseType::Real) t = SqlType::of(BaseType::Float);
    if (t.storage() == Storage::Real) return f.result(std::string(sum ? "sum(" : "avg(") + inner + ")", t);
    // Exact numbers are summed by the engine, which checks the result type's range.
    const char* kind = t.base == BaseType::Int ? "int" : t.base == BaseType::BigInt ? "bigint"
                       : t.base == BaseType::Money                                  ? "money"
                                                                                     : "numeric";
    const std::string up = extraScale ? "_up" + std::to_string(extraScale) : "";
    return f.result(std::string(sum ? "vopa_sum_" : "vopa_avg_") + kind + up + "(" + inner + ")", t);
}

Compiled isNull(FunctionCall& f) {
    Compiled a = f.arg(0), b = f.arg(1);
    SqlType t = a.isNull ? b.type : a.type;
    f.out.nullable = b.nullable;
    // ISNULL(ISNULL(x, y), z) is coalesce(x, y, z): nested replacements stay one level deep.
    const bool nested = a.chainOp == "ISNULL" && a.type == t && a.sql == "coalesce(" + a.chain + ")";
    const std::string first = nested ? a.chain : f.convert(a, t);
    f.out.chainOp = "ISNULL";
    f.out.chain = first + ", " + f.convert(b, t, ConversionMode::Explicit);
    return f.result("coalesce(" + f.out.chain + ")", t);
}

Compiled coalesce(FunctionCall& f) {
    // One argument is accepted (as coalesce(x, NULL)); none is the server's message for two.
    if (f.e.args.empty()) throw EngineError(err::WrongArgumentCount, "The coalesce function requires 2 argument(s).");
    std::vector<Compiled> xs;
    Compiled acc;
    acc.isNull = true;
    for (std::size_t i = 0; i < f.e.args.size(); ++i) {
        xs.push_back(f.arg(i));
        acc.type = FunctionCall::commonType(acc, xs.back());
        acc.isNull = acc.isNull && xs.back().isNull;
    }
    std::string s = "coalesce(";
    for (std::size_t i = 0; i < xs.size(); ++i) s += (i ? ", " : "") + f.convert(xs[i], acc.type);
    if (xs.size() == 1) s += ", NULL";
    return f.result(s + ")", acc.type);
}

Compiled nullIf(FunctionCall& f) {
    Compiled a = f.arg(0), b = f.arg(1);
    return f.result("nullif(" + a.sql + ", " + f.convert(b, a.type) + ")", a.type);
}

Compiled yearMonthDay(FunctionCall& f) {
    const int part = storage::datePartCode(f.name);
    return f.result("vopa_datepart(" + std::to_string(part) + ", " + f.convert(f.arg(0), datetimeType()) + ")");
}

Compiled datePart(FunctionCall& f) {
    return f.result("vopa_datepart(" + std::to_string(f.datePart) + ", " + f.convert(f.arg(1), datetimeType()) +
                    ", " + std::to_string(f.context.dateFirst()) + ")");
}

Compiled dateName(FunctionCall& f) {
    return f.result("vopa_datename(" + std::to_string(f.datePart) + ", " + f.convert(f.arg(1), datetimeType()) +
                    ", " + std::to_string(f.context.language().code) + ", " + std::to_string(f.context.dateFirst()) +
                    ")");
}

Compiled dateAdd(FunctionCall& f) {
    Compiled d = f.arg(2);
    const SqlType t = d.type.isDate() ? d.type : datetimeType();
    return f.result("vopa_dateadd(" + std::to_string(f.datePart) + ", " + f.convert(f.arg(1), bigintType()) + ", " +
                        f.convert(d, t) + ", " + std::to_string(static_cast<int>(t.base)) + ")",
                    t);
}

Compiled dateDiff(FunctionCall& f) {
    return f.result("vopa_datediff(" + std::to_string(f.datePart) + ", " + f.convert(f.arg(1), datetimeType()) +
                    ", " + f.convert(f.arg(2), datetimeType()) + ")");
}

Compiled now(FunctionCall& f) { return f.result("vopa_getdate()"); }

Compiled len(FunctionCall& f) { return f.result("length(rtrim(" + f.asText(f.arg(0)) + ", ' '))"); }

Compiled dataLength(FunctionCall& f) {
    Compiled x = f.arg(0);
    return f.result(x.type.isUnicode() ? "(length(CAST(" + x.sql + " AS BLOB)) * 0 + length(" + x.sql + ") * 2)"
                                       : "length(CAST(" + x.sql + " AS BLOB))");
}

Compiled upperLower(FunctionCall& f) {
    Compiled x = f.arg(0);
    const SqlType t = textResult(x, false);
    return f.result(std::string(f.name == "UPPER" ? "vopa_upper(" : "vopa_lower(") + f.convert(x, t) + ")", t);
}

Compiled trim(FunctionCall& f) {
    Compiled x = f.arg(0);
    const SqlType t = textResult(x, true);
    return f.result(text::toLower(f.name) + "(" + f.convert(x, x.type.isString() ? x.type : t) + ", ' ')", t);
}

Compiled substring(FunctionCall& f) {
    Compiled x = f.arg(0);
    const SqlType t = textResult(x, true);
    return f.result("substr(" + f.convert(x, t) + ", " + f.convert(f.arg(1), bigintType()) + ", " +
                        f.convert(f.arg(2), bigintType()) + ")",
                    t);
}

Compiled left(FunctionCall& f) {
    Compiled x = f.arg(0);
    const SqlType t = textResult(x, true);
    return f.result("substr(" + f.convert(x, t) + ", 1, " + f.convert(f.arg(1), bigintType()) + ")", t);
}

Compiled right(FunctionCall& f) {
    Compiled x = f.arg(0);
    const SqlType t = textResult(x, true);
    return f.result("vopa_right(" + f.convert(x, t) + ", " + f.convert(f.arg(1), bigintType()) + ")", t);
}

Compiled replace(FunctionCall& f) {
    return f.result("vopa_replace(" + f.asText(f.arg(0)) + ", " + f.asText(f.arg(1)) + ", " + f.asText(f.arg(2)) +
                    ")");
}

Compiled charIndex(FunctionCall& f) {
    std::string s = "vopa_charindex(" + f.asText(f.arg(0)) + ", " + f.asText(f.arg(1));
    if (f.e.args.size() == 3) s += ", " + f.convert(f.arg(2), bigintType());
    return f.result(s + ")");
}

Compiled absolute(FunctionCall& f) {
    Compiled x = f.arg(0);
    requireNumeric(x.type, "abs operator");
    if (x.type.storage() == Storage::Real) return f.result("abs(" + x.sql + ")", x.type);
    // ABS of the smallest value of a type is beyond its range.
    const SqlType t = x.type.base == BaseType::Bit ? intType() : x.type;
    if (x.constant && x.constant->kind == Cell::Kind::Integer) {
        f.out.constant = Cell::integer(checked::absolute(x.constant->i, checked::rangeOf(t)));
        return f.result(Compiler::literal(*f.out.constant), t);
    }
    return f.result("vopa_abs(" + x.sql + ", " + rangeArgument(t) + ")", t);
}

Compiled round(FunctionCall& f) {
    Compiled x = f.arg(0), n = f.arg(1);
    if (!n.constant || n.constant->kind != Cell::Kind::Integer)
        notSupported("ROUND with a length that is not a number");
    const std::int64_t digits = n.constant->i;
    // A third argument other than 0 truncates instead of rounding.
    bool truncate = false;
    if (f.e.args.size() == 3) {
        Compiled how = f.arg(2);
        if (!how.constant || how.constant->kind != Cell::Kind::Integer)
            notSupported("ROUND with a function that is not a number");
        truncate = how.constant->i != 0;
    }
    requireNumeric(x.type, "round function");
    if (x.type.storage() == Storage::Real) {
        if (!truncate) return f.result("round(" + x.sql + ", " + std::to_string(digits) + ")", x.type);
        // Cut towards zero at the digit: shift, truncate, shift back.
        const std::string unit = "1e" + std::to_string(digits);
        return f.result("(CAST(CAST(" + x.sql + " * " + unit + " AS INTEGER) AS REAL) / " + unit + ")", x.type);
    }
    const int scale = x.type.storage() == Storage::Scaled ? x.type.scale : 0;
    const SqlType t = x.type.base == BaseType::Bit ? intType() : x.type;
    return f.result("vopa_round_scaled(" + x.sql + ", " + std::to_string(scale) + ", " + std::to_string(digits) +
                        ", " + (truncate ? "1" : "0") + ", " + rangeArgument(t) + ")",
                    t);
}

Compiled newId(FunctionCall& f) { return f.result("vopa_newid()"); }

Compiled dbName(FunctionCall& f) {
    f.out.constant = Cell::text(f.context.currentDatabase());
    return f.result(Compiler::literal(*f.out.constant));
}

// An identity value known at compile time, or NULL.
Compiled identityValue(FunctionCall& f, std::optional<std::int64_t> value) {
    if (!value) return f.result("NULL");
    f.out.constant = Cell::integer(*value);
    return f.result(std::to_string(*value));
}

Compiled scopeIdentity(FunctionCall& f) { return identityValue(f, f.context.lastInsertedIdentity()); }

Compiled identCurrent(FunctionCall& f) {
    Compiled t = f.arg(0);
    if (!t.constant || t.constant->kind != Cell::Kind::Text) notSupported("IDENT_CURRENT of a computed name");
    sql::QualifiedName qn;
    qn.parts.push_back(t.constant->s);
    TableHandle th = f.context.table(qn, false);
    if (!th.table || !th.table->identityColumn()) return identityValue(f, std::nullopt);
    return identityValue(f, f.context.identCurrent(th));
}

Compiled objectId(FunctionCall& f) {
    Compiled t = f.arg(0);
    if (!t.constant || t.constant->kind != Cell::Kind::Text) notSupported("OBJECT_ID of a computed name");
    // The name itself is T-SQL text: "[dbo].[partitadoppia]", "db.dbo.t".
    sql::QualifiedName qn;
    sql::ExprPtr parsed = sql::parseExpression(t.constant->s);
    if (parsed && parsed->kind == Expr::Kind::Column) qn = parsed->name;
    TableHandle th = qn.empty() ? TableHandle{} : f.context.table(qn, false);
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
        for (const storage::TableInfo& owner : f.context.database("").catalog->tables())
            for (const storage::IndexInfo& i : owner.indexes)
                if ((i.primaryKey || i.uniqueConstraint) && text::equalsNoCase(i.name, qn.last())) {
                    id = owner.objectId * 1000 + i.id;
                    code = i.primaryKey ? "PK" : "UQ";
                }
    }
    if (id != 0 && f.e.args.size() == 2) {
        Compiled wanted = f.arg(1);
        if (!wanted.constant || wanted.constant->kind != Cell::Kind::Text)
            notSupported("OBJECT_ID with a computed object type");
        std::string w = upper(wanted.constant->s);
        while (!w.empty() && w.back() == ' ') w.pop_back();
        if (w != code) id = 0;
    }
    if (id == 0) {
        f.out.isNull = true;
        return f.result("NULL");
    }
    f.out.constant = Cell::integer(id);
    return f.result(std::to_string(id));
}

Compiled columnProperty(FunctionCall& f) {
    Compiled id = f.arg(0), column = f.arg(1), property = f.arg(2);
    if (!id.constant || !column.constant || !property.constant || id.constant->kind != Cell::Kind::Integer)
        return f.result("NULL");
    DatabaseHandle current = f.context.database("");
    const storage::TableInfo* t = current.catalog->findById(id.constant->i);
    const storage::ColumnInfo* c = t ? t->findColumn(column.constant->s) : nullptr;
    if (!c) return f.result("NULL");
    const std::string p = upper(property.constant->s);
    int v = -1;
    if (p == "ISIDENTITY") v = c->identity;
    else if (p == "ALLOWSNULL") v = c->nullable;
    else if (p == "PRECISION") v = c->type.storage() == Storage::Scaled ? c->type.precision : c->type.length;
    else if (p == "SCALE") v = c->type.storage() == Storage::Scaled ? c->type.scale : 0;
    if (v < 0) return f.result("NULL");
    f.out.constant = Cell::integer(v);
    return f.result(std::to_string(v));
}

using TypeRule = SqlType (*)();
using Translate = Compiled (*)(FunctionCall&);

constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();
constexpr TypeRule kFromArguments = nullptr;  // the translation gives the result type
constexpr unsigned kAggregate = 1;            // an aggregate function
constexpr unsigned kDatePartFirst = 2;        // the first argument names a date part (DATEPART(year, ...))

struct BuiltinFunction {
    std::string_view name;  // upper case
    std::size_t minArgs;    // fewer or more arguments: 174
    std::size_t maxArgs;
    TypeRule result;        // the result type when it does not depend on the arguments
    Translate translate;    // none: a function of the server the engine does not run (40000)
    unsigned flags;
};

constexpr BuiltinFunction fn(std::string_view name, std::size_t minArgs, std::size_t maxArgs, TypeRule result,
                             Translate translate, unsigned flags = 0) {
    return {name, minArgs, maxArgs, result, translate, flags};
}
constexpr BuiltinFunction server(std::string_view name) { return {name, 0, kAny, nullptr, nullptr, 0}; }
constexpr BuiltinFunction serverAggregate(std::string_view name) {
    return {name, 0, kAny, nullptr, nullptr, kAggregate};
}

// Every built-in function of SQL Server, sorted by name. Functions that accept any number of
// arguments here ignore the extra ones.
constexpr BuiltinFunction kFunctions[] = {
    fn("ABS", 1, 1, kFromArguments, absolute),
    server("ACOS"), server("APPROX_COUNT_DISTINCT"), server("APP_NAME"), server("ASCII"), server("ASIN"),
    server("ATAN"), server("ATN2"),
    fn("AVG", 1, 1, kFromArguments, sumAvg, kAggregate),
    server("BINARY_CHECKSUM"), server("CAST"), server("CEILING"), server("CHAR"),
    fn("CHARINDEX", 2, 3, intType, charIndex),
    server("CHECKSUM"), serverAggregate("CHECKSUM_AGG"), server("CHOOSE"),
    fn("COALESCE", 0, kAny, kFromArguments, coalesce),
    fn("COLUMNPROPERTY", 3, 3, intType, columnProperty),
    server("COL_LENGTH"), server("COL_NAME"), server("COMPRESS"), server("CONCAT"), server("CONCAT_WS"),
    server("CONNECTIONPROPERTY"), server("CONTEXT_INFO"), server("CONVERT"), server("COS"), server("COT"),
    fn("COUNT", 0, kAny, intType, count, kAggregate),
    fn("COUNT_BIG", 0, kAny, bigintType, count, kAggregate),
    server("CUME_DIST"), server("CURRENT_REQUEST_ID"),
    fn("CURRENT_TIMESTAMP", 0, kAny, datetimeType, now),
    server("CURRENT_TRANSACTION_ID"), server("CURRENT_USER"), server("CURSOR_STATUS"), server("DATABASEPROPERTY"),
    server("DATABASEPROPERTYEX"),
    fn("DATALENGTH", 1, 1, intType, dataLength),
    fn("DATEADD", 3, 3, kFromArguments, dateAdd, kDatePartFirst),
    fn("DATEDIFF", 3, 3, intType, dateDiff, kDatePartFirst),
    server("DATEDIFF_BIG"), server("DATEFROMPARTS"),
    fn("DATENAME", 2, 2, dateNameType, dateName, kDatePartFirst),
    fn("DATEPART", 2, 2, intType, datePart, kDatePartFirst),
    server("DATETIME2FROMPARTS"), server("DATETIMEFROMPARTS"), server("DATETIMEOFFSETFROMPARTS"), server("DATETRUNC"),
    server("DATE_BUCKET"),
    fn("DAY", 1, 1, intType, yearMonthDay),
    server("DB_ID"),
    fn("DB_NAME", 0, kAny, nameType, dbName),
    server("DECOMPRESS"), server("DEGREES"), server("DENSE_RANK"), server("DIFFERENCE"), server("EOMONTH"),
    server("ERROR_LINE"), server("ERROR_MESSAGE"), server("ERROR_NUMBER"), server("ERROR_PROCEDURE"),
    server("ERROR_SEVERITY"), server("ERROR_STATE"), server("EXP"), server("FILEGROUPPROPERTY"),
    server("FILEGROUP_ID"), server("FILEGROUP_NAME"), server("FILEPROPERTY"), server("FILE_ID"), server("FILE_IDEX"),
    server("FILE_NAME"), server("FIRST_VALUE"), server("FLOOR"), server("FORMAT"), server("FORMATMESSAGE"),
    server("FULLTEXTCATALOGPROPERTY"), server("FULLTEXTSERVICEPROPERTY"), server("GETANSINULL"),
    fn("GETDATE", 0, kAny, datetimeType, now),
    fn("GETUTCDATE", 0, kAny, datetimeType, now),
    server("GREATEST"), serverAggregate("GROUPING"), server("GROUPING_ID"), server("HASHBYTES"),
    server("HAS_DBACCESS"), server("HAS_PERMS_BY_NAME"), server("HOST_ID"), server("HOST_NAME"), server("IDENTITY"),
    fn("IDENT_CURRENT", 1, 1, identityType, identCurrent),
    server("IDENT_INCR"), server("IDENT_SEED"), server("IIF"), server("INDEXKEY_PROPERTY"), server("INDEXPROPERTY"),
    server("INDEX_COL"), server("ISDATE"), server("ISJSON"),
    fn("ISNULL", 2, 2, kFromArguments, isNull),
    server("ISNUMERIC"), server("IS_MEMBER"), server("IS_ROLEMEMBER"), server("IS_SRVROLEMEMBER"),
    server("JSON_MODIFY"), server("JSON_QUERY"), server("JSON_VALUE"), server("LAG"), server("LAST_VALUE"),
    server("LEAD"), server("LEAST"),
    fn("LEFT", 2, 2, kFromArguments, left),
    fn("LEN", 1, 1, intType, len),
    server("LOG"), server("LOG10"),
    fn("LOWER", 1, 1, kFromArguments, upperLower),
    fn("LTRIM", 1, 1, kFromArguments, trim),
    fn("MAX", 1, 1, kFromArguments, minMax, kAggregate),
    fn("MIN", 1, 1, kFromArguments, minMax, kAggregate),
    server("MIN_ACTIVE_ROWVERSION"),
    fn("MONTH", 1, 1, intType, yearMonthDay),
    server("NCHAR"),
    fn("NEWID", 0, kAny, uniqueIdentifierType, newId),
    server("NEWSEQUENTIALID"), server("NTILE"),
    fn("NULLIF", 2, 2, kFromArguments, nullIf),
    server("OBJECTPROPERTY"), server("OBJECTPROPERTYEX"), server("OBJECT_DEFINITION"),
    fn("OBJECT_ID", 1, 2, intType, objectId),
    server("OBJECT_NAME"), server("OBJECT_SCHEMA_NAME"), server("ORIGINAL_LOGIN"), server("PARSE"),
    server("PARSENAME"), server("PATINDEX"), server("PERCENTILE_CONT"), server("PERCENTILE_DISC"),
    server("PERCENT_RANK"), server("PERMISSIONS"), server("PI"), server("POWER"), server("PWDCOMPARE"),
    server("PWDENCRYPT"), server("QUOTENAME"), server("RADIANS"), server("RAND"), server("RANK"),
    fn("REPLACE", 3, 3, textType, replace),
    server("REPLICATE"), server("REVERSE"),
    fn("RIGHT", 2, 2, kFromArguments, right),
    fn("ROUND", 2, 3, kFromArguments, round),
    server("ROWCOUNT_BIG"), server("ROW_NUMBER"),
    fn("RTRIM", 1, 1, kFromArguments, trim),
    server("SCHEMA_ID"), server("SCHEMA_NAME"),
    fn("SCOPE_IDENTITY", 0, kAny, identityType, scopeIdentity),
    server("SERVERPROPERTY"), server("SESSIONPROPERTY"), server("SESSION_USER"), server("SIGN"), server("SIN"),
    server("SMALLDATETIMEFROMPARTS"), server("SOUNDEX"), server("SPACE"), server("SQRT"), server("SQUARE"),
    server("STATS_DATE"), serverAggregate("STDEV"), serverAggregate("STDEVP"), server("STR"),
    serverAggregate("STRING_AGG"), server("STRING_ESCAPE"), server("STRING_SPLIT"), server("STUFF"),
    fn("SUBSTRING", 3, 3, kFromArguments, substring),
    fn("SUM", 1, 1, kFromArguments, sumAvg, kAggregate),
    server("SUSER_ID"), server("SUSER_NAME"), server("SUSER_SID"), server("SUSER_SNAME"), server("SWITCHOFFSET"),
    fn("SYSDATETIME", 0, kAny, datetimeType, now),
    server("SYSDATETIMEOFFSET"), server("SYSTEM_USER"), server("SYSUTCDATETIME"), server("TAN"), server("TEXTPTR"),
    server("TEXTVALID"), server("TIMEFROMPARTS"), server("TODATETIMEOFFSET"), server("TRANSLATE"), server("TRIM"),
    server("TRY_CAST"), server("TRY_CONVERT"), server("TRY_PARSE"), server("TYPEPROPERTY"), server("TYPE_ID"),
    server("TYPE_NAME"), server("UNICODE"),
    fn("UPPER", 1, 1, kFromArguments, upperLower),
    server("USER"), server("USER_ID"), server("USER_NAME"), serverAggregate("VAR"), serverAggregate("VARP"),
    server("XACT_STATE"),
    fn("YEAR", 1, 1, intType, yearMonthDay),
};

static_assert(std::is_sorted(std::begin(kFunctions), std::end(kFunctions),
                             [](const BuiltinFunction& a, const BuiltinFunction& b) { return a.name < b.name; }),
              "kFunctions must stay sorted by name");

// The function named `name` (any case), or null when the server has no such built-in function.
const BuiltinFunction* findFunction(const std::string& name) {
    const std::string key = upper(name);
    const auto* it = std::lower_bound(std::begin(kFunctions), std::end(kFunctions), std::string_view(key),
                                      [](const BuiltinFunction& f, std::string_view n) { return f.name < n; });
    return it != std::end(kFunctions) && it->name == key ? it : nullptr;
}

}  // namespace

bool isAggregateName(const std::string& name) {
    const BuiltinFunction* f = findFunction(name);
    return f && (f->flags & kAggregate);
}

Compiled Compiler::function(const Expr& e, const Scope& scope) {
    const std::string name = upper(e.name.last());
    const BuiltinFunction* f = findFunction(name);
    if (!f)
        throw EngineError(err::UnknownFunction, "'" + e.name.last() + "' is not a recognized built-in function name.");

    if (f->flags & kAggregate) {
        int local = 0, outer = 0;
        for (const sql::ExprPtr& a : e.args) {
            if (a && (containsAggregate(*a) || a->kind == Expr::Kind::Subquery))
                throw EngineError(err::AggregateOfAggregate,
                                  "Cannot perform an aggregate function on an expression containing an aggregate "
                                  "or a subquery.");
            if (a) countColumns(*a, scope, local, outer);
        }
        // Over columns of an enclosing query only, the aggregate is that query's (the server counts
        // it there), which SQLite cannot express.
        if (outer > 0 && local == 0)
            notSupported("an aggregate of an enclosing query's columns inside a subquery (" + e.name.last() + ")");
    }
    if (!f->translate)
        throw EngineError(err::NotSupported, "The embedded engine does not support the function " + name + ".");

    FunctionCall call{*this, ctx_, e, scope, name, -1, {}};
    if (f->flags & kDatePartFirst) {
        if (e.args.empty() || e.args[0]->kind != Expr::Kind::Column)
            throw EngineError(err::UnknownOption, "'" + e.name.last() + "' is not a recognized option.");
        call.datePart = storage::datePartCode(e.args[0]->name.last());
        if (call.datePart < 0)
            throw EngineError(err::UnknownOption, "'" + e.args[0]->name.last() + "' is not a recognized " +
                                                      text::toLower(name) + " option.");
    }
    if (e.args.size() < f->minArgs || e.args.size() > f->maxArgs)
        throw EngineError(err::WrongArgumentCount, "The " + e.name.last() + " function requires " +
                                                       std::to_string(f->minArgs) + " argument(s).");
    if (f->result) call.out.type = f->result();
    Compiled r = f->translate(call);
    r.aggregate = (f->flags & kAggregate) != 0;
    return r;
}
}  // namespace vopa::engine::translate
