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

// Whether C:\vopa\IndirizzoServer.txt is present under the drive root.
bool installationExists();

// Creates the installation. Throws DemoError when one exists and `force` is false (nothing is touched
// then), or when a step fails (the message names the step and the server's error).
DemoInstallation createDemoInstallation(const DemoOptions& options);

}  // namespace vopa::demo
