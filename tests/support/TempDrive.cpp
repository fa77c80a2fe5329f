#include "TempDrive.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <unistd.h>

#include "platform/files/Files.h"

namespace fs = std::filesystem;

namespace vopa::testing {

TempDrive::TempDrive() : previousCwd_(fs::current_path()) {
    if (const char* v = std::getenv("VOPA_DRIVE_C")) previousValue_ = v;
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("vopa-drive-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(root_);
    setenv("VOPA_DRIVE_C", root_.c_str(), 1);
    // Data sources the program registers go to files of the test, never to the machine's own. The ODBC
    // installer keeps the system folder it first saw for the whole process, so that folder is one per
    // process; its odbc.ini starts empty for each drive (the installer does not create a missing one).
    for (const char* variable : {"ODBCINI", "ODBCSYSINI"})
        if (const char* v = std::getenv(variable)) previousOdbc_.emplace_back(variable, v);
    static const fs::path systemFolder = [] {
        fs::path folder = fs::temp_directory_path() / ("vopa-odbc-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::temp_directory_path() / ("vopa-odbc-" + std::to_string(::getpid())), ec);
        });
        return folder;
    }();
    odbcSystemFile_ = systemFolder / "odbc.ini";
    std::ofstream(odbcSystemFile_, std::ios::trunc).close();
    std::ofstream(systemFolder / "odbcinst.ini", std::ios::app).close();
    setenv("ODBCSYSINI", systemFolder.c_str(), 1);
    setenv("ODBCINI", (root_ / "user-odbc.ini").c_str(), 1);
}

TempDrive::~TempDrive() {
    std::error_code ec;
    fs::current_path(previousCwd_, ec);
    unsetenv("ODBCINI");
    unsetenv("ODBCSYSINI");
    for (const auto& [variable, value] : previousOdbc_) setenv(variable.c_str(), value.c_str(), 1);
    if (previousValue_)
        setenv("VOPA_DRIVE_C", previousValue_->c_str(), 1);
    else
        unsetenv("VOPA_DRIVE_C");
    fs::remove_all(root_, ec);
}

void TempDrive::writeRaw(const std::string& relative, const std::string& bytes) const {
    fs::path p = root_ / relative;
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::string TempDrive::readRaw(const std::string& relative) const {
    fs::path p = files::mapPath("C:/" + relative);
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void TempDrive::writeLocalInstallation() const {
    writeRaw("vopa/IndirizzoServer.txt", "Driver=SQL Server;Server=(local);UID=;PWD=;");
    writeRaw("vopa/NomeServer.txt", "(local)");
    writeRaw("vopa/Leggi_ServerLocal.txt", "Driver=SQL Server;Server=(local);ID utente=;Password=;");
    writeRaw("vopa/NomeServerLocal.txt", "(local)");
    writeRaw("Vopa/Sedi/.keep", "");
}

bool TempDrive::exists(const std::string& relative) const { return fs::exists(files::mapPath("C:/" + relative)); }

namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::vector<std::string> iniSections(const fs::path& file) {
    std::vector<std::string> names;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        line = trimmed(line);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') names.push_back(line.substr(1, line.size() - 2));
    }
    return names;
}

std::map<std::string, std::string> iniSection(const fs::path& file, const std::string& name) {
    std::map<std::string, std::string> pairs;
    std::ifstream in(file);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        line = trimmed(line);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
            inside = line.substr(1, line.size() - 2) == name;
        else if (const auto eq = line.find('='); inside && eq != std::string::npos)
            pairs[trimmed(line.substr(0, eq))] = trimmed(line.substr(eq + 1));
    }
    return pairs;
}

}  // namespace vopa::testing
