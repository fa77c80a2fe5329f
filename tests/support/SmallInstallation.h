#pragma once
// A small installation on a TempDrive, made in a fraction of a second: the configuration files, the
// registry VoPaDatiAzienda with its companies, and for each company a database holding only the tables
// the start-up, the sign-in and the company switch read (users, office, link_programma, and the tables
// the main window's maintenance statements update).

#include <optional>
#include <string>
#include <vector>

namespace vopa::testing {

struct SmallCompany {
    int id = 0;
    std::string name;
    std::string database;  // empty: the registry row has no database name
    bool createDatabase = true;
    double office = 1;
};

struct SmallUser {
    std::string name;
    std::optional<std::string> password;  // nullopt: NULL
    bool administrator = false;
    bool disabled = false;
};

class SmallInstallation {
public:
    // Writes the configuration files (the drive must exist) and the registry with `companies`.
    explicit SmallInstallation(const std::vector<SmallCompany>& companies);

    void addUser(const std::string& database, const SmallUser& user) const;
    // Runs a batch on a database of the default instance; throws on the first error.
    static void run(const std::string& database, const std::string& sql);
    // The first column of the first row, as text ("" for none or NULL).
    static std::string scalar(const std::string& database, const std::string& query);
    static int count(const std::string& database, const std::string& query);
    // The rows of a query as the server displays them, a row's values joined by "|".
    static std::vector<std::string> rows(const std::string& database, const std::string& query);
    static bool hasTable(const std::string& database, const std::string& table);
};

}  // namespace vopa::testing
