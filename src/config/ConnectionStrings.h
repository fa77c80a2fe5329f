#pragma once
// Composition of every connection text the program builds. Key words are spelled exactly as the
// suite's other programs expect them ("DATABase=", "ID utente=", "Password=").

#include <string>
#include <string_view>
#include <vector>

namespace vopa::config {

inline constexpr std::string_view kRegistryDatabase = "vopadatiazienda";
inline constexpr std::string_view kScratchDatabase = "VoPaDatiTemp";
inline constexpr std::string_view kTrainingDatabase = "VoPaDatiTraining";

// A value as a connection text carries it: unchanged when plain, else in braces with "}" doubled, so
// that a name read from data (a database, a server) cannot end its item and add keys of its own.
std::string connectionValue(std::string_view value);

// server address + "DATABase=" + database (the reset routine's form adds a closing ";")
std::string companyConnection(std::string_view serverAddress, std::string_view databaseName);
std::string companyConnectionClosed(std::string_view serverAddress, std::string_view databaseName);
// server address + "database=" + database: the lower-case form the table checks, the copy step and the
// server-address upgrade (local connection + "database=VoPaDatiTemp") use
std::string addressDatabaseConnection(std::string_view serverAddress, std::string_view databaseName);
// server address + "DATABase=vopadatiazienda"
std::string registryConnection(std::string_view serverAddress);
// local connection + "DATABase=VoPaDatiTemp"
std::string scratchConnection(std::string_view localConnection);
// "Driver=SQL Server;Server=" + server name + ";UID=;PWD=;": the server with no database named
std::string serverConnection(std::string_view serverName);
// "Driver=SQL Server;Server=(Local);UID=;PWD=;": the local server, whose first database names its data folder
std::string localServerConnection();
// server string + "database=" + database + ";"
std::string databaseOnServerConnection(std::string_view serverName, std::string_view databaseName);
// "IF EXISTS (SELECT name FROM master.dbo.sysdatabases WHERE name = N'<name>') DROP DATABASE [<name>]"
std::string dropDatabaseStatement(std::string_view databaseName);
// "Driver=SQL Server;Server=" + computer + "\sqlexpress;ID utente=;Password=;"
std::string defaultLocalConnection(std::string_view computerName);
// "Driver=SQL Server;Server=" + computer + ";ID utente=;Password=;"
std::string signInLocalConnection(std::string_view computerName);
// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + files folder + "\" + access file + ";"
std::string localAccessConnection(std::string_view filesFolder, std::string_view accessFile);

// The eighteen database options every new database of the suite gets, one sp_dboption statement each,
// in order: " sp_dboption N'<name>', N'autoclose', N'true'" and so on. The first statement starts with
// two blanks when `firstWithTwoBlanks` is true (as the training database's creation sends it).
std::vector<std::string> databaseOptionStatements(std::string_view databaseName, bool firstWithTwoBlanks);

}  // namespace vopa::config
