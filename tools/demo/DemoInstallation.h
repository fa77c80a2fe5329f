#pragma once
// The demo installation: everything a fresh machine needs to run the program on the embedded engine
// with realistic data. Under the drive root (VOPA_DRIVE_C) it writes the suite's configuration files in
// C:\vopa, makes the data folders, creates the company registry VoPaDatiAzienda and two company
// databases with the full schema, users, projects with their budget tables, funders with their
// accounts tables, contacts, ledger, donations and payroll, all generated from a seed.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vopa::demo {

struct DemoOptions {
    std::uint64_t seed = 1;
    std::int64_t rows = 20000;  // total generated rows over both companies (scale)
    bool force = false;         // replace an existing installation
    std::function<void(const std::string&)> progress;  // one line now and then on long runs (may be empty)
};

struct DemoUser {
    std::string name, password, role;  // password empty for the user without one
};
struct DemoCompany {
    int id;
    std::string name, databaseName;
};
struct DemoInstallation {
    std::vector<DemoUser> users;
    std::vector<DemoCompany> companies;
};

class DemoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The server address and data folder a demo installation uses.
inline constexpr const char* kDemoServerAddress = "Driver=SQL Server;Server=(local);UID=;PWD=;";
inline constexpr const char* kDemoDataFolder = "C:\\Vopa\\Sedi\\";
inline constexpr const char* kRegistryDatabase = "VoPaDatiAzienda";

// A login of the instance's master that the program signs in with through vopa-server.
struct DemoLogin {
    std::string name, password;
    bool madeUp = false;  // no row or file named a login: this one was made for the connections
};

// Whether C:\vopa\IndirizzoServer.txt is present under the drive root.
bool installationExists();

// Creates the installation. Throws DemoError when one exists and `force` is false (nothing is touched
// then), or when a step fails (the message names the step and the server's error).
DemoInstallation createDemoInstallation(const DemoOptions& options);

// Creates in the instance's master the logins the installation's connections name (the registry rows'
// nRoot and Npassw, the server address file's UID and PWD), or gives them those passwords when they
// exist. When nothing names a login (the demo's own rows and files do not), makes the login "vopa"
// with a new random password and leaves every file as it is: the program's connections then get the
// login from VOPA_ODBC_OPTIONS. Throws DemoError when there is no installation or a step fails.
std::vector<DemoLogin> createServerLogins();

}  // namespace vopa::demo
