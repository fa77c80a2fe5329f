// CREATE INDEX, DROP INDEX, CREATE VIEW and DROP VIEW.

#include "platform/engine/SessionImpl.h"
#include "platform/engine/exec/Keys.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine {

void Session::Impl::execCreateIndex(const sql::CreateIndexStatement& s, StatementOutcome&) {
    TableHandle t = table(s.table);
    if (t.table->type != storage::TableInfo::Type::Table)
        throw EngineError(err::IndexOnUnboundView,
                          "Cannot create index on view '" + t.table->name + "' because the view is not schema bound.");
    if (t.table->findIndex(s.name))
        throw EngineError(err::IndexExists, "The operation failed because an index or statistics with name '" + s.name +
                                                "' already exists on table '" + t.table->name + "'.");
    exec::IndexRequest r;
    r.name = s.name;
    r.unique = s.unique;
    r.clustered = s.clustered.value_or(false);
    r.fillFactor = s.options.fillFactor.value_or(0);
    r.columns = s.columns;
    atomically([&] { exec::createIndex(*this, t, r); });
    catalogChanged(t.db);
}

void Session::Impl::execDropIndex(const sql::DropIndexStatement& s, StatementOutcome&) {
    TableHandle t = table(s.table);
    const storage::IndexInfo* i = t.table->findIndex(s.name);
    if (!i)
        throw EngineError(err::CannotDropMissing, "Cannot drop the index '" + t.table->name + "." + s.name +
                                                      "', because it does not exist or you do not have permission.");
    if (i->primaryKey)
        throw EngineError(err::DropConstraintIndex, "An explicit DROP INDEX is not allowed on index '" + t.table->name +
                                                        "." + s.name +
                                                        "'. It is being used for PRIMARY KEY constraint enforcement.");
    atomically([&] { storage::dropIndex(*db, t.db.alias, *t.table, *i); });
    catalogChanged(t.db);
}

void Session::Impl::execCreateView(const sql::CreateViewStatement& s, std::string_view, StatementOutcome&) {
    const std::pair<std::string, std::string> names = splitName(s.view);
    const std::string& databaseName = names.first;
    const std::string& viewName = names.second;
    if (!databaseName.empty() && !text::equalsNoCase(databaseName, currentDatabase))
        throw EngineError(err::ViewNameWithDatabase,
                          "'CREATE VIEW' does not allow specifying the database name as a prefix to the object name.");
    DatabaseHandle target = database(databaseName);
    if (target.catalog->find(viewName))
        throw EngineError(err::ObjectExists, "There is already an object named '" + viewName + "' in the database.");
    // Compiling the query checks its names now, as the server does.
    translate::Compiler compiler(compileContext());
    translate::CompiledSelect compiled = compiler.select(*s.select, nullptr);
    storage::TableInfo view;
    view.name = viewName;
    view.type = storage::TableInfo::Type::View;
    view.viewText = s.selectText;
    if (!s.columns.empty() && s.columns.size() != compiled.columns.size())
        throw EngineError(err::ViewColumnListTooLong,
                          "'" + viewName + "' has fewer columns than were specified in the column list.");
    int id = 1;
    for (std::size_t i = 0; i < compiled.columns.size(); ++i) {
        storage::ColumnInfo c;
        c.id = id++;
        c.name = s.columns.empty() ? compiled.columns[i].name : s.columns[i];
        if (c.name.empty())
            throw EngineError(err::ViewColumnUnnamed,
                              "Create View or Function failed because no column name was specified for column " +
                                  std::to_string(i + 1) + ".");
        c.type = compiled.columns[i].type;
        c.nullable = compiled.columns[i].nullable;
        view.columns.push_back(std::move(c));
    }
    atomically([&] {
        view.objectId = storage::nextObjectId(*db, target.alias);
        storage::createView(*db, target.alias, view);
    });
    catalogChanged(target);
}

void Session::Impl::execDropView(const sql::DropViewStatement& s, StatementOutcome&) {
    for (const sql::QualifiedName& name : s.views) {
        TableHandle t = table(name, false);
        if (!t.table || t.table->type != storage::TableInfo::Type::View) {
            if (s.ifExists && !t.table) continue;
            throw EngineError(
                err::CannotDropMissing,
                "Cannot drop the view '" + name.text() + "', because it does not exist or you do not have permission.");
        }
        atomically([&] { storage::dropObject(*db, t.db.alias, *t.table); });
        catalogChanged(t.db);
    }
}

}  // namespace vopa::engine
