#pragma once
// The routines that prepare the shared database objects: the reset routine, the data-folder lookup,
// the scratch database VoPaDatiTemp (its opener and its creation) and the server's data folder.

#include <functional>
#include <string>

#include "state/GlobalState.h"

namespace vopa::config {

// Closes the 24 shared recordsets, ServerConnection, SchemaConnection and LocalConnection; reopens
// LocalConnection; rebuilds CompanyConnectionString; replaces SharedCommand by a text command without
// time-out bound to SharedConnection. Each step skips its own failure. SharedConnection and
// RegistryConnection are left as they are.
void resetSharedObjects(state::GlobalState& g);

// Opens SharedConnection on the open company's database of the server (its address read afresh); a
// failure is silent.
void openSharedOnCompany(state::GlobalState& g);

// The folder for a new database's files, with its trailing backslash: the company's configured folder
// (DataFileFolder, read afresh by `readDataFileFolder` when given), else the folder of the first
// "vopadati..." database of the server, else "C:\Vopa\Sedi\". Shows "Errore sql" when that database
// has no file name (the result is then empty).
std::string dataFolder(state::GlobalState& g, const std::function<void()>& readDataFileFolder = {});

// The folder of the local default instance's first database (master), with its trailing backslash;
// empty after a message box ("Errore sql", or the failure's description).
std::string serverDataFolder();

// Drops and creates VoPaDatiTemp on the configured server (ServerName) through ServerConnection. Only
// the opening of ServerConnection passes its failure on; every later failure is skipped.
void createScratchDatabase(state::GlobalState& g);

// Opens ServerConnection on VoPaDatiTemp of the local server, creating the database once when it
// cannot be opened. False when the local server does not answer or the database stays unreachable.
bool openScratchDatabase(state::GlobalState& g);

// The scratch database's one-row tables (language, version): opens the scratch database, makes the
// table with `createStatement` when missing (the failure of an existing one is skipped), and opens
// SharedRecordset on `query` (keyset, pessimistic). False when the scratch database cannot be reached;
// other failures pass on.
bool openScratchRow(const std::string& createStatement, const std::string& query, state::GlobalState& g);

}  // namespace vopa::config
