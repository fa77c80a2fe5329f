// Transactions, SET statements, USE and the system procedures the program calls.

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "platform/engine/SessionImpl.h"
#include "platform/engine/exec/Procedures.h"
#include "platform/engine/storage/Master.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

// System procedures of SQL Server (lower case, sorted). One the engine does not run is refused as not
// supported; any other name is unknown to the server too (2812).
constexpr std::string_view kServerProcedures[] = {
    "sp_addextendedproperty", "sp_addlinkedserver", "sp_addlogin", "sp_addrole", "sp_addrolemember", "sp_addserver",
    "sp_addtype", "sp_adduser", "sp_attach_db", "sp_attach_single_file_db", "sp_autostats", "sp_bindefault",
    "sp_bindrule", "sp_changedbowner", "sp_changeobjectowner", "sp_columns", "sp_configure", "sp_createstats",
    "sp_cycle_errorlog", "sp_databases", "sp_dboption", "sp_defaultdb", "sp_defaultlanguage", "sp_depends",
    "sp_describe_first_result_set", "sp_detach_db", "sp_dropextendedproperty", "sp_droplogin", "sp_droprole",
    "sp_droprolemember", "sp_dropserver", "sp_droptype", "sp_dropuser", "sp_executesql", "sp_fkeys",
    "sp_getapplock", "sp_grantdbaccess", "sp_grantlogin", "sp_help", "sp_helpconstraint", "sp_helpdb",
    "sp_helpfile", "sp_helpindex", "sp_helplogins", "sp_helprole", "sp_helprolemember", "sp_helpserver",
    "sp_helptext", "sp_helpuser", "sp_indexoption", "sp_lock", "sp_monitor", "sp_msforeachdb", "sp_msforeachtable",
    "sp_oacreate", "sp_oamethod", "sp_password", "sp_pkeys", "sp_procoption", "sp_readerrorlog", "sp_recompile",
    "sp_refreshview", "sp_releaseapplock", "sp_rename", "sp_renamedb", "sp_revokedbaccess", "sp_send_dbmail",
    "sp_server_info", "sp_set_session_context", "sp_setapprole", "sp_settriggerorder", "sp_spaceused",
    "sp_special_columns", "sp_sproc_columns", "sp_statistics", "sp_stored_procedures", "sp_tableoption",
    "sp_tables", "sp_updatestats", "sp_who", "sp_who2", "xp_cmdshell", "xp_fileexist", "xp_fixeddrives",
    "xp_logininfo", "xp_msver", "xp_regread",
};

// The procedure argument as a constant text (N'x', 'x', a name or a number).
std::string argumentText(Session::Impl& session, const sql::ExecArgument& a) {
    if (a.value->kind == sql::Expr::Kind::Column) return a.value->name.last();
    translate::Compiler compiler(session.compileContext());
    translate::Scope scope;
    translate::Compiled c = compiler.expr(*a.value, scope);
    if (!c.constant) throw EngineError(err::NotSupported, "The embedded engine does not support computed procedure arguments.");
    return c.constant->kind == Cell::Kind::Text ? c.constant->s
           : c.constant->kind == Cell::Kind::Integer ? std::to_string(c.constant->i)
                                                     : Value::dbl(c.constant->r).toString();
}

// Options of sp_configure that the server knows (the program sets "query timeout").
bool knownConfigurationOption(const std::string& name) {
    static const char* kOptions[] = {"query timeout", "remote query timeout", "show advanced options",
                                     "max server memory", "min server memory", "user connections",
                                     "allow updates", "nested triggers", "recovery interval", "cost threshold for parallelism",
                                     "max degree of parallelism", "remote access", "default language", "clr enabled",
                                     "min memory per query (KB)", "min memory per query"};
    for (const char* o : kOptions)
        if (text::equalsNoCase(name, o)) return true;
    return false;
}

// Options of sp_dboption.
bool knownDatabaseOption(const std::string& name) {
    static const char* kOptions[] = {"autoclose", "autoshrink", "ANSI null default", "ANSI nulls", "ANSI padding",
                                     "ANSI warnings", "arithabort", "auto create statistics", "auto update statistics",
                                     "bulkcopy", "select into/bulkcopy", "concat null yields null",
                                     "cursor close on commit", "dbo use", "dbo use only", "default to local cursor",
                                     "merge publish", "numeric roundabort", "offline", "published", "quoted identifier",
                                     "read only", "recursive triggers", "single", "single user", "subscribed",
                                     "torn page detection", "trunc. log", "trunc. log on chkpt.", "db chaining"};
    for (const char* o : kOptions)
        if (text::equalsNoCase(name, o)) return true;
    return false;
}

}  // namespace

void Session::Impl::execTransaction(const sql::TransactionStatement& s, StatementOutcome&) {
    switch (s.action) {
        case sql::TransactionStatement::Action::Begin:
            if (transactionDepth == 0) db->exec("BEGIN");
            ++transactionDepth;
            return;
        case sql::TransactionStatement::Action::Commit:
            if (transactionDepth == 0)
                throw EngineError(err::CommitWithoutBegin,
                                  "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
            if (--transactionDepth == 0) {
                db->exec("COMMIT");
                writeLocks.release();
            }
            return;
        case sql::TransactionStatement::Action::Rollback:
            if (transactionDepth == 0)
                throw EngineError(err::RollbackWithoutBegin,
                                  "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
            abandonTransaction();
            return;
    }
}

void Session::Impl::execSetIdentityInsert(const sql::SetIdentityInsertStatement& s, StatementOutcome&) {
    TableHandle t = table(s.table);
    if (!t.table->identityColumn())
        throw EngineError(err::IdentityInsertNoIdentity,
                          "Table '" + t.displayName() + "' does not have the identity property. Cannot perform SET operation.");
    const bool same = identityInsert && identityInsert->dbid == t.db.dbid && identityInsert->objectId == t.table->objectId;
    if (s.on) {
        if (identityInsert && !same)
            throw EngineError(err::IdentityInsertOtherTable, "IDENTITY_INSERT is already ON for table '" +
                                                                 identityInsert->displayName +
                                                                 "'. Cannot perform SET operation for table '" +
                                                                 s.table.last() + "'.");
        identityInsert = IdentityInsert{t.db.dbid, t.table->objectId, t.displayName()};
    } else if (same) {
        identityInsert.reset();
    }
}

void Session::Impl::execSetOption(const sql::SetOptionStatement& s, StatementOutcome& out) {
    for (const std::string& option : s.options) {
        const std::string o = text::toUpper(option);
        if (o == "DATEFORMAT") {
            std::optional<DateOrder> order = dateOrderNamed(s.value);
            if (!order)
                throw EngineError(err::InvalidDateFormat, "SET DATEFORMAT date order '" + s.value + "' is invalid.");
            dateOrder = *order;
        } else if (o == "LANGUAGE") {
            // The language brings its date order and first day of the week (which SET DATEFORMAT and SET
            // DATEFIRST may change afterwards).
            const storage::Language* l = storage::findLanguage(s.value);
            if (!l) throw EngineError(err::NotSupported, "The embedded engine does not support the language '" + s.value + "'.");
            language = l;
            dateOrder = l->dateOrder;
            dateFirst = l->dateFirst;
            out.messages.push_back(std::string("Changed language setting to ") + l->name + ".");
        } else if (o == "LOCK_TIMEOUT") {
            char* end = nullptr;
            long n = std::strtol(s.value.c_str(), &end, 10);
            if (end == s.value.c_str() || *end != '\0' || n < -1 || n > 2147483647L)
                throw EngineError(err::SyntaxNear, "Incorrect syntax near '" + s.value + "'.");
            lockTimeout = static_cast<int>(n);
            db->setLockTimeout(lockTimeout);
        } else if (o == "DATEFIRST") {
            int n = 0;
            for (char c : s.value) n = c >= '0' && c <= '9' && n < 100 ? n * 10 + (c - '0') : 100;
            if (n < 1 || n > 7)
                throw EngineError(err::DateFirstOutOfRange, "The value of SET DATEFIRST must be between 1 and 7.");
            dateFirst = n;
        }
        // The other options (QUOTED_IDENTIFIER, ANSI_NULLS, ARITHABORT, NOCOUNT, LANGUAGE, ...) are
        // accepted; the engine behaves as the program expects them set.
    }
}

void Session::Impl::execUse(const sql::UseStatement& s, StatementOutcome&) {
    DatabaseHandle d = database(s.database);
    setCurrentDatabase(d.name, d.dbid);
}

void Session::Impl::execExecute(const sql::ExecuteStatement& s, StatementOutcome& out) {
    BatchVariable* status = s.statusVariable.empty() ? nullptr : &variable(s.statusVariable, s.statusVariableOffset);
    int result = 0;
    try {
        result = runProcedure(s, out);
    } catch (const ProcedureError& e) {
        if (status) setVariable(*status, Cell::integer(e.status()), SqlType::of(BaseType::Int));
        throw;
    }
    if (status) setVariable(*status, Cell::integer(result), SqlType::of(BaseType::Int));
}

int Session::Impl::runProcedure(const sql::ExecuteStatement& s, StatementOutcome& out) {
    const std::string name = text::toLower(s.procedure.last());
    if (name == "sp_getapplock") return getAppLock(s);
    if (name == "sp_releaseapplock") return releaseAppLock(s);
    if (name == "sp_tables") {
        listTables(*this, s, out);
        return 0;
    }
    if (name == "sp_configure") {
        if (s.arguments.size() > 1 && text::equalsNoCase(argumentText(*this, s.arguments[0]), "show advanced options"))
            return 0;
        if (s.arguments.empty()) return 0;
        std::string option = argumentText(*this, s.arguments[0]);
        if (!knownConfigurationOption(option))
            throw EngineError(
                err::UnknownConfigurationOption,
                "The configuration option '" + option + "' does not exist, or it may be an advanced option.");
        if (s.arguments.size() > 1)
            out.messages.push_back("Configuration option '" + option + "' changed from 0 to " +
                                   argumentText(*this, s.arguments[1]) + ". Run the RECONFIGURE statement to install.");
        return 0;
    }
    if (name == "sp_dboption") {
        if (s.arguments.empty()) return 0;
        std::string databaseName = argumentText(*this, s.arguments[0]);
        bool exists = text::equalsNoCase(databaseName, "master") ||
                      storage::findDatabase(*db, "d1", databaseName).has_value();
        if (!exists)
            throw EngineError(err::OptionDatabaseMissing, "The database '" + databaseName +
                                                              "' does not exist. Supply a valid database name. To see "
                                                              "available databases, use sys.databases.");
        if (s.arguments.size() > 1) {
            std::string option = argumentText(*this, s.arguments[1]);
            if (!knownDatabaseOption(option))
                throw EngineError(err::UnknownDatabaseOption,
                                  "Database option '" + option + "' does not exist. Specify a valid option name.");
        }
        return 0;
    }
    if (std::binary_search(std::begin(kServerProcedures), std::end(kServerProcedures), std::string_view(name)))
        throw EngineError(err::NotSupported, "The embedded engine does not support the procedure " + s.procedure.last() + ".");
    throw EngineError(err::UnknownProcedure, "Could not find stored procedure '" + s.procedure.last() + "'.");
}

}  // namespace vopa::engine
