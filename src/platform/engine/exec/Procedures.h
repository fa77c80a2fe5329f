#pragma once
// What the system procedures share: their parameters bound from the EXEC's arguments, and the
// procedures that answer with rows.

#include <optional>
#include <string>
#include <vector>

#include "platform/engine/SessionImpl.h"

namespace vopa::engine {

// The parameters of a system procedure: the arguments bound by position, then by name, with the
// server's errors for arguments that do not fit (8144, 8145, 8143, 119).
class ProcedureParameters {
public:
    ProcedureParameters(const sql::ExecuteStatement& s, const std::string& procedure, std::vector<std::string> names);

    const sql::Expr* operator[](std::size_t i) const { return values_[i]; }
    // 201 when the parameter was not supplied.
    void require(std::size_t i) const;

private:
    std::vector<std::string> names_;
    std::vector<const sql::Expr*> values_;
    std::string procedure_;
};

// An argument's value converted to the parameter's type; nullopt for NULL or no argument.
std::optional<Cell> procedureArgument(Session::Impl& session, const sql::Expr* e, const SqlType& type);
std::optional<std::string> procedureTextArgument(Session::Impl& session, const sql::Expr* e, int length);

// sp_tables: the current database's tables and views, as ODBC drivers ask for them (SQLTables).
void listTables(Session::Impl& session, const sql::ExecuteStatement& s, StatementOutcome& out);

}  // namespace vopa::engine
