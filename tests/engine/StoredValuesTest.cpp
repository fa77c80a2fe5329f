// Values stored in the registry and the company database reach statements, connection texts and the
// ODBC configuration as data: a hostile value changes nothing but its own entry, and the other company's
// database on the same server survives every path that reads one.

#include <gtest/gtest.h>

#include <algorithm>

#include "training/BuildReport.h"
#include "company/CompanyOpening.h"
#include "config/ConnectionStrings.h"
#include "config/SharedObjects.h"
#include "platform/files/Files.h"
#include "support/ScriptedMessageService.h"
#include "schema/SchemaSteps.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

using namespace vopa;
using vopa::testing::SmallInstallation;

namespace {

const char* const kVictim = "VoPaDatiNordSud";

struct Fixture {
    vopa::testing::TempDrive drive;
    ui::ScopedScriptedMessages messages;
    state::GlobalState g;
    SmallInstallation installation{{{1, "Alfa Onlus", "VoPaDatiAlfa"}, {2, "Nord Sud", kVictim}}};

    Fixture() {
        g.ComputerName = "PC_UFFICIO";
        double id = 1;
        company::openCompany(id, g);
    }
    static bool victimIntact() {
        return SmallInstallation::count("master", std::string("SELECT name FROM master.dbo.sysdatabases WHERE name = '") +
                                                      kVictim + "'") == 1 &&
               SmallInstallation::count(kVictim, "SELECT * FROM link_programma") > 0;
    }
};

// The statement a stored value would end, followed by its own.
const std::string kDropInBrackets = std::string(";drop database[") + kVictim;
const std::string kDropInQuotes = std::string("x' , SIZE = 1) LOG ON (NAME = N'l', FILENAME = N'C:\\Vopa\\Sedi\\l.ldf'); "
                                              "DROP DATABASE [") + kVictim + "]; --";

TEST(StoredValues, TheRowCheckCountsProjectAndFunderTablesByName) {
    Fixture f;
    SmallInstallation::run("VoPaDatiAlfa", "CREATE TABLE progetti (id int NULL, Type nvarchar(10) NULL, Number nvarchar(30) NULL)\n"
                                           "CREATE TABLE finanziatore (id int NULL, Type nvarchar(50) NULL)");
    SmallInstallation::run("VoPaDatiAlfa", "INSERT INTO progetti VALUES (1, N'conti]', " + util::unicodeLiteral(kDropInBrackets) +
                                               ")\nINSERT INTO progetti VALUES (2, N'L''Aquilone', N'')\n"
                                               "INSERT INTO finanziatore VALUES (1, " + util::unicodeLiteral("x]" + kDropInBrackets) + ")");
    // A project's table that the company really has is checked, under its own name.
    SmallInstallation::run("VoPaDatiAlfa", "CREATE TABLE [L'Aquilone] (id int NULL)\nINSERT INTO [L'Aquilone] VALUES (1)");

    const std::vector<training::TableCheck> checks = training::verifyCopy(f.g, "VoPaDatiAlfa");

    EXPECT_TRUE(Fixture::victimIntact());
    const auto aquilone = std::find_if(checks.begin(), checks.end(), [](const training::TableCheck& c) { return c.table == "L'Aquilone"; });
    ASSERT_NE(aquilone, checks.end());
    EXPECT_EQ(aquilone->companyRows, 1);
    for (const training::TableCheck& c : checks) EXPECT_EQ(c.table.find("drop"), std::string::npos) << c.table;
}

TEST(StoredValues, TheDatabaseFolderAndNameAreTextInTheCreationAndTheLookups) {
    Fixture f;
    SmallInstallation::run("VoPaDatiAzienda", "UPDATE link_programma SET IndirizzoMdf = " + util::unicodeLiteral("C:\\Vopa\\Sedi\\" + kDropInQuotes) +
                                                  " WHERE id = 1");
    f.g.ServerConnection.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
    // Whether the server takes so odd a file name or not, it is one file name.
    util::ignoreErrors([&] { schema::createDatabase("VoPaDatiTraining", f.g, [&] { company::readDataFileFolder(f.g); }); });
    EXPECT_TRUE(Fixture::victimIntact());
    util::ignoreErrors([&] { config::createScratchDatabase(f.g); });
    EXPECT_TRUE(Fixture::victimIntact());

    // A database name read from the registry, in the existence test, the folder lookup and the
    // company's connection text.
    for (const std::string& name : {"x' OR 1=1; DROP DATABASE [" + std::string(kVictim) + "]; --",
                                    "x;Server=elsewhere;DATABase=" + std::string(kVictim)}) {
        f.g.CompanyDatabaseName = name;
        EXPECT_FALSE(company::databaseExists(f.g)) << name;
        company::readDataFileFolder(f.g);
        EXPECT_EQ(f.g.DataFileFolder, "") << name;
        data::Connection c;
        EXPECT_FALSE(util::ignoreErrors([&] { c.open(config::companyConnection("Driver=SQL Server;Server=(local);", name)); }))
            << name;
        EXPECT_TRUE(Fixture::victimIntact()) << name;
    }
}

TEST(StoredValues, ACompanyNameWithLineBreaksWritesNoSectionOfItsOwn) {
    Fixture f;
    f.g.CompanyName = "Alfa\n[Evil]\nDriver=/tmp/evil.so\n";
    company::registerCompanyDataSources(f.g);
    for (const std::string& section : vopa::testing::iniSections(f.drive.odbcUserFile())) {
        EXPECT_NE(section, "Evil");
        EXPECT_NE(vopa::testing::iniSection(f.drive.odbcUserFile(), section)["Driver"], "/tmp/evil.so") << section;
    }
    // An ordinary name is registered as before.
    f.g.CompanyName = "L'Aquilone «Città»";
    company::registerCompanyDataSources(f.g);
    EXPECT_EQ(vopa::testing::iniSection(f.drive.odbcUserFile(), "Qen_server")["Database"], "VoPaDatiAlfa");
}

}  // namespace
