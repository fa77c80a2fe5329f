#pragma once
// A fresh, empty drive C: for one test: VOPA_DRIVE_C points at a new temporary folder, which is removed
// (and the variable and current folder restored) afterwards. ODBC data sources go to files of that
// folder (ODBCINI = <root>/user-odbc.ini) and to a system file of the test process (odbcSystemFile()).

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vopa::testing {

class TempDrive {
public:
    TempDrive();
    ~TempDrive();
    TempDrive(const TempDrive&) = delete;
    TempDrive& operator=(const TempDrive&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Raw bytes of a file below the root, named by a relative path ("vopa/NomeServer.txt"); writing
    // takes the spelling as given, reading and exists() ignore case as the program does.
    void writeRaw(const std::string& relative, const std::string& bytes) const;
    std::string readRaw(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // An installation whose server and local server are this machine's default instance: the four
    // configuration files of C:\vopa and the data folder C:\Vopa\Sedi.
    void writeLocalInstallation() const;
    // The system odbc.ini the program's system data sources go to (empty when the drive is made).
    const std::filesystem::path& odbcSystemFile() const { return odbcSystemFile_; }
    // The user's odbc.ini the program's user data sources go to.
    std::filesystem::path odbcUserFile() const { return root_ / "user-odbc.ini"; }

private:
    std::filesystem::path root_;
    std::filesystem::path previousCwd_;
    std::optional<std::string> previousValue_;
    std::vector<std::pair<std::string, std::string>> previousOdbc_;
    std::filesystem::path odbcSystemFile_;
};

// The "key=value" lines of section [name] of an odbc.ini, keys as written; empty when it is missing.
std::map<std::string, std::string> iniSection(const std::filesystem::path& file, const std::string& name);
// The names of the sections of an odbc.ini, in order.
std::vector<std::string> iniSections(const std::filesystem::path& file);

}  // namespace vopa::testing
