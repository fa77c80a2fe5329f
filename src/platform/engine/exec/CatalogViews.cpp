// The server's catalog views (INFORMATION_SCHEMA.TABLES and COLUMNS, sys.indexes, sys.tables,
// sys.objects, sys.columns, sys.databases, sysobjects), filled from a database's catalog into a
// temporary table each time a statement names them.

#include "platform/engine/SessionImpl.h"
#include "platform/engine/storage/Logins.h"
#include "platform/engine/storage/Master.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

using storage::ColumnInfo;
using storage::TableInfo;

struct ViewColumn {
    const char* name;
    SqlType type;
    bool nullable;
};

SqlType sysname() { return SqlType::nvarchar(128); }
SqlType integer() { return SqlType::of(BaseType::Int); }
SqlType tinyint() { return SqlType::of(BaseType::TinyInt); }
SqlType smallint() { return SqlType::of(BaseType::SmallInt); }
SqlType bit() { return SqlType::of(BaseType::Bit); }

struct ViewDefinition {
    const char* schema;  // "INFORMATION_SCHEMA", "sys" or "" (any)
    const char* name;
    std::vector<ViewColumn> columns;
};

const std::vector<ViewDefinition>& definitions() {
    static const std::vector<ViewDefinition> views = {
        {"INFORMATION_SCHEMA", "TABLES",
         {{"TABLE_CATALOG", sysname(), true}, {"TABLE_SCHEMA", sysname(), true}, {"TABLE_NAME", sysname(), false},
          {"TABLE_TYPE", SqlType::varchar(10), true}}},
        {"INFORMATION_SCHEMA", "COLUMNS",
         {{"TABLE_CATALOG", sysname(), true}, {"TABLE_SCHEMA", sysname(), true}, {"TABLE_NAME", sysname(), false},
          {"COLUMN_NAME", sysname(), true}, {"ORDINAL_POSITION", integer(), true},
          {"COLUMN_DEFAULT", SqlType::nvarchar(4000), true}, {"IS_NULLABLE", SqlType::varchar(3), true},
          {"DATA_TYPE", sysname(), true}, {"CHARACTER_MAXIMUM_LENGTH", integer(), true},
          {"CHARACTER_OCTET_LENGTH", integer(), true}, {"NUMERIC_PRECISION", tinyint(), true},
          {"NUMERIC_PRECISION_RADIX", smallint(), true}, {"NUMERIC_SCALE", integer(), true},
          {"DATETIME_PRECISION", smallint(), true}, {"COLLATION_NAME", sysname(), true}}},
        {"sys", "indexes",
         {{"object_id", integer(), false}, {"name", sysname(), true}, {"index_id", integer(), false},
          {"type", tinyint(), false}, {"type_desc", SqlType::nvarchar(60), true}, {"is_unique", bit(), true},
          {"is_primary_key", bit(), true}, {"is_unique_constraint", bit(), true}, {"fill_factor", tinyint(), false}}},
        {"sys", "tables",
         {{"name", sysname(), false}, {"object_id", integer(), false}, {"schema_id", integer(), false},
          {"type", SqlType::fromName("char", 2, -1, -1), true}, {"type_desc", SqlType::nvarchar(60), true}}},
        {"sys", "objects",
         {{"name", sysname(), false}, {"object_id", integer(), false}, {"parent_object_id", integer(), false},
          {"schema_id", integer(), false}, {"type", SqlType::fromName("char", 2, -1, -1), true},
          {"type_desc", SqlType::nvarchar(60), true}}},
        {"sys", "columns",
         {{"object_id", integer(), false}, {"name", sysname(), true}, {"column_id", integer(), false},
          {"max_length", smallint(), false}, {"precision", tinyint(), false}, {"scale", tinyint(), false},
          {"is_nullable", bit(), true}, {"is_identity", bit(), false}}},
        {"sys", "databases", {{"name", sysname(), false}, {"database_id", integer(), false}}},
        {"sys", "sql_logins",
         {{"name", sysname(), false}, {"principal_id", integer(), false}, {"type", SqlType::fromName("char", 1, -1, -1), false},
          {"type_desc", SqlType::nvarchar(60), true}, {"is_disabled", bit(), true},
          {"create_date", SqlType::of(BaseType::DateTime), false}, {"modify_date", SqlType::of(BaseType::DateTime), false},
          {"default_database_name", sysname(), true}, {"is_policy_checked", bit(), true},
          {"is_expiration_checked", bit(), true}, {"password_hash", SqlType::fromName("varbinary", 256, -1, -1), true}}},
        {"sys", "server_principals",
         {{"name", sysname(), false}, {"principal_id", integer(), false}, {"type", SqlType::fromName("char", 1, -1, -1), false},
          {"type_desc", SqlType::nvarchar(60), true}, {"is_disabled", bit(), true},
          {"create_date", SqlType::of(BaseType::DateTime), false}, {"modify_date", SqlType::of(BaseType::DateTime), false},
          {"default_database_name", sysname(), true}}},
        {"", "sysobjects",
         {{"name", sysname(), false}, {"id", integer(), false}, {"xtype", SqlType::fromName("char", 2, -1, -1), false},
          {"type", SqlType::fromName("char", 2, -1, -1), true}}},
    };
    return views;
}

int maxLengthBytes(const SqlType& t) {
    if (t.isLob()) return 16;
    if (t.length == SqlType::kMax) return -1;
    switch (t.storage()) {
        case Storage::Text:
        case Storage::Blob: return t.isUnicode() ? t.length * 2 : t.length;
        default: break;
    }
    switch (t.base) {
        case BaseType::Bit:
        case BaseType::TinyInt: return 1;
        case BaseType::SmallInt: return 2;
        case BaseType::Int:
        case BaseType::Real:
        case BaseType::SmallMoney:
        case BaseType::SmallDateTime: return 4;
        case BaseType::Date: return 3;
        case BaseType::Decimal:
        case BaseType::Numeric: return t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
        default: return 8;
    }
}

std::optional<int> numericPrecision(const SqlType& t) {
    switch (t.base) {
        case BaseType::TinyInt: return 3;
        case BaseType::SmallInt: return 5;
        case BaseType::Int: return 10;
        case BaseType::BigInt: return 19;
        case BaseType::Real: return 24;
        case BaseType::Float: return 53;
        case BaseType::SmallMoney: return 10;
        case BaseType::Money: return 19;
        case BaseType::Decimal:
        case BaseType::Numeric: return t.precision;
        default: return std::nullopt;
    }
}

Cell text(const std::string& s) { return Cell::text(s); }
Cell number(std::int64_t v) { return Cell::integer(v); }
Cell optionalNumber(std::optional<int> v) { return v ? Cell::integer(*v) : Cell::null(); }

std::vector<std::vector<Cell>> rowsOf(const ViewDefinition& view, const DatabaseHandle& db,
                                      const std::vector<storage::DatabaseEntry>& databases) {
    std::vector<std::vector<Cell>> rows;
    const auto& tables = db.catalog->tables();
    const bool standard = std::string_view(view.schema) == "INFORMATION_SCHEMA";
    const std::string v = text::toLower(view.name);
    if (v == "tables" && standard) {
        for (const TableInfo& t : tables) {
            if (t.type == TableInfo::Type::System) continue;
            rows.push_back({text(db.name), text("dbo"), text(t.name),
                            text(t.type == TableInfo::Type::View ? "VIEW" : "BASE TABLE")});
        }
    } else if (v == "columns" && standard) {
        for (const TableInfo& t : tables) {
            if (t.type == TableInfo::Type::System) continue;
            int position = 0;
            for (const ColumnInfo& c : t.columns) {
                ++position;
                const SqlType& type = c.type;
                bool character = type.isString() || type.storage() == Storage::Blob;
                std::optional<int> chars, octets;
                if (character) {
                    chars = type.length == SqlType::kMax ? -1 : type.length;
                    octets = type.length == SqlType::kMax ? -1 : (type.isUnicode() ? type.length * 2 : type.length);
                    if (type.base == BaseType::NText) octets = 2147483646;
                }
                std::optional<int> precision = numericPrecision(type);
                std::optional<int> radix;
                std::optional<int> scale;
                if (precision) {
                    radix = type.storage() == Storage::Real ? 2 : 10;
                    if (type.storage() != Storage::Real) scale = type.storage() == Storage::Scaled ? type.scale : 0;
                }
                std::optional<int> datetimePrecision;
                if (type.isDate()) datetimePrecision = type.base == BaseType::DateTime ? 3 : 0;
                rows.push_back({text(db.name), text("dbo"), text(t.name), text(c.name), number(position),
                                c.defaultText.empty() ? Cell::null() : text(c.defaultText),
                                text(c.nullable ? "YES" : "NO"), text(type.name()), optionalNumber(chars),
                                optionalNumber(octets), optionalNumber(precision), optionalNumber(radix),
                                optionalNumber(scale), optionalNumber(datetimePrecision),
                                type.isString() ? text("Latin1_General_CI_AS") : Cell::null()});
            }
        }
    } else if (v == "indexes") {
        for (const TableInfo& t : tables) {
            if (t.type != TableInfo::Type::Table) continue;
            bool clustered = false;
            for (const storage::IndexInfo& i : t.indexes) clustered = clustered || i.clustered;
            if (!clustered) rows.push_back({number(t.objectId), Cell::null(), number(0), number(0), text("HEAP"),
                                            number(0), number(0), number(0), number(0)});
            for (const storage::IndexInfo& i : t.indexes)
                rows.push_back({number(t.objectId), text(i.name), number(i.clustered ? 1 : i.id), number(i.clustered ? 1 : 2),
                                text(i.clustered ? "CLUSTERED" : "NONCLUSTERED"), number(i.unique), number(i.primaryKey),
                                number(i.uniqueConstraint), number(i.fillFactor)});
        }
    } else if (v == "tables") {
        for (const TableInfo& t : tables)
            if (t.type == TableInfo::Type::Table)
                rows.push_back({text(t.name), number(t.objectId), number(1), text("U "), text("USER_TABLE")});
    } else if (v == "objects" || v == "sysobjects") {
        const bool old = v == "sysobjects";
        for (const TableInfo& t : tables) {
            const char* code = t.type == TableInfo::Type::View ? "V " : t.type == TableInfo::Type::System ? "S " : "U ";
            const char* desc = t.type == TableInfo::Type::View ? "VIEW" : t.type == TableInfo::Type::System ? "SYSTEM_TABLE"
                                                                                                           : "USER_TABLE";
            if (old)
                rows.push_back({text(t.name), number(t.objectId), text(code), text(code)});
            else
                rows.push_back({text(t.name), number(t.objectId), number(0), number(1), text(code), text(desc)});
            for (const storage::IndexInfo& i : t.indexes)
                if (i.primaryKey || i.uniqueConstraint) {
                    const char* kind = i.primaryKey ? "PK" : "UQ";
                    if (old)
                        rows.push_back({text(i.name), number(t.objectId * 1000 + i.id), text(kind), text("K ")});
                    else
                        rows.push_back({text(i.name), number(t.objectId * 1000 + i.id), number(t.objectId), number(1),
                                        text(kind), text(i.primaryKey ? "PRIMARY_KEY_CONSTRAINT" : "UNIQUE_CONSTRAINT")});
                }
        }
    } else if (v == "databases") {
        for (const storage::DatabaseEntry& d : databases) rows.push_back({text(d.name), number(d.dbid)});
    }
    return rows;
}

void putRows(storage::Statement& put, const std::vector<std::vector<Cell>>& rows) {
    for (const auto& row : rows) {
        put.reset();
        for (std::size_t i = 0; i < row.size(); ++i) {
            const Cell& c = row[i];
            int index = static_cast<int>(i + 1);
            switch (c.kind) {
                case Cell::Kind::Null: put.bindNull(index); break;
                case Cell::Kind::Integer: put.bind(index, c.i); break;
                case Cell::Kind::Real: put.bind(index, c.r); break;
                case Cell::Kind::Blob: put.bindBlob(index, c.s); break;
                default: put.bind(index, std::string_view(c.s)); break;
            }
        }
        put.run();
    }
}

}  // namespace

std::optional<TableHandle> Session::Impl::catalogView(const sql::QualifiedName& name) {
    const auto& parts = name.parts;
    const std::string object = parts.back();
    const std::string schemaPart = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
    const ViewDefinition* found = nullptr;
    for (const ViewDefinition& d : definitions()) {
        if (!text::equalsNoCase(d.name, object)) continue;
        if (*d.schema ? text::equalsNoCase(d.schema, schemaPart) : (schemaPart.empty() || text::equalsNoCase(schemaPart, "dbo") || text::equalsNoCase(schemaPart, "sys")))
            found = &d;
    }
    if (!found) return std::nullopt;
    auto [databaseName, unused] = splitName(name);
    (void)unused;
    DatabaseHandle source = database(databaseName);
    const bool databasesView = text::equalsNoCase(found->name, "databases");
    std::vector<storage::DatabaseEntry> databases;
    if (databasesView) {
        databases = storage::listDatabases(*db, "d1");
        if (databases.empty() || databases.front().dbid != 1) databases.insert(databases.begin(), {1, "master", "", ""});
    }
    // sys.columns has the shape of INFORMATION_SCHEMA.COLUMNS's sibling; fill it here.
    std::vector<std::vector<Cell>> rows;
    const bool loginsView = text::equalsNoCase(found->schema, "sys") &&
                            (text::equalsNoCase(found->name, "sql_logins") || text::equalsNoCase(found->name, "server_principals"));
    if (loginsView) {
        // The instance's logins, wherever the name is read. A login other than sa sees itself and sa;
        // the password hash is shown to sa and the program's own sessions only.
        const bool all = mayManageLogins();
        const bool withHash = text::equalsNoCase(found->name, "sql_logins");
        for (const storage::LoginEntry& l : storage::listLogins(*db, "d1")) {
            if (!all && l.principalId != loginPrincipalId && l.principalId != storage::kSaPrincipalId) continue;
            std::vector<Cell> row = {text(l.name), number(l.principalId), text("S"), text("SQL_LOGIN"),
                                     number(l.disabled), number(l.created), number(l.modified), text(l.defaultDatabase)};
            if (withHash) {
                row.push_back(number(l.checkPolicy));
                row.push_back(number(l.checkExpiration));
                row.push_back(all && !l.hash.empty() ? Cell::blob(l.hash.bytes()) : Cell::null());
            }
            rows.push_back(std::move(row));
        }
    } else if (text::equalsNoCase(found->schema, "sys") && text::equalsNoCase(found->name, "columns")) {
        for (const TableInfo& t : source.catalog->tables())
            for (const ColumnInfo& c : t.columns)
                rows.push_back({number(t.objectId), text(c.name), number(c.id), number(maxLengthBytes(c.type)),
                                number(numericPrecision(c.type).value_or(0)),
                                number(c.type.storage() == Storage::Scaled ? c.type.scale : 0), number(c.nullable),
                                number(c.identity)});
    } else {
        rows = rowsOf(*found, source, databases);
    }

    auto info = std::make_shared<TableInfo>();
    static std::int64_t counter = 0;
    info->objectId = -(++counter);
    info->name = found->name;
    info->type = TableInfo::Type::System;
    int id = 0;
    for (const ViewColumn& vc : found->columns) {
        ColumnInfo c;
        c.id = ++id;
        c.name = vc.name;
        c.type = vc.type;
        c.nullable = vc.nullable;
        info->columns.push_back(std::move(c));
    }
    const std::string table = "\"temp\".\"" + info->storageName() + "\"";
    std::string ddl = "CREATE TEMP TABLE \"" + info->storageName() + "\"(";
    std::string params;
    for (const ColumnInfo& c : info->columns) {
        ddl += (c.id > 1 ? ", " : "") + c.storageName() + " " + storage::storageDeclaration(c);
        params += (c.id > 1 ? ", ?" : "?") + std::to_string(c.id);
    }
    db->exec(ddl + ")");
    storage::Statement put = db->prepare("INSERT INTO " + table + " VALUES (" + params + ")");
    // One savepoint around the rows: a view lists a whole database (thousands of rows for its columns),
    // and a commit per row would cost far more than reading it.
    db->inSavepoint("vopa_view", [&] { putRows(put, rows); });
    catalogViewTables.push_back(info);
    TableHandle handle;
    handle.db = source;
    handle.db.alias = "temp";
    handle.table = info.get();
    return handle;
}

void Session::Impl::dropCatalogViews() {
    for (const auto& info : catalogViewTables) db->exec("DROP TABLE IF EXISTS \"temp\".\"" + info->storageName() + "\"");
    catalogViewTables.clear();
}

}  // namespace vopa::engine
