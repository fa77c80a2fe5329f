#pragma once
// What the translator asks of the session it compiles for: names resolved to tables and databases,
// the session's settings, its identity values and its variables. The session implements it over its
// attached databases; a stub can implement it over catalogs held in memory, without any file.
//
// Resolving a name may attach the database it names (in the session), but the translator itself never
// opens a file, runs a statement or takes a lock.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/engine/Convert.h"
#include "platform/engine/SqlType.h"
#include "platform/engine/sql/Ast.h"
#include "platform/engine/storage/Functions.h"
#include "platform/engine/storage/Handles.h"

namespace vopa::engine {

// A local variable of a batch.
struct BatchVariable {
    SqlType type;
    std::size_t declaredAt = 0;  // offset of its DECLARE in the batch
    Cell value;
};

namespace translate {

class CompileContext {
public:
    virtual ~CompileContext() = default;

    // ---- names ----
    // The database a name designates ("" = the current one). Throws 911 when there is none.
    virtual DatabaseHandle database(const std::string& name) = 0;
    // Resolves [db.][schema.]table (catalog views included); throws 208 when it does not exist
    // (unless `required` is false, then table is null).
    virtual TableHandle table(const sql::QualifiedName& name, bool required) = 0;
    // The database that unqualified names resolve in (DB_NAME()).
    virtual std::string currentDatabase() const = 0;
    // Makes names resolve in `name` instead (a view's names are those of its own database); returns
    // the database they resolved in before.
    virtual std::string resolveNamesIn(const std::string& name) = 0;
    // The variable a name written at `usedAt` designates; throws 137 when none is declared before it.
    virtual const BatchVariable& variable(const std::string& name, std::size_t usedAt) = 0;

    // ---- settings ----
    virtual const storage::Language& language() const = 0;  // SET LANGUAGE
    virtual int dateFirst() const = 0;                       // SET DATEFIRST
    virtual int lockTimeout() const = 0;                     // SET LOCK_TIMEOUT
    virtual std::string serverName() const = 0;              // @@SERVERNAME
    virtual int transactionDepth() const = 0;                // @@TRANCOUNT

    // ---- identity ----
    // @@IDENTITY and SCOPE_IDENTITY(): the last identity value this session inserted.
    virtual std::optional<std::int64_t> lastInsertedIdentity() = 0;
    // IDENT_CURRENT of a table with an identity column.
    virtual std::int64_t identCurrent(const TableHandle& table) = 0;

    // ---- the running statement ----
    // The conversions and identity counters the compiled SQL refers to (vopa_conv, ...).
    virtual storage::FunctionContext& functions() = 0;
};

}  // namespace translate
}  // namespace vopa::engine
