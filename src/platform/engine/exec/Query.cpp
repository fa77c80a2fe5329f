// SELECT, SELECT ... INTO and IF.

#include "platform/engine/SessionImpl.h"
#include "platform/engine/translate/Compiler.h"

namespace vopa::engine {

void Session::Impl::execSelect(const sql::SelectStatement& s, StatementOutcome& out) {
    if (!s.select.into.empty()) {
        // SELECT ... INTO: a new table with the query's columns, then its rows.
        translate::Compiler compiler(compileContext());
        const std::pair<std::string, std::string> names = splitName(s.select.into);
        const std::string& databaseName = names.first;
        const std::string& tableName = names.second;
        if (table(s.select.into, false).table)
            throw EngineError(err::ObjectExists, "There is already an object named '" + tableName + "' in the database.",
                              16, 6);
        translate::CompiledSelect compiled = compiler.select(s.select, nullptr, false, true);
        storage::TableInfo info;
        info.name = tableName;
        int id = 1;
        for (const ResultColumn& c : compiled.columns) {
            if (c.name.empty())
                throw EngineError(err::EmptyName,
                                  "An object or column name is missing or empty. For SELECT INTO statements, "
                                  "verify each column has a name.");
            storage::ColumnInfo col;
            col.id = id++;
            col.name = c.name;
            col.type = c.type;
            col.nullable = c.nullable;
            // A column taken as it stands from one table keeps its identity property, as on the server.
            if (compiled.singleBase && c.baseColumnId)
                if (const storage::ColumnInfo* source = compiled.singleBase->table->columnById(c.baseColumnId);
                    source && source->identity && !info.identityColumn()) {
                    col.identity = true;
                    col.seed = source->seed;
                    col.increment = source->increment;
                    col.nullable = false;
                }
            info.columns.push_back(std::move(col));
        }
        DatabaseHandle target = database(databaseName);
        atomically([&] {
            info.objectId = storage::nextObjectId(*db, target.alias);
            storage::createTable(*db, target.alias, info);
            std::string cols;
            for (const storage::ColumnInfo& c : info.columns) cols += (cols.empty() ? "" : ", ") + c.storageName();
            db->exec("INSERT INTO " + storage::quoteIdentifier(target.alias) + "." +
                     storage::quoteIdentifier(info.storageName()) + "(" + cols + ") " + compiled.sql);
            out.rowsAffected = db->changes();
            if (info.identityColumn() && out.rowsAffected > 0)
                storage::unsettleIdentity(*db, target.alias, info.objectId);
        });
        catalogChanged(target);
        return;
    }
    translate::Compiler compiler(compileContext());
    translate::CompiledSelect compiled = compiler.select(s.select, nullptr, true);
    ResultSet rs = collect(compiled.sql, compiled.columns, compiled.singleBase.has_value());
    if (compiled.singleBase) {
        rs.baseDatabase = compiled.singleBase->db.name;
        rs.baseTable = compiled.singleBase->table->name;
    }
    out.rowsAffected = static_cast<std::int64_t>(rs.rows.size());
    out.resultSet = std::move(rs);
}

bool Session::Impl::evaluateCondition(const sql::Expr& condition) {
    translate::Compiler compiler(compileContext());
    translate::Scope scope;
    translate::Compiled c = compiler.expr(condition, scope);
    storage::Statement q = db->prepare("SELECT CASE WHEN " + c.sql + " THEN 1 ELSE 0 END");
    return q.step() && q.columnInt(0) == 1;
}

void Session::Impl::execIf(const sql::IfStatement& s, std::string_view batch, StatementOutcome& out) {
    if (evaluateCondition(*s.condition)) {
        run(*s.then, batch, out);
    } else if (s.otherwise) {
        run(*s.otherwise, batch, out);
    }
}

}  // namespace vopa::engine
