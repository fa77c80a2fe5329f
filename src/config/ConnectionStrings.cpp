#include "ConnectionStrings.h"

#include "util/Helpers.h"

namespace vopa::config {

std::string connectionValue(std::string_view value) {
    const bool plain = value.find_first_of(";{}") == std::string_view::npos &&
                       (value.empty() || (value.front() != ' ' && value.back() != ' '));
    if (plain) return std::string(value);
    std::string braced = "{";
    for (char c : value) {
        braced.push_back(c);
        if (c == '}') braced.push_back('}');
    }
    return braced + "}";
}

std::string companyConnection(std::string_view serverAddress, std::string_view databaseName) {
    return std::string(serverAddress) + "DATABase=" + connectionValue(databaseName);
}

std::string companyConnectionClosed(std::string_view serverAddress, std::string_view databaseName) {
    return companyConnection(serverAddress, databaseName) + ";";
}

std::string addressDatabaseConnection(std::string_view serverAddress, std::string_view databaseName) {
    return std::string(serverAddress) + "database=" + connectionValue(databaseName);
}

std::string registryConnection(std::string_view serverAddress) {
    return companyConnection(serverAddress, kRegistryDatabase);
}

std::string scratchConnection(std::string_view localConnection) {
    return std::string(localConnection) + "DATABase=" + std::string(kScratchDatabase);
}

std::string serverConnection(std::string_view serverName) {
    return "Driver=SQL Server;Server=" + connectionValue(serverName) + ";UID=;PWD=;";
}

std::string localServerConnection() {
    return serverConnection("(Local)");
}

std::string databaseOnServerConnection(std::string_view serverName, std::string_view databaseName) {
    return serverConnection(serverName) + "database=" + connectionValue(databaseName) + ";";
}

std::string dropDatabaseStatement(std::string_view databaseName) {
    return "IF EXISTS (SELECT name FROM master.dbo.sysdatabases WHERE name = " + util::unicodeLiteral(databaseName) +
           ") DROP DATABASE " + util::identifier(databaseName);
}

std::string defaultLocalConnection(std::string_view computerName) {
    return "Driver=SQL Server;Server=" + connectionValue(std::string(computerName) + "\\sqlexpress") + ";ID utente=;Password=;";
}

std::string signInLocalConnection(std::string_view computerName) {
    return "Driver=SQL Server;Server=" + connectionValue(computerName) + ";ID utente=;Password=;";
}

std::string localAccessConnection(std::string_view filesFolder, std::string_view accessFile) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
           connectionValue(std::string(filesFolder) + "\\" + std::string(accessFile)) + ";";
}

std::vector<std::string> databaseOptionStatements(std::string_view databaseName, bool firstWithTwoBlanks) {
    static const char* const kOptions[] = {
        ", N'autoclose', N'true'",          ", N'bulkcopy', N'true'",
        ", N'trunc. log', N'true'",         ", N'torn page detection', N'true'",
        ", N'read only', N'false'",         ", N'dbo use', N'false'",
        ", N'single', N'false'",            ", N'autoshrink', N'true'",
        ", N'ANSI null default', N'false'", ", N'recursive triggers', N'false'",
        ", N'ANSI nulls', N'false'",        ", N'concat null yields null', N'false'",
        ", N'cursor close on commit', N'false'", ", N'default to local cursor', N'false'",
        ", N'quoted identifier', N'false'", ", N'ANSI warnings', N'false'",
        ", N'auto create statistics', N'true'", ", N'auto update statistics', N'true'"};
    std::vector<std::string> statements;
    for (const char* option : kOptions) {
        const bool first = statements.empty();
        statements.push_back(std::string(first && firstWithTwoBlanks ? "  sp_dboption " : " sp_dboption ") +
                             util::unicodeLiteral(databaseName) + option);
    }
    return statements;
}

}  // namespace vopa::config
