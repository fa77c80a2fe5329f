#include "Catalog.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <set>

#include "Functions.h"
#include "Sqlite.h"
#include "platform/engine/EngineError.h"
#include "platform/text/Text.h"

namespace vopa::engine::storage {
namespace {

constexpr std::int64_t kFirstObjectId = 100'003;

std::string qualified(const std::string& schema, std::string_view name) {
    return quoteIdentifier(schema) + "." + quoteIdentifier(name);
}

char typeCode(TableInfo::Type t) {
    switch (t) {
        case TableInfo::Type::Table: return 'U';
        case TableInfo::Type::View: return 'V';
        case TableInfo::Type::System: return 'S';
    }
    return 'U';
}

TableInfo::Type typeFromCode(const std::string& code) {
    if (code == "V") return TableInfo::Type::View;
    if (code == "S") return TableInfo::Type::System;
    return TableInfo::Type::Table;
}

std::string joinInts(const std::vector<int>& ids, const std::vector<bool>& desc) {
    std::string s;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i) s += ",";
        s += std::to_string(ids[i]);
        if (i < desc.size() && desc[i]) s += "-";
    }
    return s;
}

void splitInts(const std::string& s, std::vector<int>& ids, std::vector<bool>& desc) {
    std::size_t pos = 0;
    while (pos < s.size()) {
        std::size_t comma = s.find(',', pos);
        std::string part = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        bool d = !part.empty() && part.back() == '-';
        if (d) part.pop_back();
        ids.push_back(std::stoi(part));
        desc.push_back(d);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
}

}  // namespace

const ColumnInfo* TableInfo::findColumn(std::string_view n) const {
    for (const ColumnInfo& c : columns)
        if (text::equalsNoCase(c.name, n)) return &c;
    return nullptr;
}

const ColumnInfo* TableInfo::columnById(int id) const {
    for (const ColumnInfo& c : columns)
        if (c.id == id) return &c;
    return nullptr;
}

const ColumnInfo* TableInfo::identityColumn() const {
    for (const ColumnInfo& c : columns)
        if (c.identity) return &c;
    return nullptr;
}

const IndexInfo* TableInfo::findIndex(std::string_view n) const {
    for (const IndexInfo& i : indexes)
        if (text::equalsNoCase(i.name, n)) return &i;
    return nullptr;
}

int TableInfo::nextColumnId() const {
    int id = 0;
    for (const ColumnInfo& c : columns) id = std::max(id, c.id);
    return id + 1;
}

int TableInfo::nextIndexId() const {
    int id = 1;  // 1 is the clustered index's number on the server
    for (const IndexInfo& i : indexes) id = std::max(id, i.id);
    return id + 1;
}

const TableInfo* DatabaseCatalog::find(std::string_view name) const {
    auto it = byName_.find(text::toUpper(name));
    return it == byName_.end() ? nullptr : &tables_[it->second];
}

const TableInfo* DatabaseCatalog::findById(std::int64_t objectId) const {
    // Tables are kept in object id order.
    auto it = std::lower_bound(tables_.begin(), tables_.end(), objectId,
                               [](const TableInfo& t, std::int64_t id) { return t.objectId < id; });
    return it != tables_.end() && it->objectId == objectId ? &*it : nullptr;
}

std::shared_ptr<const DatabaseCatalog> DatabaseCatalog::of(const std::string& databaseName,
                                                           std::vector<TableInfo> tables) {
    auto catalog = std::make_shared<DatabaseCatalog>();
    catalog->databaseName = databaseName;
    // Kept in object id order, as findById expects.
    std::sort(tables.begin(), tables.end(),
              [](const TableInfo& a, const TableInfo& b) { return a.objectId < b.objectId; });
    catalog->tables_ = std::move(tables);
    catalog->versions_.assign(catalog->tables_.size(), 0);
    for (std::size_t i = 0; i < catalog->tables_.size(); ++i)
        catalog->byName_[text::toUpper(catalog->tables_[i].name)] = i;
    return catalog;
}

namespace {

ColumnInfo readColumn(Statement& columns) {
    ColumnInfo c;
    c.id = static_cast<int>(columns.columnInt(1));
    c.name = columns.columnText(2);
    c.type = SqlType::fromName(columns.columnText(3), static_cast<int>(columns.columnInt(4)),
                               static_cast<int>(columns.columnInt(5)), static_cast<int>(columns.columnInt(6)));
    c.nullable = columns.columnInt(7) != 0;
    c.identity = columns.columnInt(8) != 0;
    c.seed = columns.columnInt(9);
    c.increment = columns.columnInt(10);
    c.defaultText = columns.columnText(11);
    c.defaultName = columns.columnText(12);
    c.collation = columns.columnText(13);
    return c;
}

IndexInfo readIndex(Statement& indexes) {
    IndexInfo i;
    i.id = static_cast<int>(indexes.columnInt(1));
    i.name = indexes.columnText(2);
    i.unique = indexes.columnInt(3) != 0;
    i.uniqueConstraint = indexes.columnInt(3) == 2;
    i.primaryKey = indexes.columnInt(4) != 0;
    i.clustered = indexes.columnInt(5) != 0;
    i.fillFactor = static_cast<int>(indexes.columnInt(6));
    splitInts(indexes.columnText(7), i.columnIds, i.descending);
    return i;
}

}  // namespace

std::shared_ptr<const DatabaseCatalog> DatabaseCatalog::load(Connection& db, const std::string& schema,
                                                             const DatabaseCatalog* previous) {
    auto catalog = std::make_shared<DatabaseCatalog>();
    {
        Statement v = db.preparePrivileged("PRAGMA " + quoteIdentifier(schema) + ".schema_version");
        if (v.step()) catalog->schemaVersion = v.columnInt(0);
    }
    {
        Statement info = db.prepare("SELECT value FROM " + qualified(schema, "__vopa_info") + " WHERE key = 'name'");
        if (info.step()) catalog->databaseName = info.columnText(0);
    }
    // Objects unchanged since the previous reading are kept as they were; the others are read again.
    std::vector<std::int64_t> stale;
    Statement objects = db.prepare("SELECT object_id, name, type, view_text, version FROM " +
                                   qualified(schema, "__vopa_objects") + " ORDER BY object_id");
    while (objects.step()) {
        const std::int64_t objectId = objects.columnInt(0), version = objects.columnInt(4);
        const TableInfo* old = previous ? previous->findById(objectId) : nullptr;
        if (old && previous->versions_[static_cast<std::size_t>(old - previous->tables_.data())] == version) {
            catalog->tables_.push_back(*old);
        } else {
            TableInfo t;
            t.objectId = objectId;
            t.name = objects.columnText(1);
            t.type = typeFromCode(objects.columnText(2));
            t.viewText = objects.columnText(3);
            catalog->tables_.push_back(std::move(t));
            stale.push_back(objectId);
        }
        catalog->versions_.push_back(version);
        catalog->byName_[text::toUpper(catalog->tables_.back().name)] = catalog->tables_.size() - 1;
    }
    if (stale.empty()) return catalog;
    std::string filter;
    if (previous) {
        filter = " WHERE object_id IN (";
        for (std::size_t i = 0; i < stale.size(); ++i) filter += (i ? "," : "") + std::to_string(stale[i]);
        filter += ")";
    }
    Statement columns = db.prepare(
        "SELECT object_id, column_id, name, type, length, precision, scale, nullable, is_identity, seed, increment, "
        "default_text, default_name, collation FROM " +
        qualified(schema, "__vopa_columns") + filter + " ORDER BY object_id, column_id");
    TableInfo* current = nullptr;
    while (columns.step()) {
        std::int64_t objectId = columns.columnInt(0);
        if (!current || current->objectId != objectId) current = const_cast<TableInfo*>(catalog->findById(objectId));
        if (current) current->columns.push_back(readColumn(columns));
    }
    Statement indexes = db.prepare("SELECT object_id, index_id, name, is_unique, is_primary_key, clustered, "
                                   "fill_factor, columns FROM " +
                                   qualified(schema, "__vopa_indexes") + filter + " ORDER BY object_id, index_id");
    while (indexes.step()) {
        auto* t = const_cast<TableInfo*>(catalog->findById(indexes.columnInt(0)));
        if (t) t->indexes.push_back(readIndex(indexes));
    }
    return catalog;
}

void touchObject(Connection& db, const std::string& schema, std::int64_t objectId) {
    Statement put = db.prepare("UPDATE " + qualified(schema, "__vopa_objects") +
                               " SET version = version + 1 WHERE object_id = ?1");
    put.bind(1, objectId).run();
}

void initialiseDatabase(Connection& db, const std::string& schema, const std::string& databaseName) {
    const std::string s = quoteIdentifier(schema) + ".";
    const char* tables[] = {
        "__vopa_info(key TEXT PRIMARY KEY, value)",
        "__vopa_objects(object_id INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE VOPA_CI UNIQUE, "
        "type TEXT NOT NULL, identity_current INTEGER, view_text TEXT, created INTEGER, version INTEGER NOT NULL DEFAULT 1, "
        "identity_unsettled INTEGER NOT NULL DEFAULT 0)",
        "__vopa_columns(object_id INTEGER NOT NULL, column_id INTEGER NOT NULL, name TEXT NOT NULL, "
        "type TEXT NOT NULL, length INTEGER, precision INTEGER, scale INTEGER, nullable INTEGER, "
        "is_identity INTEGER, seed INTEGER, increment INTEGER, default_text TEXT, default_name TEXT, "
        "collation TEXT, PRIMARY KEY(object_id, column_id))",
        "__vopa_indexes(object_id INTEGER NOT NULL, index_id INTEGER NOT NULL, name TEXT NOT NULL, "
        "is_unique INTEGER, is_primary_key INTEGER, clustered INTEGER, fill_factor INTEGER, columns TEXT, "
        "PRIMARY KEY(object_id, index_id))",
    };
    for (const char* table : tables) db.exec("CREATE TABLE " + s + table);
    Statement put = db.prepare("INSERT INTO " + s + "__vopa_info(key, value) VALUES ('name', ?1)");
    put.bind(1, databaseName).run();
    markCollationOrder(db, schema);
}

namespace {

// The order of the collation the indexes of a file were built with; raised whenever that order changes.
constexpr std::int64_t kCollationOrder = 2;

}  // namespace

void markCollationOrder(Connection& db, const std::string& schema) {
    std::int64_t order = 0;
    {
        Statement q = db.prepare("SELECT value FROM " + qualified(schema, "__vopa_info") + " WHERE key = 'collation_order'");
        if (q.step()) order = q.columnInt(0);
    }
    if (order == kCollationOrder) return;
    std::vector<std::string> tables;
    {
        Statement q = db.prepare("SELECT name FROM " + qualified(schema, "sqlite_master") + " WHERE type = 'table'");
        while (q.step()) tables.push_back(q.columnText(0));
    }
    for (const std::string& table : tables)
        if (table.rfind("sqlite_", 0) != 0) db.exec("REINDEX " + qualified(schema, table));
    Statement put = db.prepare("INSERT OR REPLACE INTO " + qualified(schema, "__vopa_info") +
                               "(key, value) VALUES ('collation_order', ?1)");
    put.bind(1, kCollationOrder).run();
}

void upgradeCollationOrder(const std::string& file) {
    static std::mutex mutex;
    static std::set<std::string> checked;  // files (and their versions on disk) already current
    std::lock_guard<std::mutex> lock(mutex);
    struct stat st {};
    const std::string key = ::stat(file.c_str(), &st) == 0
                                ? file + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) +
                                      "." + std::to_string(st.st_mtim.tv_nsec)
                                : file;
    if (checked.count(key)) return;
    std::unique_ptr<Connection> opened;
    try {
        opened = std::make_unique<Connection>(file, false);
    } catch (const EngineError&) {
        // A file that cannot be opened for writing (read-only) keeps its indexes; attaching it reports
        // whatever is wrong with it.
        return;
    }
    Connection& db = *opened;
    registerCollation(db.handle());
    {
        // Read first: a current file needs no write lock.
        Statement q = db.prepare("SELECT value FROM main.__vopa_info WHERE key = 'collation_order'");
        if (q.step() && q.columnInt(0) == kCollationOrder) {
            checked.insert(key);
            return;
        }
    }
    try {
        db.exec("BEGIN IMMEDIATE");
    } catch (const EngineError& e) {
        if (e.number() == err::DatabaseReadOnly) return;  // read-only: nothing can be rebuilt
        throw;
    }
    try {
        markCollationOrder(db, "main");
        db.exec("COMMIT");
    } catch (...) {
        db.exec("ROLLBACK");
        throw;
    }
    checked.insert(key);
}

std::int64_t nextObjectId(Connection& db, const std::string& schema) {
    // A counter, not max(object_id) + 1: a dropped table's number is never given again, so that a
    // catalog read earlier cannot mistake a new table for the old one.
    std::int64_t next = kFirstObjectId;
    {
        Statement q = db.prepare("SELECT max(object_id) FROM " + qualified(schema, "__vopa_objects"));
        if (q.step() && !q.columnIsNull(0)) next = std::max(next, q.columnInt(0) + 1);
    }
    {
        Statement q = db.prepare("SELECT value FROM " + qualified(schema, "__vopa_info") + " WHERE key = 'next_object_id'");
        if (q.step()) next = std::max(next, q.columnInt(0));
    }
    Statement put = db.prepare("INSERT OR REPLACE INTO " + qualified(schema, "__vopa_info") +
                               "(key, value) VALUES ('next_object_id', ?1)");
    put.bind(1, next + 1).run();
    return next;
}

std::string storageDeclaration(const ColumnInfo& column) {
    switch (column.type.storage()) {
        case Storage::Integer:
        case Storage::Scaled:
        case Storage::DateMillis: return "INTEGER";
        case Storage::Real: return "REAL";
        case Storage::Text: return "TEXT COLLATE VOPA_CI";
        case Storage::Blob: return "BLOB";
    }
    return "";
}

static void insertColumnRecord(Connection& db, const std::string& schema, std::int64_t objectId, const ColumnInfo& c) {
    Statement put = db.prepare("INSERT INTO " + qualified(schema, "__vopa_columns") +
                               " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
    put.bind(1, objectId)
        .bind(2, static_cast<std::int64_t>(c.id))
        .bind(3, c.name)
        .bind(4, c.type.name())
        .bind(5, static_cast<std::int64_t>(c.type.length))
        .bind(6, static_cast<std::int64_t>(c.type.storage() == Storage::Scaled ? c.type.precision : -1))
        .bind(7, static_cast<std::int64_t>(c.type.storage() == Storage::Scaled ? c.type.scale : -1))
        .bind(8, static_cast<std::int64_t>(c.nullable))
        .bind(9, static_cast<std::int64_t>(c.identity))
        .bind(10, c.seed)
        .bind(11, c.increment)
        .bind(12, c.defaultText)
        .bind(13, c.defaultName)
        .bind(14, c.collation)
        .run();
}

void createTable(Connection& db, const std::string& schema, const TableInfo& table) {
    Statement put = db.prepare("INSERT INTO " + qualified(schema, "__vopa_objects") +
                               "(object_id, name, type, identity_current, created) VALUES (?1, ?2, ?3, ?4, "
                               "strftime('%s','now'))");
    put.bind(1, table.objectId).bind(2, table.name).bind(3, std::string(1, typeCode(table.type)));
    put.bindNull(4);  // no identity value handed out yet
    put.run();
    std::string ddl = "CREATE TABLE " + qualified(schema, table.storageName()) + "(";
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const ColumnInfo& c = table.columns[i];
        if (i) ddl += ", ";
        ddl += c.storageName() + " " + storageDeclaration(c);
        insertColumnRecord(db, schema, table.objectId, c);
    }
    db.exec(ddl + ")");
}

void createView(Connection& db, const std::string& schema, const TableInfo& view) {
    Statement put = db.prepare("INSERT INTO " + qualified(schema, "__vopa_objects") +
                               "(object_id, name, type, view_text, created) VALUES (?1, ?2, 'V', ?3, "
                               "strftime('%s','now'))");
    put.bind(1, view.objectId).bind(2, view.name).bind(3, view.viewText).run();
    for (const ColumnInfo& c : view.columns) insertColumnRecord(db, schema, view.objectId, c);
}

void dropObject(Connection& db, const std::string& schema, const TableInfo& table) {
    for (const char* t : {"__vopa_objects", "__vopa_columns", "__vopa_indexes"}) {
        Statement del = db.prepare("DELETE FROM " + qualified(schema, t) + " WHERE object_id = ?1");
        del.bind(1, table.objectId).run();
    }
    if (table.type != TableInfo::Type::View) db.exec("DROP TABLE IF EXISTS " + qualified(schema, table.storageName()));
}

void addColumn(Connection& db, const std::string& schema, const TableInfo& table, const ColumnInfo& column) {
    touchObject(db, schema, table.objectId);
    insertColumnRecord(db, schema, table.objectId, column);
    db.exec("ALTER TABLE " + qualified(schema, table.storageName()) + " ADD COLUMN " + column.storageName() + " " +
            storageDeclaration(column));
    if (column.identity) {
        Statement put = db.prepare("UPDATE " + qualified(schema, "__vopa_objects") +
                                   " SET identity_current = ?2 WHERE object_id = ?1");
        put.bind(1, table.objectId).bind(2, column.seed - column.increment).run();
    }
}

void dropColumn(Connection& db, const std::string& schema, const TableInfo& table, const ColumnInfo& column) {
    touchObject(db, schema, table.objectId);
    Statement del = db.prepare("DELETE FROM " + qualified(schema, "__vopa_columns") +
                               " WHERE object_id = ?1 AND column_id = ?2");
    del.bind(1, table.objectId).bind(2, static_cast<std::int64_t>(column.id)).run();
    db.exec("ALTER TABLE " + qualified(schema, table.storageName()) + " DROP COLUMN " + column.storageName());
}

void addIndex(Connection& db, const std::string& schema, const TableInfo& table, const IndexInfo& index) {
    touchObject(db, schema, table.objectId);
    Statement put = db.prepare("INSERT INTO " + qualified(schema, "__vopa_indexes") +
                               " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    put.bind(1, table.objectId)
        .bind(2, static_cast<std::int64_t>(index.id))
        .bind(3, index.name)
        .bind(4, static_cast<std::int64_t>(index.uniqueConstraint ? 2 : index.unique ? 1 : 0))
        .bind(5, static_cast<std::int64_t>(index.primaryKey))
        .bind(6, static_cast<std::int64_t>(index.clustered))
        .bind(7, static_cast<std::int64_t>(index.fillFactor))
        .bind(8, joinInts(index.columnIds, index.descending))
        .run();
    std::string ddl = std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
                      qualified(schema, index.storageName(table.objectId)) + " ON " +
                      quoteIdentifier(table.storageName()) + "(";
    for (std::size_t i = 0; i < index.columnIds.size(); ++i) {
        if (i) ddl += ", ";
        ddl += "c" + std::to_string(index.columnIds[i]);
        if (i < index.descending.size() && index.descending[i]) ddl += " DESC";
    }
    db.exec(ddl + ")");
}

void dropIndex(Connection& db, const std::string& schema, const TableInfo& table, const IndexInfo& index) {
    touchObject(db, schema, table.objectId);
    Statement del = db.prepare("DELETE FROM " + qualified(schema, "__vopa_indexes") +
                               " WHERE object_id = ?1 AND index_id = ?2");
    del.bind(1, table.objectId).bind(2, static_cast<std::int64_t>(index.id)).run();
    db.exec("DROP INDEX IF EXISTS " + qualified(schema, index.storageName(table.objectId)));
}

IdentityState identityState(Connection& db, const std::string& schema, std::int64_t objectId) {
    Statement q = db.prepare("SELECT identity_current, identity_unsettled FROM " + qualified(schema, "__vopa_objects") +
                             " WHERE object_id = ?1");
    q.bind(1, objectId);
    IdentityState state;
    if (!q.step()) return state;
    if (!q.columnIsNull(0)) state.current = q.columnInt(0);
    state.unsettled = q.columnInt(1) != 0;
    return state;
}

void setIdentityCurrent(Connection& db, const std::string& schema, std::int64_t objectId, std::int64_t value) {
    Statement put = db.prepare("UPDATE " + qualified(schema, "__vopa_objects") +
                               " SET identity_current = ?2, identity_unsettled = 0 WHERE object_id = ?1");
    put.bind(1, objectId).bind(2, value).run();
}

void resetIdentity(Connection& db, const std::string& schema, std::int64_t objectId) {
    Statement put = db.prepare("UPDATE " + qualified(schema, "__vopa_objects") +
                               " SET identity_current = NULL, identity_unsettled = 0 WHERE object_id = ?1");
    put.bind(1, objectId).run();
}

void unsettleIdentity(Connection& db, const std::string& schema, std::int64_t objectId) {
    Statement put = db.prepare("UPDATE " + qualified(schema, "__vopa_objects") +
                               " SET identity_unsettled = 1 WHERE object_id = ?1");
    put.bind(1, objectId).run();
}

std::string normaliseDefault(std::string_view written) {
    std::string t(written);
    auto trim = [](std::string& s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\r' || s.front() == '\n' || s.front() == '\t'))
            s.erase(s.begin());
        while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n' || s.back() == '\t')) s.pop_back();
    };
    trim(t);
    // Strip the parentheses that enclose the whole expression.
    auto enclosed = [](const std::string& s) {
        if (s.size() < 2 || s.front() != '(' || s.back() != ')') return false;
        int depth = 0;
        bool quoted = false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            char c = s[i];
            if (c == '\'') quoted = !quoted;
            if (quoted) continue;
            if (c == '(') ++depth;
            if (c == ')' && --depth == 0 && i + 1 < s.size()) return false;
        }
        return true;
    };
    while (enclosed(t)) {
        t = t.substr(1, t.size() - 2);
        trim(t);
    }
    bool number = !t.empty() && t.find_first_not_of("0123456789.-+") == std::string::npos;
    return number ? "((" + t + "))" : "(" + t + ")";
}

}  // namespace vopa::engine::storage
