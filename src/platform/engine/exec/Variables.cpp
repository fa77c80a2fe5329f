// Local variables of a batch: DECLARE, SET @v = ..., and the values that expressions read.
//
// As on the server a variable exists from its DECLARE to the end of the batch, in the order of the
// text: a name is known to every statement written after its declaration (also when the DECLARE was
// not run, e.g. in a branch of an IF not taken), and unknown before it (137).

#include <sqlite3.h>

#include "platform/engine/SessionImpl.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

// Every DECLARE of the batch, nested ones included, in the order of the text.
void collectDeclarations(const sql::Statement& st, std::vector<const sql::DeclareStatement*>& out) {
    using K = sql::StatementKind;
    switch (st.kind) {
        case K::Declare: out.push_back(static_cast<const sql::DeclareStatement*>(&st)); return;
        case K::If: {
            const auto& s = static_cast<const sql::IfStatement&>(st);
            if (s.then) collectDeclarations(*s.then, out);
            if (s.otherwise) collectDeclarations(*s.otherwise, out);
            return;
        }
        case K::Block:
            for (const sql::StatementPtr& inner : static_cast<const sql::BlockStatement&>(st).statements)
                collectDeclarations(*inner, out);
            return;
        default: return;
    }
}

}  // namespace

void Session::Impl::declareBatchVariables(const std::vector<sql::StatementPtr>& statements) {
    variables_.clear();
    std::vector<const sql::DeclareStatement*> declarations;
    for (const sql::StatementPtr& st : statements) collectDeclarations(*st, declarations);
    for (const sql::DeclareStatement* d : declarations) {
        int position = 0;
        for (const sql::DeclareStatement::Variable& v : d->variables) {
            ++position;
            const std::string key = text::toUpper(v.name);
            if (variables_.count(key))
                throw EngineError(err::VariableRedeclared,
                                  "The variable name '" + v.name +
                                      "' has already been declared. Variable names must be unique within a query "
                                      "batch or stored procedure.",
                                  15);
            SqlType type;
            try {
                type = SqlType::fromName(v.type.name, v.type.length, v.type.precision, v.type.scale);
            } catch (const EngineError& e) {
                if (e.number() != err::UnknownType) throw;
                throw EngineError(err::UnknownType, "Column, parameter, or variable #" + std::to_string(position) +
                                                        ": Cannot find data type " + v.type.name + ".");
            }
            if (type.isLob())
                throw EngineError(err::LobVariable,
                                  "The text, ntext, and image data types are invalid for local variables.");
            variables_[key] = BatchVariable{type, v.offset, Cell::null()};
        }
    }
}

Session::Impl::BatchVariable& Session::Impl::variable(const std::string& name, std::size_t usedAt) {
    auto it = variables_.find(text::toUpper(name));
    if (it == variables_.end() || it->second.declaredAt > usedAt)
        throw EngineError(err::UndeclaredVariable, "Must declare the scalar variable \"" + name + "\".", 15);
    return it->second;
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
