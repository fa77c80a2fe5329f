#pragma once
// The configuration text files of the suite's folder C:\vopa and the readers that turn them into
// connection strings. Every reader reads the file again on each call (first line only).

#include <stdexcept>
#include <string>
#include <string_view>

#include "state/GlobalState.h"

namespace vopa::config {

inline constexpr std::string_view kServerAddressFile = "C:\\vopa\\IndirizzoServer.txt";
inline constexpr std::string_view kServerNameFile = "C:\\vopa\\NomeServer.txt";
inline constexpr std::string_view kLocalConnectionFile = "C:\\vopa\\Leggi_ServerLocal.txt";
inline constexpr std::string_view kLocalServerNameFile = "C:\\vopa\\NomeServerLocal.txt";
inline constexpr std::string_view kDefaultLocalAddressFile = "C:\\Vopa\\IndirizzoServerLocal.txt";

// A configuration text that cannot be used (for example a user name not closed by ";").
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// First line of IndirizzoServer.txt (an ODBC text without database, ending with ";"); sets ServerName
// from NomeServer.txt. Throws files::FileError when either file cannot be read.
std::string readServerAddress(state::GlobalState& g);

// First line of Leggi_ServerLocal.txt; when it cannot be read, the default local connection, which is
// also written to IndirizzoServerLocal.txt. Never throws.
std::string readLocalConnection(const state::GlobalState& g);

// The local SQL Server instance name from NomeServerLocal.txt. When it cannot be read: writes
// ComputerName + "\sqlexpress" to NomeServerLocal.txt, writes the default local connection to
// Leggi_ServerLocal.txt if that file does not exist yet, and returns ComputerName. Never throws.
std::string readLocalServerName(const state::GlobalState& g);

// The user (";UID=" or else ";ID utente=") and the password (";PWD=" or else ";Password=") named in a
// server address; keys are case-sensitive. Empty when the key is absent or its value is empty; throws
// ConfigError when the value is not closed by ";".
std::string userInAddress(std::string_view address);
std::string passwordInAddress(std::string_view address);

// The same, reading the server address afresh (may throw files::FileError too).
std::string readServerUser(state::GlobalState& g);
std::string readServerPassword(state::GlobalState& g);

}  // namespace vopa::config
