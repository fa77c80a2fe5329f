#pragma once
// The steps of a build that shape a database: creating it on the server, giving it the base schema,
// and giving it its keys and indexes.

#include <functional>
#include <string>
#include <vector>

#include "platform/data/DataError.h"
#include "state/GlobalState.h"

namespace vopa::schema {

// Creates the database `name` on the server ServerConnection is open on, with its files in the data
// folder (config::dataFolder): drops an old database of that name, deletes its leftover files, runs the
// creation statement and the eighteen database options. Does nothing for "vopadati" (any case) or an
// empty name.
//
// The creation statement is sent once: when it fails, the server's error is thrown and nothing after
// it runs, so that the caller can report it and stop before creating tables. The options are each sent
// once; their failures (a server without sp_dboption, say) are returned for the caller to report, since
// the database exists all the same. Failures before the creation (the drop, a file deletion) only end
// the clean-up.
std::vector<data::DataError> createDatabase(const std::string& name, state::GlobalState& g,
                                            const std::function<void()>& readDataFileFolder = {});

// Opens SchemaConnection with ServerConnectionString and creates the 355 tables of the base schema, in
// their nine batches. A table that fails shows the provider's description in an OK-only box and the
// batch goes on; a connection that cannot be opened shows one box and ends the step.
void runSchemaStep(state::GlobalState& g);

// The index pass on SharedConnection: the 327 key and index statements in order, every failure silent.
void runIndexPass(state::GlobalState& g);

// Creates a company database on the server `serverAddress` names (an ODBC text ending with ";") with its
// files in `windowsFolder` (ending with "\"), gives it the base schema and the upgrades, and leaves
// SharedConnection open on it. The scratch database is opened (and made when missing) first, as the
// program's start-up does, because the upgrades write to it. The demo installation and the tests build their company databases so.
// Throws data::DataError when the database cannot be created.
void createCompanyDatabase(const std::string& serverAddress, const std::string& databaseName,
                           const std::string& windowsFolder, state::GlobalState& g);

}  // namespace vopa::schema
