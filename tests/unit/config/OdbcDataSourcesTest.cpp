// Data-source registration against unixODBC's installer working on temporary files.
//
// This file is compiled twice. Built with VOPA_ODBC_SETUP_PROBE it is a stand-in driver setup module:
// the temporary odbcinst.ini names it as the Setup of the "SQL Server" and Access drivers, so every
// SQLConfigDataSource call reaches its ConfigDSN, which records the call in a log file. Built without,
// it is the test program.

#ifdef VOPA_ODBC_SETUP_PROBE

#include <odbcinst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Appends "mode=<config mode> request=<request> parent=<null|set>", "driver=<name>" and one line per
// attribute to $VOPA_PROBE_LOG; answers $VOPA_PROBE_ANSWER (1 when unset).
extern "C" BOOL ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
    const char* logPath = std::getenv("VOPA_PROBE_LOG");
    if (logPath == nullptr) return 0;
    std::FILE* log = std::fopen(logPath, "ab");
    if (log == nullptr) return 0;
    UWORD mode = 99;
    SQLGetConfigMode(&mode);
    std::fprintf(log, "mode=%u request=%u parent=%s\n", unsigned{mode}, unsigned{request},
                 parent == nullptr ? "null" : "set");
    std::fprintf(log, "driver=%s\n", driver == nullptr ? "(null)" : driver);
    for (const char* p = attributes; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
        std::fprintf(log, "%s\n", p);
    std::fclose(log);
    const char* answer = std::getenv("VOPA_PROBE_ANSWER");
    return answer == nullptr ? 1 : std::atoi(answer);
}

#else

#include <gtest/gtest.h>
#include <odbcinst.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/OdbcDataSources.h"
#include "support/TempDrive.h"

namespace config = vopa::config;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

using Section = std::map<std::string, std::string>;
using IniFile = std::map<std::string, Section>;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

IniFile parseIni(const fs::path& path) {
    IniFile ini;
    for (const std::string& name : vopa::testing::iniSections(path)) ini[name] = vopa::testing::iniSection(path, name);
    return ini;
}

std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readBytes(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// What a registration run in a child process reports back.
struct ChildOutcome {
    bool completed = false;        // the child ran to its end and exited normally
    std::int32_t result = -1;      // registerDataSource's result (of the last call)
    unsigned modeAfter = 99;       // the installer's configuration mode after the call
};

// A fresh folder standing for the installer's configuration: ODBCSYSINI (odbcinst.ini naming the probe
// as the drivers' setup routine, an empty system odbc.ini) and the user's odbc.ini beside it.
//
// unixODBC remembers the ODBCSYSINI folder for the life of the process after its first use, while it
// reads ODBCINI and the files themselves afresh on each call. So every registration runs in a forked
// child that points both variables at this folder before its first installer call.
class InstallerSandbox {
public:
    InstallerSandbox() {
        std::string pattern = (fs::temp_directory_path() / "vopa-odbc-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        std::ofstream{systemFile()};
        std::ofstream(root_ / "odbcinst.ini")
            << "[SQL Server]\nSetup=" VOPA_ODBC_SETUP_PROBE_PATH "\n"
            << "[Microsoft Access Driver (*.mdb)]\nSetup=" VOPA_ODBC_SETUP_PROBE_PATH "\n";
    }
    ~InstallerSandbox() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    InstallerSandbox(const InstallerSandbox&) = delete;
    InstallerSandbox& operator=(const InstallerSandbox&) = delete;

    fs::path systemFile() const { return root_ / "odbc.ini"; }
    fs::path userFile() const { return root_ / "user-odbc.ini"; }
    fs::path probeLog() const { return root_ / "setup.log"; }

    // Runs `registration` in a child process configured for this sandbox; the setup routine answers
    // `probeAnswer`.
    ChildOutcome run(const std::function<std::int32_t()>& registration, int probeAnswer = 1) const {
        int fds[2];
        if (pipe(fds) != 0) return {};
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            setenv("ODBCSYSINI", root_.c_str(), 1);
            setenv("ODBCINI", userFile().c_str(), 1);
            unsetenv("ODBCINSTINI");
            setenv("VOPA_PROBE_LOG", probeLog().c_str(), 1);
            setenv("VOPA_PROBE_ANSWER", std::to_string(probeAnswer).c_str(), 1);
            ChildOutcome outcome;
            outcome.completed = true;
            outcome.result = registration();
            UWORD mode = 99;
            SQLGetConfigMode(&mode);
            outcome.modeAfter = mode;
            const bool written = write(fds[1], &outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
            _exit(written ? 0 : 1);
        }
        close(fds[1]);
        ChildOutcome outcome;
        const bool received = pid > 0 && read(fds[0], &outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
        close(fds[0]);
        int status = 0;
        if (pid > 0) waitpid(pid, &status, 0);
        if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
        return outcome;
    }

private:
    fs::path root_;
};

std::function<std::int32_t()> registration(std::uint16_t request, std::int32_t kind, std::string name,
                                           std::string database, std::string description, std::string server) {
    return [=] {
        return config::registerDataSource(request, kind, name, database, description, server, "mario", "segreta");
    };
}

Section expectedEntry(const std::string& database, const std::string& description, const std::string& server) {
    return {{"Driver", "SQL Server"},  {"Description", description},     {"OemToAnsi", "No"},
            {"SERVER", server},        {"Database", database},           {"Trusted_Connection", "1"}};
}

// ---------------------------------------------------------------------------------------------------
// The pure builders, for what the registrations below do not pass: empty values, an Access file, a "=".

TEST(OdbcDataSources, AttributeLists) {
    const struct {
        const char* name;
        const char* database;
        const char* description;
        const char* server;
        std::string installer;
        std::string profile;
    } cases[] = {
        {"", "", "", "", "DSN=\0Description=\0SERVER=\0DBQ=\0"s,
         "Description=\rOemToAnsi=No\rSERVER=\rDatabase=\rTrusted_Connection=1"},
        // The Access file of kind 1 travels as the database.
        {"Qen_Azienda", "C:\\Vopa\\Files\\Sede.mdb", "a=b", "PC\\SQLEXPRESS",
         "DSN=Qen_Azienda\0Description=a=b\0SERVER=PC\\SQLEXPRESS\0DBQ=C:\\Vopa\\Files\\Sede.mdb\0"s,
         "Description=a=b\rOemToAnsi=No\rSERVER=PC\\SQLEXPRESS\rDatabase=C:\\Vopa\\Files\\Sede.mdb\r"
         "Trusted_Connection=1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(config::installerAttributeList(c.name, c.database, c.description, c.server), c.installer)
            << c.name;
        EXPECT_EQ(config::profileAttributeList(c.database, c.description, c.server), c.profile) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------------
// Registration through the installer.

TEST(OdbcDataSources, RegistrationWritesTheProfileEntryThenCallsTheDriversSetup) {
    const std::string thirtyOne = "Qen_abcdefghijklmnopqrstuvwxyz1";  // 31 characters
    const struct {
        const char* what;
        std::uint16_t request;
        std::int32_t kind;
        std::string name, description;
        int probeAnswer;
        bool removeSystemFile;
        std::int32_t result;
        bool system;              // the entry goes to the system file, else to the user's
        std::string section;      // as written, in Windows-1252; empty: no entry is written
        std::string description1252;
        std::string setupCall;    // empty: the setup routine is not reached
        std::string setupDriver;
    } cases[] = {
        {"add", 1, 2, "Qen_server", "Dati", 1, false, 1, false, "Qen_server", "Dati", "mode=1 request=1", "SQL Server"},
        {"configure", 2, 2, "Qen_server", "Dati", 1, false, 1, false, "Qen_server", "Dati", "mode=1 request=2",
         "SQL Server"},
        // The installer turns request 4 into 1 in system mode.
        {"add system", 4, 2, "Qen_server", "Dati", 1, false, 1, true, "Qen_server", "Dati", "mode=2 request=1",
         "SQL Server"},
        {"31 characters", 1, 2, thirtyOne, "Dati", 1, false, 1, false, thirtyOne.substr(0, 30), "Dati",
         "mode=1 request=1", "SQL Server"},
        {"30 characters", 1, 2, thirtyOne.substr(0, 30), "Dati", 1, false, 1, false, thirtyOne.substr(0, 30), "Dati",
         "mode=1 request=1", "SQL Server"},
        // 31 characters, 32 bytes in UTF-8: the cut counts characters, not UTF-8 bytes.
        {"accents", 1, 2, "Qen_Società_abcdefghijklmnopqrs", "Dati Società", 1, false, 1, false,
         "Qen_Societ\xE0_abcdefghijklmnopqr", "Dati Societ\xE0", "mode=1 request=1", "SQL Server"},
        // The profile entry always names "SQL Server", whatever the kind.
        {"Access", 1, 1, "Qen_Azienda", "Dati", 1, false, 1, false, "Qen_Azienda", "Dati", "mode=1 request=1",
         "Microsoft Access Driver (*.mdb)"},
        // A kind that is neither (258 would be 2 if cut to a byte) names no driver.
        {"unknown kind", 1, 258, "Qen_Temp", "Dati", 1, false, 0, false, "Qen_Temp", "Dati", "", ""},
        // The installer's own refusal is the result; the entry stays.
        {"setup refuses", 1, 2, "Qen_server", "Dati", 0, false, 0, false, "Qen_server", "Dati", "mode=1 request=1",
         "SQL Server"},
        // A refused profile write ends the registration before the installer call.
        {"system file cannot be written", 4, 2, "Qen_server", "Dati", 1, true, 0, true, "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InstallerSandbox sandbox;
        if (c.removeSystemFile) fs::remove(sandbox.systemFile());
        const ChildOutcome outcome =
            sandbox.run(registration(c.request, c.kind, c.name, "VoPaDati", c.description, "SRV"), c.probeAnswer);
        ASSERT_TRUE(outcome.completed);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.modeAfter, unsigned{ODBC_BOTH_DSN});
        const IniFile expected =
            c.section.empty() ? IniFile{} : IniFile{{c.section, expectedEntry("VoPaDati", c.description1252, "SRV")}};
        EXPECT_EQ(parseIni(c.system ? sandbox.systemFile() : sandbox.userFile()), expected);
        EXPECT_TRUE(parseIni(c.system ? sandbox.userFile() : sandbox.systemFile()).empty());
        if (c.setupCall.empty()) {
            EXPECT_FALSE(fs::exists(sandbox.probeLog()));
        } else {
            EXPECT_EQ(readLines(sandbox.probeLog()),
                      (std::vector<std::string>{c.setupCall + " parent=null", "driver=" + c.setupDriver,
                                                "DSN=" + c.section, "Description=" + c.description1252,
                                                "SERVER=SRV", "DBQ=VoPaDati"}));
        }
        for (const fs::path& file : {sandbox.userFile(), sandbox.systemFile(), sandbox.probeLog()}) {
            const std::string bytes = readBytes(file);
            EXPECT_EQ(bytes.find("mario"), std::string::npos) << file;
            EXPECT_EQ(bytes.find("segreta"), std::string::npos) << file;
        }
    }
}

TEST(OdbcDataSources, RegisteringAgainReplacesTheEntry) {
    // The opening procedure's sequence: each data source added, then configured, with what changed since.
    InstallerSandbox sandbox;
    ASSERT_TRUE(sandbox.run(registration(1, 2, "Qen_server", "VoPaDati", "Dati Uno", "OLD")).completed);
    ASSERT_TRUE(sandbox.run(registration(1, 2, "Qen_Temp", "VoPaDatiTemp", "Dati Uno", "LOCAL")).completed);
    ASSERT_TRUE(sandbox.run(registration(2, 2, "Qen_server", "VoPaDatiDue", "Dati Due", "NEW")).completed);

    EXPECT_EQ(parseIni(sandbox.userFile()),
              (IniFile{{"Qen_server", expectedEntry("VoPaDatiDue", "Dati Due", "NEW")},
                       {"Qen_Temp", expectedEntry("VoPaDatiTemp", "Dati Uno", "LOCAL")}}));
    EXPECT_EQ(vopa::testing::iniSections(sandbox.userFile()).size(), 2u);
}

}  // namespace

#endif
