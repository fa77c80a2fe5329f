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

}  // namespace vopa::config
