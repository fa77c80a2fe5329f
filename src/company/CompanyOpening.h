#pragma once
// Opening the company the program works on: which company this computer used last, the company's row
// of the registry (VoPaDatiAzienda.link_programma), the company items of the global state, the company
// database's connection, the computer's terminal row, and the data sources of the suite's other
// programs. Around it: the lookups of the registry and of the server, and the office identification.
//
// Fatal cases end the program through the message service ("Nessun database caricato", "Non è possibile
// caricare il DataBase"); every other failing statement is skipped.

#include <optional>
#include <string>

#include "state/GlobalState.h"

namespace vopa::company {

// The company this computer used last (its terminal row), else the first company by database name.
// Without a computer name: "Carica Nome PC" and 0. Sets CompanyId.
double terminalLookup(state::GlobalState& g);

// The same with the exact computer name; a company that is not registered any more is replaced by the
// fallback lookup.
double fullTerminalLookup(state::GlobalState& g);

// The first registered company whose database ("vopadati...", not the registry) exists on the server;
// 0 when there is none.
double fallbackLookup(state::GlobalState& g);

// A database named CompanyDatabaseName exists on the server.
bool databaseExists(state::GlobalState& g);

// DataFileFolder := IndirizzoMdf of the current company's registry row (empty when none).
void readDataFileFolder(state::GlobalState& g);

// OfficeId := idsede of the company database's office (unchanged when it has none).
void identifyOffice(state::GlobalState& g);

// Opens the company `companyId` (0: the one this computer used last) and writes back the identifier it
// settles on. Leaves SharedConnection open on the company database.
void openCompany(double& companyId, state::GlobalState& g);

// The DBname of company `companyId` in the registry ("" when its row names none); nothing when the
// registry has no such company or cannot be read.
std::optional<std::string> registeredDatabase(double companyId, state::GlobalState& g);

// Registers the data sources of the current company: DataSourceName for the company database,
// "Qen_Temp" and "Qen_Azienda" on the local server, each added and then configured.
void registerCompanyDataSources(state::GlobalState& g);

}  // namespace vopa::company
