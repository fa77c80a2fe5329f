#pragma once
// Whether a database has a table: the tests the start-up maintenance and the budget and funder steps
// ask before they create or fill a table. Each opens a connection of its own; a database that cannot
// be reached has no table.

#include <string>

#include "state/GlobalState.h"

namespace vopa::company {

// The company database (server address + "database=" + CompanyDatabaseName) has a table or linked table
// of that name, letter case ignored.
bool tableExists(const std::string& name, state::GlobalState& g);

// The company database (CompanyConnectionString) lists a table (not a view or link) of that name,
// letter case ignored.
bool companySchemaHas(const std::string& name, state::GlobalState& g);

// The training database (ServerConnectionString) lists a table of that name, letter case ignored.
bool trainingSchemaHas(const std::string& name, state::GlobalState& g);

// The training database (server address + "database=VoPaDatiTraining") has a table or link whose name
// equals the budget table's name exactly, letter case included.
bool trainingBudgetTableExists(const std::string& budgetTableName, state::GlobalState& g);

// The account configured in row 16 of TabellaContiUtili (its idconto), 0 when there is none. Reads
// through SharedConnection; failures pass on.
double configuredAccount16(state::GlobalState& g);

}  // namespace vopa::company
