#include "OdbcDataSources.h"

#include <odbcinst.h>

#include <mutex>
#include <stdexcept>

#include "platform/text/Text.h"
#include "util/ErrorModes.h"

namespace vopa::config {
namespace {

constexpr std::string_view kAccessDriver = "Microsoft Access Driver (*.mdb)";
constexpr std::string_view kSqlServerDriver = "SQL Server";

// The installer's file name for odbc.ini; the configuration mode decides whether that is the user's
// file ($ODBCINI, ~/.odbc.ini) or the system's ($ODBCSYSINI/odbc.ini, /etc/odbc.ini).
constexpr const char* kOdbcIni = "odbc.ini";

// A profile call of the installer that returned FALSE.
class InstallerRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void require(BOOL ok, const char* what) {
    if (!ok) throw InstallerRefused(what);
}

// The configuration mode is global to the process: registrations take turns.
std::mutex& installerMutex() {
    static std::mutex m;
    return m;
}

// Restricts the installer's profile functions to one file (user or system) for its lifetime, then
// returns to the default of both.
class ConfigModeScope {
public:
    explicit ConfigModeScope(UWORD mode) { require(SQLSetConfigMode(mode), "SQLSetConfigMode"); }
    ~ConfigModeScope() { SQLSetConfigMode(ODBC_BOTH_DSN); }
    ConfigModeScope(const ConfigModeScope&) = delete;
    ConfigModeScope& operator=(const ConfigModeScope&) = delete;
};

UWORD configModeFor(std::uint16_t request) {
    switch (request) {
    case ODBC_ADD_SYS_DSN:
    case ODBC_CONFIG_SYS_DSN:
    case ODBC_REMOVE_SYS_DSN:
        return ODBC_SYSTEM_DSN;
    default:
        return ODBC_USER_DSN;
    }
}

// Writes the data source's section of odbc.ini: the driver line, then one line per pair. The section
// is replaced as a whole (SQLWriteDSNToIni removes an existing one first), so nothing stale survives.
// This keeps the entry in place even when the driver has no setup routine to write it; FreeTDS reads
// the database from "Database=", not from the installer list's "DBQ=", which is why the entry carries it.
void writeProfileEntry(UWORD mode, const std::string& name,
                       const std::vector<std::pair<std::string, std::string>>& pairs) {
    ConfigModeScope scope(mode);
    require(SQLWriteDSNToIni(name.c_str(), std::string(kProfileDriver).c_str()), "SQLWriteDSNToIni");
    for (const auto& [key, value] : pairs)
        require(SQLWritePrivateProfileString(name.c_str(), key.c_str(), value.c_str(), kOdbcIni),
                "SQLWritePrivateProfileString");
}

bool hasControlCharacter(const std::string& value) {
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

}  // namespace

std::string driverNameFor(std::int32_t driverKind) {
    switch (static_cast<DriverKind>(driverKind)) {
    case DriverKind::Access:
        return std::string(kAccessDriver);
    case DriverKind::SqlServer:
        return std::string(kSqlServerDriver);
    }
    return {};
}

std::string installerAttributeList(std::string_view name, std::string_view database,
                                   std::string_view description, std::string_view server) {
    std::string list;
    for (const std::string& pair : {std::string("DSN=").append(name),
                                     std::string("Description=").append(description),
                                     std::string("SERVER=").append(server),
                                     std::string("DBQ=").append(database)}) {
        list.append(pair);
        list.push_back('\0');
    }
    return list;
}

std::vector<std::pair<std::string, std::string>> profileAttributes(std::string_view database,
                                                                   std::string_view description,
                                                                   std::string_view server) {
    return {{"Description", std::string(description)},
            {"OemToAnsi", "No"},
            {"SERVER", std::string(server)},
            {"Database", std::string(database)},
            {"Trusted_Connection", "1"}};
}

std::string profileAttributeList(std::string_view database, std::string_view description,
                                 std::string_view server) {
    std::string list;
    for (const auto& [key, value] : profileAttributes(database, description, server)) {
        if (!list.empty()) list.push_back('\r');
        list.append(key).append("=").append(value);
    }
    return list;
}

std::int32_t registerDataSource(std::uint16_t request, std::int32_t driverKind, std::string name,
                                const std::string& database, const std::string& description,
                                const std::string& server, const std::string& /*user*/,
                                const std::string& /*password*/) {
    std::int32_t result = 0;
    // Any failure ends the registration where it happens, silently, with result 0.
    util::ignoreErrors([&] {
        // The installer works in the system's single-byte character set, one byte per character,
        // so the 30-character cut is a byte cut after the conversion.
        name = text::toWindows1252(name);
        if (name.size() > kMaxDataSourceName) name.resize(kMaxDataSourceName);
        const std::string db = text::toWindows1252(database);
        const std::string desc = text::toWindows1252(description);
        const std::string srv = text::toWindows1252(server);
        // odbc.ini is a line-oriented file: a line break in a value read from the registry would start
        // a section or a Driver= line of its own, so a value with a control character is refused.
        for (const std::string* value : std::initializer_list<const std::string*>{&name, &db, &desc, &srv})
            if (hasControlCharacter(*value)) throw InstallerRefused("control character in a data-source attribute");
        const std::string driver = driverNameFor(driverKind);
        const std::string attributes = installerAttributeList(name, db, desc, srv);

        std::lock_guard lock(installerMutex());
        writeProfileEntry(configModeFor(request), name, profileAttributes(db, desc, srv));
        // Without a setup routine for the driver (FreeTDS on Debian ships none) the installer answers
        // 0, "General installer error"; that is expected and not reported.
        result = SQLConfigDataSource(nullptr, request, driver.c_str(), attributes.c_str());
    });
    // Opening an Access form after the registration is left out: the path it was built from can never
    // be opened.
    return result;
}

}  // namespace vopa::config
