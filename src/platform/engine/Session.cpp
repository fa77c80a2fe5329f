#include "Session.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "Convert.h"
#include "SessionImpl.h"
#include "exec/Keys.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "sql/Parser.h"
#include "storage/Master.h"
#include "translate/Compiler.h"

namespace vopa::engine {


namespace {

constexpr std::int64_t kMasterId = storage::AttachedDatabases::kMasterId;

std::int64_t nowMillis() {
    using namespace std::chrono;
    auto now = system_clock::now();
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    // Local time, as the server's GETDATE() gives it.
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    // GETDATE() is a datetime: on its grid of 1/300 s.
    return roundDate(DateTime::fromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                         local.tm_min, local.tm_sec, static_cast<int>(ms % 1000))
                         .millis,
                     BaseType::DateTime);
}

// Errors after which the server abandons the rest of the batch (conversion failures and names that
// cannot be resolved); after any other error the next statement runs.
bool abortsBatch(int number) {
    switch (number) {
        case err::ConversionFailed:
        case err::MoneyConversionFailed:
        case err::DateConversionFailed:
        case err::DateOutOfRange:
        case err::IntConversionOverflow:
        case err::NumericConversionFailed:
        case err::InvalidObject:
        case err::InvalidColumn:
        case err::UnboundIdentifier:
        case err::NotSupported:
        case err::UndeclaredVariable:
        case err::SyntaxNear:
        case err::SyntaxNearKeyword:
        case err::Deadlock:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---- ResultSet ---------------------------------------------------------------------------------------

int ResultSet::columnIndex(std::string_view name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (text::equalsNoCase(columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

// ---- Impl: connection and databases -----------------------------------------------------------------

Session::Impl::Impl(const ConnectOptions& options, SignIn how)
    : instance(locateInstance(options.server)),
      db(std::make_unique<storage::Connection>(":memory:", true)),
      user(options.user),
      locks_(instance.lockFile) {
    db->setLockTimeout(lockTimeout);
    storage::registerFunctions(db->handle(), &functions);
    // Inside a transaction a database is locked for writing before it is first read.
    attached.setBeforeRead([this](std::int64_t dbid) { writeLocks.lock(dbid); });
    attached.attach(kMasterId, "master", instance.masterFile, "");
    currentDatabase = "master";
    std::string requested = options.database;
    bool byDefault = false;  // the login's default database, not one the client asked for
    if (how != SignIn::InProcess) {
        signIn(options, how);
        if (requested.empty()) {
            requested = loginDefaultDatabase;
            byDefault = true;
        }
    }
    if (!requested.empty() && !text::equalsNoCase(requested, "master")) {
        std::optional<storage::DatabaseEntry> entry = storage::findDatabase(*db, "d1", requested);
        if (!entry && byDefault)
            throw EngineError(err::DefaultDatabaseUnavailable, "Cannot open user default database. Login failed.", 11, 1);
        if (!entry)
            throw EngineError(err::LoginFailedDatabase,
                              "Cannot open database \"" + requested + "\" requested by the login. The login failed.");
        attached.attach(entry->dbid, entry->name, files::mapPath(entry->dataFile), currentDatabase);
        setCurrentDatabase(entry->name, entry->dbid);
    }
}

// The mark of the current database is a lock in the instance's lock file, never anything on the
// database's own file (see LockFile.h).
void Session::Impl::setCurrentDatabase(const std::string& name, std::int64_t dbid) {
    currentDatabase = name;
    if (dbid == currentDatabaseMark_) return;
    if (currentDatabaseMark_ != 0) locks_.unlock(currentDatabaseMark_);
    currentDatabaseMark_ = 0;
    if (dbid == kMasterId || !locks_.isOpen()) return;
    // A DROP DATABASE that looks whether the database is in use holds the byte for an instant.
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (locks_.tryLock(dbid, storage::LockFile::Mode::Shared)) {
            currentDatabaseMark_ = dbid;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool Session::Impl::databaseUnused(std::int64_t dbid) {
    if (!locks_.isOpen()) return true;
    if (dbid == currentDatabaseMark_ || !locks_.tryLock(dbid, storage::LockFile::Mode::Exclusive)) return false;
    locks_.unlock(dbid);
    return true;
}

void Session::Impl::abandonTransaction() {
    try {
        if (db->inTransaction()) db->exec("ROLLBACK");
    } catch (const EngineError&) {
    }
    transactionDepth = 0;
    writeLocks.release();
}

DatabaseHandle Session::Impl::database(const std::string& name) {
    return attached.resolve(name.empty() ? currentDatabase : name, currentDatabase);
}

std::pair<std::string, std::string> Session::Impl::splitName(const sql::QualifiedName& name) {
    const auto& p = name.parts;
    if (p.empty()) return {"", ""};
    std::string database = p.size() >= 3 ? p[p.size() - 3] : std::string();
    return {database, p.back()};
}

TableHandle Session::Impl::table(const sql::QualifiedName& name, bool required) {
    const std::pair<std::string, std::string> names = splitName(name);
    const std::string& databaseName = names.first;
    const std::string& tableName = names.second;
    const std::string schemaName = name.parts.size() >= 2 ? name.parts[name.parts.size() - 2] : std::string();
    if (text::equalsNoCase(schemaName, "INFORMATION_SCHEMA") || text::equalsNoCase(schemaName, "sys"))
        if (std::optional<TableHandle> view = catalogView(name)) return *view;
    TableHandle t;
    t.db = database(databaseName);
    t.table = t.db.catalog->find(tableName);
    if (!t.table && databaseName.empty() &&
        (text::equalsNoCase(tableName, "sysdatabases") || text::equalsNoCase(tableName, "sysaltfiles"))) {
        // The server shows master's list of databases in every database.
        t.db = database("master");
        t.table = t.db.catalog->find(tableName);
    }
    if (!t.table)
        if (std::optional<TableHandle> view = catalogView(name)) return *view;
    if (!t.table && required) throw EngineError(err::InvalidObject, "Invalid object name '" + name.text() + "'.");
    return t;
}

namespace {
const std::string kStorageDuplicate = "UNIQUE constraint failed: ";
// The server raises a duplicate key (2627, 2601) with severity 14, not the usual 16.
constexpr int kDuplicateKeySeverity = 14;
}  // namespace

bool Session::Impl::isStorageDuplicate(const EngineError& e) {
    return e.number() == err::DuplicateKeyConstraint &&
           std::string_view(e.what()).substr(0, kStorageDuplicate.size()) == kStorageDuplicate;
}

std::optional<std::string> Session::Impl::probeDuplicate(const std::string& statement, const TableHandle& target,
                                                        const std::vector<int>& columnIds, bool updates) {
    const std::string probe = "temp.\"vopa_probe\"";
    const std::string rows = target.storageName();
    const std::size_t at = statement.find(rows);
    if (at == std::string::npos) return std::nullopt;
    try {
        db->exec("DROP TABLE IF EXISTS " + probe);
        db->exec("CREATE TEMP TABLE \"vopa_probe\" AS SELECT * FROM " + rows + (updates ? "" : " WHERE 0"));
        std::string again = statement;
        again.replace(at, rows.size(), probe);
        db->exec(again);
        std::string columns, grouping, newColumns, match;
        for (int id : columnIds) {
            const storage::ColumnInfo* c = target.table->columnById(id);
            if (!c) return std::nullopt;
            const std::string collate = c->type.storage() == Storage::Text ? " COLLATE VOPA_CI" : "";
            columns += (columns.empty() ? "" : ", ") + c->storageName();
            grouping += (grouping.empty() ? "" : ", ") + c->storageName() + collate;
            newColumns += (newColumns.empty() ? "" : ", ") + std::string("p.") + c->storageName();
            match += std::string(match.empty() ? "" : " AND ") + "o." + c->storageName() + " = p." + c->storageName() + collate;
        }
        // The value as the refused row has it: a new row that meets an existing one, else two new rows
        // (or, for an UPDATE, two rows of the changed table) that meet each other.
        std::optional<std::string> value;
        if (!updates) {
            storage::Statement q = db->prepare("SELECT " + newColumns + " FROM " + probe + " AS p WHERE EXISTS (SELECT 1 FROM " +
                                               rows + " AS o WHERE " + match + ") LIMIT 1");
            if (q.step()) value = exec::keyValueText(q, *target.table, columnIds);
        }
        if (!value) {
            storage::Statement q = db->prepare("SELECT " + columns + " FROM " + probe + " GROUP BY " + grouping +
                                               " HAVING count(*) > 1 LIMIT 1");
            if (q.step()) value = exec::keyValueText(q, *target.table, columnIds);
        }
        db->exec("DROP TABLE " + probe);
        return value;
    } catch (const std::exception&) {
        // The value only completes the message; the savepoint being rolled back removes the copy.
        return std::nullopt;
    }
}

EngineError Session::Impl::duplicateKeyError(const std::string& storageMessage, const std::string* statement,
                                             const TableHandle* target, bool updates) {
    // SQLite says "UNIQUE constraint failed: t100003.c1, t100003.c2": find the key over those columns.
    const std::string& prefix = kStorageDuplicate;
    std::vector<int> columnIds;
    std::int64_t objectId = 0;
    if (storageMessage.rfind(prefix, 0) == 0) {
        std::string rest = storageMessage.substr(prefix.size());
        std::size_t pos = 0;
        while (pos < rest.size()) {
            std::size_t comma = rest.find(", ", pos);
            std::string item = rest.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
            std::size_t dot = item.find('.');
            if (dot != std::string::npos && item[0] == 't' && item[dot + 1] == 'c') {
                objectId = std::stoll(item.substr(1, dot - 1));
                columnIds.push_back(std::stoi(item.substr(dot + 2)));
            }
            if (comma == std::string::npos) break;
            pos = comma + 2;
        }
    }
    for (const DatabaseHandle& handle : attached.all()) {
        const storage::TableInfo* t = handle.catalog ? handle.catalog->findById(objectId) : nullptr;
        if (!t) continue;
        std::optional<std::string> duplicateKeyValue;
        if (statement && target && target->table->objectId == objectId && target->db.dbid == handle.dbid)
            duplicateKeyValue = probeDuplicate(*statement, *target, columnIds, updates);
        for (const storage::IndexInfo& i : t->indexes)
            if (i.unique && i.columnIds == columnIds) {
                const std::string value = duplicateKeyValue ? " The duplicate key value is (" + *duplicateKeyValue + ")." : "";
                if (i.primaryKey || i.uniqueConstraint)
                    return EngineError(err::DuplicateKeyConstraint,
                                       std::string("Violation of ") + (i.primaryKey ? "PRIMARY KEY" : "UNIQUE KEY") +
                                           " constraint '" + i.name + "'. Cannot insert duplicate key in object 'dbo." +
                                           t->name + "'." + value,
                                       kDuplicateKeySeverity);
                return EngineError(err::DuplicateKeyIndex,
                                   "Cannot insert duplicate key row in object 'dbo." + t->name + "' with unique index '" +
                                       i.name + "'." + value,
                                   kDuplicateKeySeverity);
            }
    }
    return EngineError(err::DuplicateKeyConstraint, "Violation of UNIQUE KEY constraint. Cannot insert duplicate key.",
                       kDuplicateKeySeverity);
}

// ---- Impl: statements --------------------------------------------------------------------------------

std::vector<StatementOutcome> Session::Impl::executeBatch(std::string_view batch) {
    std::vector<StatementOutcome> outcomes;
    std::vector<sql::StatementPtr> statements;
    try {
        statements = sql::parseBatch(batch);
    } catch (const EngineError& e) {
        outcomes.emplace_back();
        outcomes.back().error = e;
        return outcomes;
    }
    // Variables are declared for the whole batch before it runs: a name declared twice or of an unknown
    // type stops it.
    try {
        declareBatchVariables(statements);
    } catch (const EngineError& e) {
        outcomes.emplace_back();
        outcomes.back().error = e;
        return outcomes;
    }
    // The server compiles the whole batch first: a column that an existing table lacks, or a variable
    // not declared, ends the batch before anything runs, while a table that does not exist yet is
    // looked up only when its statement runs. Compilation stops at the first statement that changes
    // the tables or the database in use, as the later statements are compiled against what those
    // leave behind.
    if (std::optional<StatementOutcome> refused = compileBatch(statements)) {
        outcomes.push_back(std::move(*refused));
        return outcomes;
    }
    for (const sql::StatementPtr& statement : statements) {
        outcomes.emplace_back();
        StatementOutcome& out = outcomes.back();
        out.offset = statement->offset;
        // A cancelled batch stops before its next statement.
        if (db->interrupted()) {
            out.error = EngineError(err::Cancelled, "The batch was cancelled by its client.");
            break;
        }
        try {
            run(*statement, batch, out);
        } catch (const EngineError& e) {
            out.error = isStorageDuplicate(e) ? duplicateKeyError(e.what()) : e;
            // The deadlock victim's whole transaction is rolled back, as on the server.
            if (e.number() == err::Deadlock) abandonTransaction();
        } catch (const std::exception& e) {
            out.error =
                EngineError(err::InternalError, std::string("Internal error of the embedded engine: ") + e.what());
        }
        // SQLite rolls back the whole transaction of a statement it interrupts: the session's
        // transaction is over too.
        if (out.error && transactionDepth > 0 && !db->inTransaction()) abandonTransaction();
        if (out.error) addFollowingErrors(out);
        try {
            dropCatalogViews();
        } catch (const EngineError&) {
        }
        if (out.error && abortsBatch(out.error->number())) break;
    }
    return outcomes;
}

namespace {

// Statements that change what later statements of the batch compile against.
bool changesNames(const sql::Statement& st) {
    using K = sql::StatementKind;
    switch (st.kind) {
        case K::Select: return !static_cast<const sql::SelectStatement&>(st).select.into.empty();
        case K::Insert: case K::Update: case K::Delete: case K::SetOption: case K::SetIdentityInsert:
        case K::Transaction: case K::Reconfigure: case K::Declare: case K::SetVariable: case K::Login:
            return false;
        case K::If: {
            const auto& s = static_cast<const sql::IfStatement&>(st);
            return (s.then && changesNames(*s.then)) || (s.otherwise && changesNames(*s.otherwise));
        }
        case K::Block:
            for (const sql::StatementPtr& inner : static_cast<const sql::BlockStatement&>(st).statements)
                if (changesNames(*inner)) return true;
            return false;
        default: return true;
    }
}

}  // namespace

std::optional<StatementOutcome> Session::Impl::compileBatch(const std::vector<sql::StatementPtr>& statements) {
    std::vector<const sql::Statement*> pending;
    for (const sql::StatementPtr& st : statements) pending.push_back(st.get());
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const sql::Statement& st = *pending[i];
        if (changesNames(st)) {
            if (st.kind != sql::StatementKind::If && st.kind != sql::StatementKind::Block) break;
        }
        if (st.kind == sql::StatementKind::If) {
            const auto& s = static_cast<const sql::IfStatement&>(st);
            if (changesNames(st)) break;
            if (s.then) pending.insert(pending.begin() + static_cast<std::ptrdiff_t>(i) + 1, s.then.get());
            if (s.otherwise) pending.insert(pending.begin() + static_cast<std::ptrdiff_t>(i) + (s.then ? 2 : 1), s.otherwise.get());
        }
        if (st.kind == sql::StatementKind::Block) {
            if (changesNames(st)) break;
            const auto& inner = static_cast<const sql::BlockStatement&>(st).statements;
            std::size_t at = i + 1;
            for (const sql::StatementPtr& x : inner) pending.insert(pending.begin() + static_cast<std::ptrdiff_t>(at++), x.get());
        }
        try {
            functions.clear();
            unpinAll();
            translate::compileStatement(compileContext(), st);
        } catch (const EngineError& e) {
            if (e.number() == err::InvalidColumn || e.number() == err::UndeclaredVariable) {
                StatementOutcome out;
                out.offset = st.offset;
                out.error = e;
                try {
                    dropCatalogViews();
                } catch (const EngineError&) {
                }
                return out;
            }
        } catch (const std::exception&) {
        }
        try {
            dropCatalogViews();
        } catch (const EngineError&) {
        }
    }
    return std::nullopt;
}

void Session::Impl::addFollowingErrors(StatementOutcome& out) {
    switch (out.error->number()) {
        case err::NotNullViolation:
        case err::DuplicateKeyConstraint:
        case err::DuplicateKeyIndex:
        case err::StringTruncation:
            out.followingErrors.emplace_back(err::StatementTerminated, "The statement has been terminated.", 0, 0);
            break;
        default:
            if (constraintRefused)
                out.followingErrors.emplace_back(err::ConstraintNotCreated,
                                                 "Could not create constraint or index. See previous errors.", 16, 0);
            break;
    }
    constraintRefused = false;
}

void Session::Impl::run(const sql::Statement& st, std::string_view batch, StatementOutcome& out) {
    constraintRefused = false;
    functions.clear();
    functions.now = nowMillis();
    const DateOrderScope dates(dateOrder);
    unpinAll();
    using K = sql::StatementKind;
    switch (st.kind) {
        case K::Select: return execSelect(static_cast<const sql::SelectStatement&>(st), out);
        case K::Insert: return execInsert(static_cast<const sql::InsertStatement&>(st), out);
        case K::Update: return execUpdate(static_cast<const sql::UpdateStatement&>(st), out);
        case K::Delete: return execDelete(static_cast<const sql::DeleteStatement&>(st), out);
        case K::Truncate: return execTruncate(static_cast<const sql::TruncateStatement&>(st), out);
        case K::CreateTable: return execCreateTable(static_cast<const sql::CreateTableStatement&>(st), out);
        case K::AlterTable: return execAlterTable(static_cast<const sql::AlterTableStatement&>(st), out);
        case K::DropTable: return execDropTable(static_cast<const sql::DropTableStatement&>(st), out);
        case K::CreateDatabase: return execCreateDatabase(static_cast<const sql::CreateDatabaseStatement&>(st), out);
        case K::DropDatabase: return execDropDatabase(static_cast<const sql::DropDatabaseStatement&>(st), out);
        case K::CreateIndex: return execCreateIndex(static_cast<const sql::CreateIndexStatement&>(st), out);
        case K::DropIndex: return execDropIndex(static_cast<const sql::DropIndexStatement&>(st), out);
        case K::CreateView: return execCreateView(static_cast<const sql::CreateViewStatement&>(st), batch, out);
        case K::DropView: return execDropView(static_cast<const sql::DropViewStatement&>(st), out);
        case K::If: return execIf(static_cast<const sql::IfStatement&>(st), batch, out);
        case K::Block:
            for (const sql::StatementPtr& inner : static_cast<const sql::BlockStatement&>(st).statements) {
                run(*inner, batch, out);
            }
            return;
        case K::Transaction: return execTransaction(static_cast<const sql::TransactionStatement&>(st), out);
        case K::SetIdentityInsert: return execSetIdentityInsert(static_cast<const sql::SetIdentityInsertStatement&>(st), out);
        case K::SetOption: return execSetOption(static_cast<const sql::SetOptionStatement&>(st), out);
        case K::Execute: return execExecute(static_cast<const sql::ExecuteStatement&>(st), out);
        case K::Reconfigure: return;
        case K::Use: return execUse(static_cast<const sql::UseStatement&>(st), out);
        case K::Declare: return execDeclare(static_cast<const sql::DeclareStatement&>(st), out);
        case K::SetVariable: return execSetVariable(static_cast<const sql::SetVariableStatement&>(st), out);
        case K::Login: return execLogin(static_cast<const sql::LoginStatement&>(st), out);
    }
}

ResultSet Session::Impl::collect(const std::string& sqliteSelect, const std::vector<ResultColumn>& columns,
                                 bool withRowIds) {
    ResultSet rs;
    rs.columns = columns;
    storage::Statement q = db->prepare(sqliteSelect);
    const int n = static_cast<int>(columns.size());
    while (q.step()) {
        std::vector<Value> row;
        row.reserve(columns.size());
        for (int i = 0; i < n; ++i) {
            Cell c;
            switch (q.columnType(i)) {
                case SQLITE_INTEGER: c = Cell::integer(q.columnInt(i)); break;
                case SQLITE_FLOAT: c = Cell::real(q.columnDouble(i)); break;
                case SQLITE_TEXT: c = Cell::text(q.columnText(i)); break;
                case SQLITE_BLOB: c = Cell::blob(q.columnText(i)); break;
                default: break;
            }
            row.push_back(cellToValue(c, columns[static_cast<std::size_t>(i)].type));
        }
        if (withRowIds) rs.rowIds.push_back(q.columnInt(n));
        rs.rows.push_back(std::move(row));
    }
    return rs;
}

std::int64_t Session::Impl::currentIdentity(const TableHandle& t) {
    const storage::ColumnInfo* id = t.table->identityColumn();
    if (!id) return 0;
    storage::IdentityState state = storage::identityState(*db, t.db.alias, t.table->objectId);
    std::int64_t current = state.current.value_or(id->seed - id->increment);
    if (!state.unsettled) return current;
    storage::Statement q = db->prepare(std::string(id->increment > 0 ? "SELECT max(" : "SELECT min(") +
                                       id->storageName() + ") FROM " + t.storageName());
    if (q.step() && !q.columnIsNull(0)) {
        std::int64_t extreme = q.columnInt(0);
        if (id->increment > 0 ? extreme > current : extreme < current) current = extreme;
    }
    storage::setIdentityCurrent(*db, t.db.alias, t.table->objectId, current);
    return current;
}

std::int64_t Session::Impl::identCurrent(const TableHandle& t) {
    const std::int64_t current = currentIdentity(t);
    const storage::ColumnInfo* id = t.table->identityColumn();
    // Before the first value is handed out, the server answers the seed.
    if (id && !storage::identityState(*db, t.db.alias, t.table->objectId).current) return id->seed;
    return current;
}

std::optional<std::int64_t> Session::Impl::lastInsertedIdentity() {
    if (lastIdentityTable) {
        const TableHandle t = *lastIdentityTable;
        lastIdentityTable.reset();
        const storage::ColumnInfo* id = t.table->identityColumn();
        storage::Statement q = db->prepare("SELECT " + id->storageName() + " FROM " + t.storageName() +
                                           " ORDER BY rowid DESC LIMIT 1");
        if (q.step() && !q.columnIsNull(0)) lastIdentity = q.columnInt(0);
    }
    return lastIdentity;
}

// ---- SessionCompileContext ---------------------------------------------------------------------------

DatabaseHandle SessionCompileContext::database(const std::string& name) { return s_.database(name); }
TableHandle SessionCompileContext::table(const sql::QualifiedName& name, bool required) {
    return s_.table(name, required);
}
std::string SessionCompileContext::currentDatabase() const { return s_.currentDatabase; }
std::string SessionCompileContext::resolveNamesIn(const std::string& name) {
    std::string previous = s_.currentDatabase;
    s_.currentDatabase = name;
    return previous;
}
const BatchVariable& SessionCompileContext::variable(const std::string& name, std::size_t usedAt) {
    return s_.variable(name, usedAt);
}
const storage::Language& SessionCompileContext::language() const { return *s_.language; }
int SessionCompileContext::dateFirst() const { return s_.dateFirst; }
int SessionCompileContext::lockTimeout() const { return s_.lockTimeout; }
std::string SessionCompileContext::serverName() const { return s_.instance.instanceName; }
int SessionCompileContext::transactionDepth() const { return s_.transactionDepth; }
std::optional<std::int64_t> SessionCompileContext::lastInsertedIdentity() { return s_.lastInsertedIdentity(); }
std::int64_t SessionCompileContext::identCurrent(const TableHandle& table) { return s_.identCurrent(table); }
storage::FunctionContext& SessionCompileContext::functions() { return s_.functions; }

// ---- Session -----------------------------------------------------------------------------------------

Session::Session(const ConnectOptions& options, SignIn signIn) : impl_(std::make_unique<Impl>(options, signIn)) {}
Session::~Session() = default;

std::vector<StatementOutcome> Session::executeBatch(std::string_view batch) { return impl_->executeBatch(batch); }

std::optional<ResultSet> Session::execute(std::string_view batch) {
    std::optional<ResultSet> last;
    for (StatementOutcome& o : impl_->executeBatch(batch)) {
        if (o.error) throw *o.error;
        if (o.resultSet) last = std::move(o.resultSet);
    }
    return last;
}

void Session::cancel() { impl_->db->interrupt(); }
void Session::resetCancel() { impl_->db->clearInterrupt(); }

const std::string& Session::currentDatabase() const { return impl_->currentDatabase; }
const InstanceLocation& Session::instance() const { return impl_->instance; }
const std::string& Session::login() const { return impl_->login; }

}  // namespace vopa::engine
