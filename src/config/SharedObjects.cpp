#include "SharedObjects.h"

#include "ConfigFiles.h"
#include "ConnectionStrings.h"
#include "platform/files/Files.h"
#include "platform/ui/MessageService.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::config {
namespace {

const char* const kDefaultDataFolder = "C:\\Vopa\\Sedi\\";

// The text up to and including its last backslash (empty when it has none).
std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void closeQuietly(data::Connection& c) {
    if (c.isOpen()) util::ignoreErrors([&] { c.close(); });
}

}  // namespace

void openSharedOnCompany(state::GlobalState& g) {
    util::ignoreErrors([&] { g.SharedConnection.open(companyConnection(readServerAddress(g), g.CompanyDatabaseName)); });
}

void resetSharedObjects(state::GlobalState& g) {
    for (data::Recordset& rs : g.SharedRecordsets)
        if (rs.isOpen())
            util::ignoreErrors([&] {
                rs.cancelUpdate();
                rs.close();
            });
    closeQuietly(g.ServerConnection);
    closeQuietly(g.SchemaConnection);
    closeQuietly(g.LocalConnection);
    util::ignoreErrors([&] { g.LocalConnection.open(g.LocalConnectionString); });
    util::ignoreErrors([&] { g.CompanyConnectionString = companyConnectionClosed(readServerAddress(g), g.CompanyDatabaseName); });
    auto command = std::make_unique<data::Command>();
    command->activeConnection = &g.SharedConnection;
    command->commandType = data::CommandType::Text;
    command->commandTimeout = 0;
    g.SharedCommand = std::move(command);
}

std::string dataFolder(state::GlobalState& g, const std::function<void()>& readDataFileFolder) {
    std::string result = kDefaultDataFolder;
    if (readDataFileFolder) util::ignoreErrors(readDataFileFolder);
    if (!util::isEmptyValue(Value::string(g.DataFileFolder))) {
        std::string folder = g.DataFileFolder + "\\";
        std::string single;
        for (std::size_t i = 0; i < folder.size(); ++i) {
            single.push_back(folder[i]);
            if (folder[i] == '\\' && i + 1 < folder.size() && folder[i + 1] == '\\') ++i;
        }
        return folderOf(single);
    }
    util::ignoreErrors([&] {
        data::Connection own;
        own.open(readServerAddress(g));
        data::Recordset rs;
        rs.open("SELECT * FROM [master].[sys].[sysdatabases] where name like 'vopadati%' order by name asc", own,
                data::CursorType::Keyset, data::LockType::Pessimistic);
        if (rs.eof()) return;
        const std::string fileName = rs.field("FileName").toString();
        rs.close();
        if (fileName.empty()) {
            ui::messages().message("Errore sql");
            result.clear();
        } else {
            result = folderOf(fileName);
        }
    });
    return result;
}

std::string serverDataFolder() {
    std::string result;
    util::showErrors([&] {
        data::Connection local;
        local.open(localServerConnection());
        data::Recordset rs;
        rs.open("SELECT * FROM master.dbo.sysdatabases order by dbid asc", local, data::CursorType::Keyset,
                data::LockType::Pessimistic);
        std::string path = rs.eof() ? std::string() : rs.field("FileName").toString();
        rs.close();
        if (path.empty())
            ui::messages().message("Errore sql");
        else
            result = folderOf(path);
    });
    return result;
}

void createScratchDatabase(state::GlobalState& g) {
    closeQuietly(g.ServerConnection);
    g.ServerConnection.open(serverConnection(g.ServerName));
    g.ServerConnection.execute(
        "IF EXISTS (SELECT name FROM master.dbo.sysdatabases WHERE name = N'VoPaDatiTemp') DROP DATABASE "
        "[VoPaDatiTemp]");

    // From here on every failure is skipped. The server's folder is looked up once for all its uses.
    const std::string serverFolder = serverDataFolder();
    for (const char* file : {"VoPaDatiTemp.mdf", "VoPaDatiTemp.ldf"}) {
        const std::string path = serverFolder + file;
        util::ignoreErrors([&] {
            if (files::fileExists(path)) files::deleteFile(path);
        });
    }
    auto run = [&](const std::string& statement) {
        util::ignoreErrors([&] { g.ServerConnection.execute(statement); });
    };
    run("sp_configure 'query timeout',0");
    run("CREATE DATABASE [VoPaDatiTemp]  ON (NAME = N'VoPaDatiTemp_dat', FILENAME = " +
        util::unicodeLiteral(serverFolder + "VoPaDatiTemp.mdf") +
        " ,  FILEGROWTH = 10%) LOG ON (NAME = N'VoPaDatiTemp_log', FILENAME = " +
        util::unicodeLiteral(dataFolder(g) + "VoPaDatiTemp.ldf") + " , SIZE = 2, FILEGROWTH = 10%)");
    for (const std::string& option : databaseOptionStatements("VoPaDatiTemp", false)) run(option);
}

bool openScratchDatabase(state::GlobalState& g) {
    closeQuietly(g.ServerConnection);
    for (int attempt = 0; attempt < 2; ++attempt) {
        closeQuietly(g.ServerConnection);
        g.ServerConnectionString = readLocalConnection(g);
        // The local server must answer before its scratch database is looked for.
        if (!util::ignoreErrors([&] {
                g.ServerConnection.open(g.ServerConnectionString);
                g.ServerConnection.close();
            }))
            return false;
        g.ServerConnectionString = scratchConnection(readLocalConnection(g));
        if (util::ignoreErrors([&] { g.ServerConnection.open(g.ServerConnectionString); })) return true;
        // Missing or unreadable: create it once and try again.
        if (attempt == 0 && !util::ignoreErrors([&] { createScratchDatabase(g); })) return false;
    }
    return false;
}

bool openScratchRow(const std::string& createStatement, const std::string& query, state::GlobalState& g) {
    if (!openScratchDatabase(g)) return false;
    util::ignoreErrors([&] { g.ServerConnection.execute(createStatement); });
    data::Recordset& rs = g.SharedRecordset;
    if (rs.isOpen()) rs.close();
    rs.open(query, g.ServerConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
    return true;
}

}  // namespace vopa::config
