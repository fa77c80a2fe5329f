#pragma once
// The catalogue of copied tables, compiled in from data/catalogue.txt: every table the copy step moves
// from the company database into the training database, in the order of its eleven groups, with the
// exact columns of its copy statement.

#include <string>
#include <string_view>
#include <vector>

namespace vopa::transfer {

enum class ErrorMode { Silent, Message, MessageAndFlag };

struct CatalogueEntry {
    int position = 0;  // 1.. in the whole run; 0 for the identity switches without a copy of their own
    int group = 0;     // 1..11
    ErrorMode mode = ErrorMode::Silent;
    std::string table;
    // no_identity, guard=K, refresh_projects_after, retry_once, prepare_dizionario, not_executed,
    // switch_only: see the header of data/catalogue.txt.
    std::vector<std::string> flags;
    std::vector<std::string> insertColumns;
    std::vector<std::string> selectItems;  // a column name, or a constant expression (see isConstant)
    std::vector<bool> isConstant;

    bool hasFlag(std::string_view flag) const;
    bool identitySwitch() const { return !hasFlag("no_identity"); }
    std::string guardKey() const;  // empty when the entry has no not-exists guard
};

const std::vector<CatalogueEntry>& catalogue();

// The copy statement of an entry, line for line as the copy step sends it:
// "Insert into [VoPaDatiTraining].[dbo].[t](" CR LF "   [c1]," ... ") select" ... CR LF + the source
// clause, and the where-not-exists guard when the entry has one.
std::string copyStatement(const CatalogueEntry& entry, std::string_view companyDatabase);

// " from [" + company database + "].[dbo].[" + table + "]", after a CR LF.
std::string sourceClause(std::string_view companyDatabase, std::string_view table);

// "set identity_insert  [VoPaDatiTraining].[dbo].[t] ON" / "... OFF".
std::string identitySwitch(std::string_view table, bool on);

}  // namespace vopa::transfer
