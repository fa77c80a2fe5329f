// What the system procedures share, and sp_tables.

#include "platform/engine/exec/Procedures.h"

#include "platform/engine/sql/Parser.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine {

ProcedureParameters::ProcedureParameters(const sql::ExecuteStatement& s, const std::string& procedure,
                                         std::vector<std::string> names)
    : names_(std::move(names)), values_(names_.size(), nullptr) {
    bool named = false;
    for (std::size_t i = 0; i < s.arguments.size(); ++i) {
        const sql::ExecArgument& a = s.arguments[i];
        if (a.name.empty()) {
            if (named)
                throw EngineError(err::PositionalAfterNamed,
                                  "Must pass parameter number " + std::to_string(i + 1) +
                                      " and subsequent parameters as '@name = value'. After the form '@name = "
                                      "value' has been used, all subsequent parameters must be passed in the "
                                      "form '@name = value'.",
                                  15);
            if (i >= names_.size())
                throw EngineError(err::TooManyArguments,
                                  "Procedure or function " + procedure + " has too many arguments specified.");
            values_[i] = a.value.get();
            continue;
        }
        named = true;
        std::size_t k = 0;
        while (k < names_.size() && !text::equalsNoCase(names_[k], a.name)) ++k;
        if (k == names_.size())
            throw EngineError(err::UnknownParameter, a.name + " is not a parameter for procedure " + procedure + ".");
        if (values_[k])
            throw EngineError(err::ParameterTwice, "Parameter '" + names_[k] + "' was supplied multiple times.");
        values_[k] = a.value.get();
    }
    procedure_ = procedure;
}

void ProcedureParameters::require(std::size_t i) const {
    if (!values_[i])
        throw EngineError(err::MissingParameter, "Procedure or function '" + procedure_ + "' expects parameter '" +
                                                     names_[i] + "', which was not supplied.");
}

std::optional<Cell> procedureArgument(Session::Impl& session, const sql::Expr* e, const SqlType& type) {
    if (!e) return std::nullopt;
    translate::Compiler compiler(session.compileContext());
    translate::Scope none;
    translate::Compiled c = compiler.expr(*e, none);
    if (c.isNull || (!c.constant && c.sql == "NULL")) return std::nullopt;
    if (!c.constant)
        throw EngineError(err::NotSupported, "The embedded engine does not support computed procedure arguments.");
    const ConversionMode mode = type.isString() ? ConversionMode::Explicit : ConversionMode::Implicit;
    return convertCell(*c.constant, c.type, type, mode);
}

std::optional<std::string> procedureTextArgument(Session::Impl& session, const sql::Expr* e, int length) {
    std::optional<Cell> c = procedureArgument(session, e, SqlType::nvarchar(length));
    if (!c) return std::nullopt;
    return c->s;
}

namespace {

// A condition on one column of INFORMATION_SCHEMA.TABLES: LIKE for a pattern, = otherwise. The value
// enters the statement as a literal, so whatever it holds stays data.
std::string columnCondition(const char* column, const std::string& value, bool pattern) {
    return std::string(" AND ") + column + (pattern ? " LIKE " : " = ") + "N" + text::enclosed(value, '\'', '\'');
}

// @table_type is a list of quoted types: "'TABLE','VIEW'". TABLE and VIEW are known; SYSTEM TABLE
// lists nothing, as the engine's catalog tables are its own.
std::string typeCondition(const std::string& list) {
    std::string in;
    std::size_t pos = 0;
    while ((pos = list.find('\'', pos)) != std::string::npos) {
        const std::size_t end = list.find('\'', pos + 1);
        if (end == std::string::npos) break;
        const std::string type = list.substr(pos + 1, end - pos - 1);
        if (text::equalsNoCase(type, "TABLE")) in += std::string(in.empty() ? "" : ", ") + "'BASE TABLE'";
        if (text::equalsNoCase(type, "VIEW")) in += std::string(in.empty() ? "" : ", ") + "'VIEW'";
        pos = end + 1;
    }
    return in.empty() ? " AND 1 = 0" : " AND TABLE_TYPE IN (" + in + ")";
}

}  // namespace

void listTables(Session::Impl& session, const sql::ExecuteStatement& s, StatementOutcome& out) {
    const ProcedureParameters p(s, "sp_tables",
                                {"@table_name", "@table_owner", "@table_qualifier", "@table_type", "@fUsePattern"});
    const auto name = procedureTextArgument(session, p[0], 384);
    const auto owner = procedureTextArgument(session, p[1], 384);
    const auto qualifier = procedureTextArgument(session, p[2], 128);
    const auto types = procedureTextArgument(session, p[3], 100);
    const auto usePattern = procedureArgument(session, p[4], SqlType::of(BaseType::Bit));
    const bool pattern = !usePattern || usePattern->i != 0;
    if (qualifier && !qualifier->empty() && !text::equalsNoCase(*qualifier, session.currentDatabase))
        throw EngineError(err::QualifierNotCurrentDatabase,
                          "The database name component of the object qualifier must be the name of the current "
                          "database.");
    std::string where = "1 = 1";
    if (name) where += columnCondition("TABLE_NAME", *name, pattern);
    if (owner) where += columnCondition("TABLE_SCHEMA", *owner, pattern);
    if (types) where += typeCondition(*types);
    const std::string query =
        "SELECT TABLE_CATALOG AS TABLE_QUALIFIER, TABLE_SCHEMA AS TABLE_OWNER, TABLE_NAME, "
        "CAST(CASE TABLE_TYPE WHEN 'VIEW' THEN 'VIEW' ELSE 'TABLE' END AS varchar(32)) AS TABLE_TYPE, "
        "CAST(NULL AS varchar(254)) AS REMARKS FROM INFORMATION_SCHEMA.TABLES WHERE " +
        where + " ORDER BY TABLE_TYPE, TABLE_QUALIFIER, TABLE_OWNER, TABLE_NAME";
    const std::vector<sql::StatementPtr> select = sql::parseBatch(query);
    session.execSelect(static_cast<const sql::SelectStatement&>(*select.front()), out);
}

}  // namespace vopa::engine
