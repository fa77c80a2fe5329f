// Statements compiled without running them: the translator's pass over a batch before it runs.

#include "Compiler.h"
#include "platform/engine/sql/Parser.h"
#include "platform/text/Text.h"

namespace vopa::engine::translate {
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

Variables declareVariables(const std::vector<sql::StatementPtr>& statements) {
    Variables variables;
    std::vector<const sql::DeclareStatement*> declarations;
    for (const sql::StatementPtr& st : statements) collectDeclarations(*st, declarations);
    for (const sql::DeclareStatement* d : declarations) {
        int position = 0;
        for (const sql::DeclareStatement::Variable& v : d->variables) {
            ++position;
            const std::string key = text::toUpper(v.name);
            if (variables.count(key))
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
            variables[key] = BatchVariable{type, v.offset, Cell::null()};
        }
    }
    return variables;
}

BatchVariable& findVariable(Variables& variables, const std::string& name, std::size_t usedAt) {
    auto it = variables.find(text::toUpper(name));
    if (it == variables.end() || it->second.declaredAt > usedAt)
        throw EngineError(err::UndeclaredVariable, "Must declare the scalar variable \"" + name + "\".", 15);
    return it->second;
}

TableHandle writableTable(CompileContext& context, const sql::QualifiedName& name) {
    TableHandle t = context.table(name, true);
    requireWritable(t);
    return t;
}

void requireWritable(const TableHandle& t) {
    // The list of databases and the catalog views are the server's own: a changed file name there would
    // let DROP DATABASE delete any file.
    if (t.table->type == storage::TableInfo::Type::System)
        throw EngineError(err::AdHocCatalogUpdate, "Ad hoc updates to system catalogs are not allowed.");
    if (t.table->type == storage::TableInfo::Type::View)
        throw EngineError(err::NotSupported, "The embedded engine does not support changing rows through a view.");
}

void compileStatement(CompileContext& context, const sql::Statement& st) {
    using K = sql::StatementKind;
    Compiler compiler(context);
    Scope none;
    // The scope of an UPDATE or DELETE: the target table alone.
    auto targetScope = [&](const TableHandle& t) {
        Scope scope;
        scope.tables.push_back(compiler.bindTable(t, ""));
        return scope;
    };
    switch (st.kind) {
        case K::Select: {
            const auto& s = static_cast<const sql::SelectStatement&>(st);
            compiler.select(s.select, nullptr, false, true);
            return;
        }
        case K::Insert: {
            const auto& s = static_cast<const sql::InsertStatement&>(st);
            TableHandle t = writableTable(context, s.table);
            for (const std::string& name : s.columns)
                if (!t.table->findColumn(name)) throw EngineError(err::InvalidColumn, "Invalid column name '" + name + "'.");
            for (const auto& row : s.rows)
                for (const sql::ExprPtr& v : row) compiler.expr(*v, none);
            if (s.select) compiler.select(*s.select, nullptr);
            return;
        }
        case K::Update: {
            const auto& s = static_cast<const sql::UpdateStatement&>(st);
            if (!s.from.empty()) return;
            TableHandle t = writableTable(context, s.table);
            const Scope scope = targetScope(t);
            for (const sql::Assignment& a : s.assignments) {
                if (!t.table->findColumn(a.column.last()))
                    throw EngineError(err::InvalidColumn, "Invalid column name '" + a.column.last() + "'.");
                compiler.expr(*a.value, scope);
            }
            if (s.where) compiler.expr(*s.where, scope);
            return;
        }
        case K::Delete: {
            const auto& s = static_cast<const sql::DeleteStatement&>(st);
            if (!s.from.empty()) return;
            TableHandle t = writableTable(context, s.table);
            const Scope scope = targetScope(t);
            if (s.where) compiler.expr(*s.where, scope);
            return;
        }
        case K::If: {
            const auto& s = static_cast<const sql::IfStatement&>(st);
            if (s.condition) compiler.expr(*s.condition, none);
            return;
        }
        case K::Declare:
            for (const sql::DeclareStatement::Variable& v : static_cast<const sql::DeclareStatement&>(st).variables)
                if (v.value) compiler.expr(*v.value, none);
            return;
        case K::SetVariable: {
            const auto& s = static_cast<const sql::SetVariableStatement&>(st);
            context.variable(s.name, s.nameOffset);
            compiler.expr(*s.value, none);
            return;
        }
        case K::Execute: {
            const auto& s = static_cast<const sql::ExecuteStatement&>(st);
            if (!s.statusVariable.empty()) context.variable(s.statusVariable, s.statusVariableOffset);
            return;
        }
        default: return;
    }
}

}  // namespace vopa::engine::translate
