#pragma once
// The schema's long statement lists, compiled into the program from data/ and read once:
// the base schema (355 tables in nine batches), the index pass (327 statements) and the upgrade
// statements (per upgrade procedure, in execution order).

#include <string>
#include <string_view>
#include <vector>

namespace vopa::schema {

struct ColumnSpec {
    enum class Kind { Null, NotNull, Identity, Default };
    std::string name;
    std::string type;  // as listed: "int", "nvarchar(50)", "decimal(18,2)"
    Kind kind = Kind::Null;
    std::string defaultExpression;  // Default: the expression as written, e.g. "(2884 + 919) / 100"

    // "name type NULL", "name type NOT NULL", "name type NOT NULL  IDENTITY(1,1) ",
    // "name type NOT NULL DEFAULT (expr)".
    std::string definition() const;
};

struct TableSpec {
    std::string name;
    int batch = 0;  // 1..9
    std::vector<ColumnSpec> columns;

    // "CREATE TABLE  " + name + "(" + definitions joined by " ," + " )"
    std::string createStatement() const;
};

// The 355 tables of the base schema in creation order.
const std::vector<TableSpec>& baseSchema();

struct IndexStatement {
    int position = 0;  // 1..327
    std::string kind;  // plain, plain_nobrackets, guarded, primary_key, script, add_column
    std::string text;
};

// The index pass in execution order.
const std::vector<IndexStatement>& indexPass();

struct UpgradeStatement {
    enum class Target { Company, Server };
    std::string procedure;  // main, vat_tables, ..., second_upgrade
    int number = 0;         // 1.. within its procedure
    Target target = Target::Company;
    std::string text;       // may hold ${ComputerName}

    // The text with ${ComputerName} replaced.
    std::string resolved(std::string_view computerName) const;
};

// Every upgrade statement, procedure after procedure, in execution order.
const std::vector<UpgradeStatement>& upgradeStatements();
// The statements of one procedure, in order (empty for an unknown key).
std::vector<UpgradeStatement> upgradeStatementsOf(std::string_view procedure);

}  // namespace vopa::schema
