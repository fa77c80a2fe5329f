#include "ConnectionStrings.h"

namespace vopa::config {

std::string companyConnection(std::string_view serverAddress, std::string_view databaseName) {
    return std::string(serverAddress) + "DATABase=" + std::string(databaseName);
}

std::string companyConnectionClosed(std::string_view serverAddress, std::string_view databaseName) {
    return companyConnection(serverAddress, databaseName) + ";";
}

std::string registryConnection(std::string_view serverAddress) {
    return companyConnection(serverAddress, kRegistryDatabase);
}

std::string scratchConnection(std::string_view localConnection) {
    return std::string(localConnection) + "DATABase=" + std::string(kScratchDatabase);
}

std::string defaultLocalConnection(std::string_view computerName) {
    return "Driver=SQL Server;Server=" + std::string(computerName) + "\\sqlexpress;ID utente=;Password=;";
}

std::string signInLocalConnection(std::string_view computerName) {
    return "Driver=SQL Server;Server=" + std::string(computerName) + ";ID utente=;Password=;";
}

std::string localAccessConnection(std::string_view filesFolder, std::string_view accessFile) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + std::string(filesFolder) + "\\" +
           std::string(accessFile) + ";";
}

std::vector<std::string> databaseOptionStatements(std::string_view databaseName, bool firstWithTwoBlanks) {
    static const char* const kOptions[] = {
        "', N'autoclose', N'true'",          "', N'bulkcopy', N'true'",
        "', N'trunc. log', N'true'",         "', N'torn page detection', N'true'",
        "', N'read only', N'false'",         "', N'dbo use', N'false'",
        "', N'single', N'false'",            "', N'autoshrink', N'true'",
        "', N'ANSI null default', N'false'", "', N'recursive triggers', N'false'",
        "', N'ANSI nulls', N'false'",        "', N'concat null yields null', N'false'",
        "', N'cursor close on commit', N'false'", "', N'default to local cursor', N'false'",
        "', N'quoted identifier', N'false'", "', N'ANSI warnings', N'false'",
        "', N'auto create statistics', N'true'", "', N'auto update statistics', N'true'"};
    std::vector<std::string> statements;
    for (const char* option : kOptions) {
        const bool first = statements.empty();
        statements.push_back(std::string(first && firstWithTwoBlanks ? "  sp_dboption N'" : " sp_dboption N'") +
                             std::string(databaseName) + option);
    }
    return statements;
}

}  // namespace vopa::config
