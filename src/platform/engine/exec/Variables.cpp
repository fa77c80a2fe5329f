// Local variables of a batch: DECLARE, SET @v = ..., and the values that expressions read.
//
// As on the server a variable exists from its DECLARE to the end of the batch, in the order of the
// text: a name is known to every statement written after its declaration (also when the DECLARE was
// not run, e.g. in a branch of an IF not taken), and unknown before it (137).

#include <sqlite3.h>

#include "platform/engine/SessionImpl.h"
#include "platform/engine/translate/Compiler.h"

namespace vopa::engine {

void Session::Impl::declareBatchVariables(const std::vector<sql::StatementPtr>& statements) {
    variables_.clear();
    variables_ = translate::declareVariables(statements);
}

Session::Impl::BatchVariable& Session::Impl::variable(const std::string& name, std::size_t usedAt) {
    return translate::findVariable(variables_, name, usedAt);
}

void Session::Impl::assignVariable(BatchVariable& target, const sql::Expr& value) {
    translate::Compiler compiler(compileContext());
    translate::Scope none;
    translate::Compiled c = compiler.expr(value, none);
    Cell cell;
    if (c.isNull) {
        cell = Cell::null();
    } else if (c.constant) {
        cell = *c.constant;
    } else {
        storage::Statement q = db->prepare("SELECT " + c.sql);
        if (q.step()) {
            switch (q.columnType(0)) {
                case SQLITE_INTEGER: cell = Cell::integer(q.columnInt(0)); break;
                case SQLITE_FLOAT: cell = Cell::real(q.columnDouble(0)); break;
                case SQLITE_TEXT: cell = Cell::text(q.columnText(0)); break;
                case SQLITE_BLOB: cell = Cell::blob(q.columnText(0)); break;
                default: break;
            }
        }
    }
    setVariable(target, cell, c.type);
}

void Session::Impl::setVariable(BatchVariable& target, const Cell& value, const SqlType& type) {
    // A value too long for the variable is cut without an error, as CAST does.
    target.value = value.isNull() ? Cell::null() : convertCell(value, type, target.type, ConversionMode::Explicit);
}

void Session::Impl::execDeclare(const sql::DeclareStatement& s, StatementOutcome&) {
    for (const sql::DeclareStatement::Variable& v : s.variables)
        if (v.value) assignVariable(variable(v.name, v.offset), *v.value);
}

void Session::Impl::execSetVariable(const sql::SetVariableStatement& s, StatementOutcome&) {
    assignVariable(variable(s.name, s.nameOffset), *s.value);
}

}  // namespace vopa::engine
