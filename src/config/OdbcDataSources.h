#pragma once
// Registration of the ODBC data sources the suite's other programs use ("Qen_Server", "Qen_server",
// "Qen_Temp", "Qen_Azienda"), through unixODBC's installer (odbcinst): the entry is written to odbc.ini
// with the installer's profile functions, then the driver's setup routine is asked to add or configure it.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vopa::config {

enum class DriverKind : std::int32_t { Access = 1, SqlServer = 2 };

// Installer request codes the program sends.
inline constexpr std::uint16_t kAddUserDataSource = 1;
inline constexpr std::uint16_t kConfigureUserDataSource = 2;
inline constexpr std::uint16_t kAddSystemDataSource = 4;

// Data-source names longer than this are cut to their first kMaxDataSourceName characters.
inline constexpr std::size_t kMaxDataSourceName = 30;

// The driver the profile entry names, whatever the driver kind.
inline constexpr std::string_view kProfileDriver = "SQL Server";

// "Microsoft Access Driver (*.mdb)" for kind 1, "SQL Server" for kind 2, empty for any other value.
std::string driverNameFor(std::int32_t driverKind);

// The list handed to the driver's setup routine: "DSN=", "Description=", "SERVER=", "DBQ=" pairs, each
// followed by a NUL (so the text ends with a NUL after the last pair; the string's own terminator
// then closes the list).
std::string installerAttributeList(std::string_view name, std::string_view database,
                                   std::string_view description, std::string_view server);

// The pairs of the odbc.ini entry, in order: Description, OemToAnsi=No, SERVER, Database,
// Trusted_Connection=1. User and password are never part of it.
std::vector<std::pair<std::string, std::string>> profileAttributes(std::string_view database,
                                                                   std::string_view description,
                                                                   std::string_view server);

// The same pairs as "key=value" texts joined by carriage returns, without a trailing separator.
std::string profileAttributeList(std::string_view database, std::string_view description,
                                 std::string_view server);

// Registers one data source: writes its odbc.ini entry (the user file for requests 1 and 2, the system
// file for request 4) naming the "SQL Server" driver, then calls SQLConfigDataSource with the request,
// the driver of `driverKind` and the installer list. Returns the installer's result (non-zero on
// success); 0 when any step fails (a refused profile write skips the installer call). Failures are
// dropped, never shown. `user` and `password` are accepted but not registered.
std::int32_t registerDataSource(std::uint16_t request, std::int32_t driverKind, std::string name,
                                const std::string& database, const std::string& description,
                                const std::string& server, const std::string& user,
                                const std::string& password);

}  // namespace vopa::config
