#include "SchemaSteps.h"

#include "StatementLists.h"
#include "Upgrades.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/SharedObjects.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageService.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::schema {

std::vector<data::DataError> createDatabase(const std::string& name, state::GlobalState& g,
                                            const std::function<void()>& readDataFileFolder) {
    std::vector<data::DataError> optionFailures;
    if (text::toLower(name) == "vopadati" || util::isEmptyValue(Value::string(name))) return optionFailures;

    // Clean-up: the old database and its files. A failure ends the clean-up, not the creation.
    util::ignoreErrors([&] {
        g.ServerConnection.execute(config::dropDatabaseStatement(name));
        const std::string folder = config::dataFolder(g, readDataFileFolder);
        for (const char* suffix : {".mdf", ".ldf", "_dat.mdf", "_log.ldf"}) {
            const std::string file = folder + name + suffix;
            if (files::fileExists(file)) files::deleteFile(file);
        }
    });
    util::ignoreErrors([&] { g.ServerConnection.execute("sp_configure 'query timeout',0"); });

    const std::string folder = config::dataFolder(g, readDataFileFolder);
    const std::string creation =
        "CREATE DATABASE " + util::identifier(name) + "  ON (NAME = " + util::unicodeLiteral(name + "_dat") +
        ", FILENAME = " + util::unicodeLiteral(folder + name + ".mdf") +
        " , SIZE = 91, FILEGROWTH = 10%) LOG ON (NAME = " + util::unicodeLiteral(name + "_log") +
        ", FILENAME = " + util::unicodeLiteral(folder + name + ".ldf") + " , SIZE = 2, FILEGROWTH = 10%)";
    g.ServerConnection.execute(creation);  // a failure here goes to the caller

    for (const std::string& option : config::databaseOptionStatements(name, true)) {
        try {
            g.ServerConnection.execute(option);
        } catch (const data::DataError& e) {
            if (util::isInternalError(e)) throw;
            optionFailures.push_back(e);
        }
    }
    return optionFailures;
}

void runSchemaStep(state::GlobalState& g) {
    if (g.SchemaConnection.isOpen()) util::ignoreErrors([&] { g.SchemaConnection.close(); });
    if (!util::showErrors([&] { g.SchemaConnection.open(g.ServerConnectionString); })) return;
    for (const TableSpec& table : baseSchema()) {
        util::showErrors([&] { g.SchemaConnection.execute(table.createStatement()); });
    }
}

void runIndexPass(state::GlobalState& g) {
    for (const IndexStatement& s : indexPass()) {
        const bool done = util::ignoreErrors([&] { g.SharedConnection.execute(s.text); });
        // A script that begins a transaction and fails before its Commit would leave it open: the rest of
        // the pass would run inside it (and be undone when the connection closes), and its locks would
        // keep every other connection out of the database.
        if (!done && s.kind == "script")
            util::ignoreErrors([&] { g.SharedConnection.execute("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"); });
    }
}

void createCompanyDatabase(const std::string& serverAddress, const std::string& databaseName,
                           const std::string& windowsFolder, state::GlobalState& g) {
    data::Connection server;
    server.open(serverAddress);
    server.execute("CREATE DATABASE " + util::identifier(databaseName) +
                   "  ON (NAME = " + util::unicodeLiteral(databaseName + "_dat") +
                   ", FILENAME = " + util::unicodeLiteral(windowsFolder + databaseName + ".mdf") +
                   ") LOG ON (NAME = " + util::unicodeLiteral(databaseName + "_log") +
                   ", FILENAME = " + util::unicodeLiteral(windowsFolder + databaseName + ".ldf") + ")");
    const std::string text = config::companyConnectionClosed(serverAddress, databaseName);
    data::Connection company;
    company.open(text);
    for (const TableSpec& table : baseSchema()) company.execute(table.createStatement());
    company.close();
    if (g.SharedConnection.isOpen()) g.SharedConnection.close();
    g.CompanyDatabaseName = databaseName;
    g.CompanyConnectionString = text;
    g.SharedConnection.open(text);
    // The upgrades write to the scratch database, which the program's start-up makes when it is missing.
    util::ignoreErrors([&] { config::readServerAddress(g); });
    config::openScratchDatabase(g);
    runAllUpgrades(g);
}

}  // namespace vopa::schema
