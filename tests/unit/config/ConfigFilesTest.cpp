#include <gtest/gtest.h>

#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "platform/files/Files.h"
#include "support/TempDrive.h"

namespace config = vopa::config;
using vopa::state::GlobalState;
using vopa::testing::TempDrive;

namespace {

TEST(ServerAddress, ReadsTheAddressAndTheServerName) {
    TempDrive drive;
    GlobalState g;
    EXPECT_THROW(config::readServerAddress(g), vopa::files::FileError);

    drive.writeRaw("vopa/IndirizzoServer.txt", "Driver=SQL Server;Server=SRV01;UID=sa;PWD=pw;\r\n");
    EXPECT_THROW(config::readServerAddress(g), vopa::files::FileError) << "NomeServer.txt is missing";

    drive.writeRaw("vopa/NomeServer.txt", "SRV01\r\n");
    EXPECT_EQ(config::readServerAddress(g), "Driver=SQL Server;Server=SRV01;UID=sa;PWD=pw;");
    EXPECT_EQ(g.ServerName, "SRV01");
    EXPECT_EQ(config::companyConnection(config::readServerAddress(g), "VoPaDati"),
              "Driver=SQL Server;Server=SRV01;UID=sa;PWD=pw;DATABase=VoPaDati");
}

TEST(ServerAddress, UserAndPasswordReaders) {
    struct Case {
        const char* address;
        const char* user;
        const char* password;
    };
    const Case cases[] = {
        {"Driver=SQL Server;Server=S;UID=mario;PWD=segreta;", "mario", "segreta"},
        {"Driver=SQL Server;Server=S;UID=;PWD=;", "", ""},
        {"Driver=SQL Server;Server=S;ID utente=anna;Password=x1;", "anna", "x1"},
        // Keys are case-sensitive: a lower-case uid is not a user key, ";ID utente=" is used instead.
        {"Driver=SQL Server;Server=S;uid=low;ID utente=anna;pwd=low;Password=x1;", "anna", "x1"},
        {"Driver=SQL Server;Server=S;uid=low;pwd=low;", "", ""},
        {"Driver=SQL Server;Server=S;Trusted_Connection=yes;", "", ""},
        {"Driver=SQL Server;Server=S;UID=a;ID utente=b;PWD=c;Password=d;", "a", "c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(config::userInAddress(c.address), c.user) << c.address;
        EXPECT_EQ(config::passwordInAddress(c.address), c.password) << c.address;
    }
    EXPECT_THROW(config::userInAddress("Driver=SQL Server;Server=S;UID=mario"), config::ConfigError);
    EXPECT_THROW(config::passwordInAddress("Driver=SQL Server;UID=a;PWD=open"), config::ConfigError);

    TempDrive drive;
    drive.writeRaw("vopa/IndirizzoServer.txt", "Driver=SQL Server;Server=S;UID=mario;PWD=segreta;");
    drive.writeRaw("vopa/NomeServer.txt", "S");
    GlobalState g;
    EXPECT_EQ(config::readServerUser(g), "mario");
    EXPECT_EQ(config::readServerPassword(g), "segreta");
}

TEST(LocalConnection, UsesTheDefaultAndRecordsItWhenTheFileIsMissing) {
    TempDrive drive;
    GlobalState g;
    g.ComputerName = "PC01";
    const std::string fallback = "Driver=SQL Server;Server=PC01\\sqlexpress;ID utente=;Password=;";
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(config::readLocalConnection(g), fallback);
        EXPECT_EQ(drive.readRaw("Vopa/IndirizzoServerLocal.txt"), fallback);
        EXPECT_FALSE(drive.exists("Vopa/Leggi_ServerLocal.txt"));
    }
    drive.writeRaw("Vopa/Leggi_ServerLocal.txt", "Driver=SQL Server;Server=PC01;ID utente=;Password=;\r\n");
    EXPECT_EQ(config::readLocalConnection(g), "Driver=SQL Server;Server=PC01;ID utente=;Password=;");
}

TEST(LocalServerName, FirstCallRepairsTheFilesAndTheNextReadsThem) {
    TempDrive drive;
    GlobalState g;
    g.ComputerName = "PC01";
    EXPECT_EQ(config::readLocalServerName(g), "PC01");
    EXPECT_EQ(drive.readRaw("Vopa/NomeServerLocal.txt"), "PC01\\sqlexpress");
    // The connection file gets a usable connection text.
    EXPECT_EQ(drive.readRaw("Vopa/Leggi_ServerLocal.txt"),
              "Driver=SQL Server;Server=PC01\\sqlexpress;ID utente=;Password=;");
    EXPECT_EQ(config::readLocalServerName(g), "PC01\\sqlexpress");
}

TEST(LocalServerName, KeepsAConfiguredLocalConnection) {
    TempDrive drive;
    drive.writeRaw("Vopa/Leggi_ServerLocal.txt", "Driver=SQL Server;Server=OTHER;ID utente=;Password=;");
    GlobalState g;
    g.ComputerName = "PC01";
    EXPECT_EQ(config::readLocalServerName(g), "PC01");
    EXPECT_EQ(drive.readRaw("Vopa/Leggi_ServerLocal.txt"), "Driver=SQL Server;Server=OTHER;ID utente=;Password=;");
}

// Each connection text as the program builds it; a database name after an address in lower case, braced
// when it holds a ";" (and "}}" for a closing brace).
TEST(ConnectionStrings, SpellTheKeyWordsExactly) {
    const std::string s = "Driver=SQL Server;Server=S;";
    const std::pair<std::string, std::string> cases[] = {
        {config::companyConnectionClosed(s, "Db1"), s + "DATABase=Db1;"},
        {config::registryConnection(s), s + "DATABase=vopadatiazienda"},
        {config::scratchConnection("Driver=SQL Server;Server=PC\\sqlexpress;ID utente=;Password=;"),
         "Driver=SQL Server;Server=PC\\sqlexpress;ID utente=;Password=;DATABase=VoPaDatiTemp"},
        {config::signInLocalConnection("PC"), "Driver=SQL Server;Server=PC;ID utente=;Password=;"},
        {config::localAccessConnection("C:\\Vopa\\Files", "Sede1.mdb"),
         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Vopa\\Files\\Sede1.mdb;"},
        {config::addressDatabaseConnection("Driver=SQL Server;Server=SRV01;UID=sa;PWD=pw;", "VoPaDatiTraining"),
         "Driver=SQL Server;Server=SRV01;UID=sa;PWD=pw;database=VoPaDatiTraining"},
        {config::addressDatabaseConnection(s, "Dati;UID=sa"), s + "database={Dati;UID=sa}"},
        {config::addressDatabaseConnection(s, "a}b"), s + "database={a}}b}"},
        {config::localServerConnection(), "Driver=SQL Server;Server=(Local);UID=;PWD=;"},
    };
    for (const auto& [made, expected] : cases) EXPECT_EQ(made, expected);
}

TEST(ConnectionStrings, DatabaseOptionsInOrder) {
    std::vector<std::string> training = config::databaseOptionStatements("VoPaDatiTraining", true);
    ASSERT_EQ(training.size(), 18u);
    EXPECT_EQ(training.front(), "  sp_dboption N'VoPaDatiTraining', N'autoclose', N'true'");
    EXPECT_EQ(training[2], " sp_dboption N'VoPaDatiTraining', N'trunc. log', N'true'");
    EXPECT_EQ(training.back(), " sp_dboption N'VoPaDatiTraining', N'auto update statistics', N'true'");
    EXPECT_EQ(config::databaseOptionStatements("VoPaDatiTemp", false).front(),
              " sp_dboption N'VoPaDatiTemp', N'autoclose', N'true'");
}

}  // namespace
