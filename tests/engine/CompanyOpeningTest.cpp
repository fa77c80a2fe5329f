// Opening the company this computer works on, with a small registry on the embedded server. Values
// stored in the registry and the company database reach statements, connection texts and the ODBC
// configuration as data: a hostile value changes nothing but its own entry, and the other company's
// database on the same server survives every path that reads one.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <iterator>

#include "company/CompanyOpening.h"
#include "company/Language.h"
#include "company/StartupMaintenance.h"
#include "config/ConnectionStrings.h"
#include "config/SharedObjects.h"
#include "flow/ProgramFlow.h"
#include "schema/SchemaSteps.h"
#include "support/ScriptedMessageService.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"
#include "training/BuildReport.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

using namespace vopa;
using vopa::testing::SmallCompany;
using vopa::testing::SmallInstallation;

namespace {

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<SmallCompany> kTwoCompanies = {{1, "Zeta Onlus", "VoPaDatiZeta"}, {2, "Alfa Sud", "VoPaDatiAlfa"}};

struct Fixture {
    vopa::testing::TempDrive drive;
    ui::ScopedScriptedMessages messages;
    state::GlobalState g;
    explicit Fixture(const std::vector<SmallCompany>& companies = kTwoCompanies) : installation(companies) {
        g.ComputerName = "PC_UFFICIO";
    }
    SmallInstallation installation;

    // Opens company `id` (0: the terminal's); the company opened.
    double open(double id) {
        company::openCompany(id, g);
        return id;
    }
    std::string terminalOf(const std::string& computer) {
        return SmallInstallation::scalar("VoPaDatiAzienda",
                                         "SELECT Ultimo FROM link_programmaTerminale WHERE Nometerminale = '" + computer + "'");
    }
};

TEST(TerminalLookup, TakesTheComputersLastCompanyElseTheFirstByDatabaseName) {
    Fixture f;
    // No terminal row: the first company by database name (Alfa before Zeta), not the first by id.
    EXPECT_EQ(company::terminalLookup(f.g), 2);
    SmallInstallation::run("VoPaDatiAzienda", "INSERT INTO link_programmaTerminale VALUES (N'PC_UFFICIO', 1)\n"
                                              "INSERT INTO link_programmaTerminale VALUES (N'', 2)\n"
                                              "INSERT INTO link_programmaTerminale VALUES (NULL, 2)");
    EXPECT_EQ(company::terminalLookup(f.g), 1);
    EXPECT_EQ(f.g.CompanyId, 1);
    EXPECT_EQ(SmallInstallation::count("VoPaDatiAzienda", "SELECT * FROM link_programmaTerminale"), 1);
    EXPECT_EQ(company::fullTerminalLookup(f.g), 1);
    f.g.ComputerName.clear();
    EXPECT_EQ(company::terminalLookup(f.g), 0);
    EXPECT_EQ(f.messages->texts(), std::vector<std::string>{"Carica Nome PC"});
}

TEST(FullTerminalLookup, ReplacesACompanyThatIsNoLongerRegistered) {
    Fixture f;
    SmallInstallation::run("VoPaDatiAzienda", "INSERT INTO link_programmaTerminale VALUES (N'PC_UFFICIO', 9)");
    // Company 9 is gone: the first "vopadati..." database of the server (Zeta was made first).
    EXPECT_EQ(company::fullTerminalLookup(f.g), 1);
}

TEST(OpenCompany, FillsTheCompanyItemsAndRecordsTheTerminal) {
    Fixture f;
    EXPECT_EQ(f.open(0), 2);
    EXPECT_EQ(f.g.CompanyId, 2);
    EXPECT_EQ(f.g.CompanyName, "Alfa Sud");
    EXPECT_EQ(f.g.CompanyDatabaseName, "VoPaDatiAlfa");
    EXPECT_EQ(f.g.CompanyConnectionString, "Driver=SQL Server;Server=(local);UID=;PWD=;DATABase=VoPaDatiAlfa;");
    EXPECT_EQ(f.g.LocalConnectionString, "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Vopa\\Files\\Qen_locale_sql.mdb;");
    EXPECT_EQ(f.g.FilesFolder, "C:\\Vopa\\Files");
    EXPECT_EQ(f.g.LanguageCode, "IT");
    EXPECT_EQ(f.terminalOf("PC_UFFICIO"), "2");
    ASSERT_TRUE(f.g.SharedConnection.isOpen());
    EXPECT_EQ(f.g.SharedConnection.execute("SELECT DB_NAME()")->field(0).toString(), "VoPaDatiAlfa");
    // The data sources of the suite's other programs: the company's under "Qen_server" (the program
    // starts with no name of its own for it), the scratch and registry databases on the local server.
    const auto user = f.drive.odbcUserFile();
    EXPECT_EQ(vopa::testing::iniSections(user), (std::vector<std::string>{"Qen_server", "Qen_Temp", "Qen_Azienda"}));
    EXPECT_EQ(vopa::testing::iniSection(user, "Qen_server")["Database"], "VoPaDatiAlfa");
    EXPECT_EQ(vopa::testing::iniSection(user, "Qen_server")["Description"], "Dati Alfa Sud");
    EXPECT_EQ(vopa::testing::iniSection(user, "Qen_Temp")["Database"], "VoPaDatiTemp");
    EXPECT_EQ(vopa::testing::iniSection(user, "Qen_Azienda")["Database"], "VoPaDatiAzienda");

    // Another company moves the terminal row, without adding a second one.
    f.open(1);
    EXPECT_EQ(f.g.CompanyDatabaseName, "VoPaDatiZeta");
    EXPECT_EQ(f.terminalOf("PC_UFFICIO"), "1");
    EXPECT_EQ(SmallInstallation::count("VoPaDatiAzienda", "SELECT * FROM link_programmaTerminale"), 1);
    EXPECT_EQ(vopa::testing::iniSection(user, "Qen_server")["Database"], "VoPaDatiZeta");
    EXPECT_TRUE(f.messages->boxes().empty());
}

TEST(OpenCompany, ACompanyWithoutItsDatabaseIsReplacedByOneThatHasIt) {
    Fixture f({{1, "Persa", "VoPaDatiPersa", false}, {2, "Presente", "VoPaDatiPresente"}});
    EXPECT_EQ(f.open(1), 2);
    EXPECT_EQ(f.g.CompanyDatabaseName, "VoPaDatiPresente");
    EXPECT_EQ(f.terminalOf("PC_UFFICIO"), "2");
}

TEST(OpenCompany, ARowWithoutDatabaseNameKeepsThePreviousDatabase) {
    Fixture f({{1, "Senza nome", ""}, {2, "Alfa", "VoPaDatiAlfa"}});
    f.open(2);
    const std::string local = f.g.LocalConnectionString;
    f.open(1);
    EXPECT_EQ(f.g.CompanyName, "Senza nome");
    EXPECT_EQ(f.g.CompanyDatabaseName, "VoPaDatiAlfa");
    EXPECT_EQ(f.g.LocalConnectionString, local);
}

TEST(OpenCompany, EndsTheProgramWhenNoCompanyCanBeOpened) {
    struct Case {
        std::vector<SmallCompany> companies;
        double id;
        const char* message;
    };
    const Case cases[] = {
        {{{1, "Persa", "VoPaDatiPersa", false}}, 1, "Non è possibile caricare il DataBase"},
        {{}, 0, "Nessun database caricato"},
    };
    for (const Case& c : cases) {
        Fixture f(c.companies);
        EXPECT_THROW(f.open(c.id), ui::ProgramEndRequested);
        EXPECT_EQ(f.messages->texts(), std::vector<std::string>{c.message});
    }
    Fixture noName;
    noName.g.ComputerName.clear();
    noName.open(1);
    EXPECT_EQ(noName.messages->texts(), std::vector<std::string>{"Caricare il nome del PC!"});
    EXPECT_FALSE(noName.g.SharedConnection.isOpen());
}

TEST(CompanyLookups, OfficeDataFolderAndDatabaseExistence) {
    Fixture f({{1, "Sede", "VoPaDatiSede", true, 7}});
    f.open(1);
    company::identifyOffice(f.g);
    EXPECT_EQ(f.g.OfficeId, 7);
    company::readDataFileFolder(f.g);
    EXPECT_EQ(f.g.DataFileFolder, "C:\\Vopa\\Sedi");
    EXPECT_TRUE(company::databaseExists(f.g));
    f.g.CompanyDatabaseName = "VoPaDatiAltro";
    EXPECT_FALSE(company::databaseExists(f.g));
}

TEST(Language, ReadsTheInstallationsCodeAndChoosesTheText) {
    Fixture f;
    EXPECT_EQ(company::readLanguage(f.g), "IT");
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiTemp", "SELECT Lingua FROM LinguaClient WHERE id = 1"), "IT");
    SmallInstallation::run("VoPaDatiTemp", "UPDATE LinguaClient SET Lingua = 'EN'");
    EXPECT_EQ(company::readLanguage(f.g), "EN");
    EXPECT_EQ(f.g.LanguageCode, "EN");
    EXPECT_EQ(SmallInstallation::count("VoPaDatiTemp", "SELECT * FROM LinguaClient"), 1);

    const std::pair<const char*, const char*> texts[] = {
        {"EN", "You are not authorized! "}, {"ES", "Usted no está autorizado!  "},
        {"FR", "Vous n'êtes pas autorisé!  "}, {"PO", "Você não está autorizado!  "},
        {"IT", "Utente non autorizzato! "}, {"DE", "Utente non autorizzato! "}, {"", "Utente non autorizzato! "},
    };
    for (const auto& [code, start] : texts) EXPECT_EQ(company::notAuthorisedMessage(code).rfind(start, 0), 0u) << code;
}

TEST(StartupMaintenance, MakesEachComputersWorkTablesOnceAndTheVersionRow) {
    Fixture f;
    f.open(2);
    f.g.OfficeId = 3;
    f.g.ComputerName = "PC_UNO";
    company::runMaintenancePass(f.g);
    f.g.ComputerName = "PC_DUE";
    company::runMaintenancePass(f.g);
    company::runMaintenancePass(f.g);
    for (const char* table : {"InserimentoProgettoPC_UNO", "CorrezioneContabilitaPC_UNO", "InserimentoProgettoPC_DUE",
                              "CorrezioneContabilitaPC_DUE", "TabellaUn"})
        EXPECT_TRUE(SmallInstallation::hasTable("VoPaDatiAlfa", table)) << table;
    // The office is the default of IdSedeAmm; the second table has the counterpart columns.
    SmallInstallation::run("VoPaDatiAlfa", "INSERT INTO InserimentoProgettoPC_UNO (IdSede) VALUES (5)\n"
                                           "INSERT INTO CorrezioneContabilitaPC_UNO (ComodoAutoNumberSedeCp) VALUES (5)");
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAlfa", "SELECT IdSedeAmm FROM InserimentoProgettoPC_UNO"), "3");
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAlfa", "SELECT IdSedeAmm FROM CorrezioneContabilitaPC_UNO"), "3");
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiTemp", "SELECT COUNT(*) FROM Version WHERE id = 1 AND Version = 1"), "1");
    EXPECT_EQ(company::versionRecord(0, f.g), 1);
    EXPECT_EQ(company::versionMarkOf("Qen_Donazioni"), 2);
    EXPECT_EQ(company::versionMarkOf("vopa-training"), 1);
    EXPECT_TRUE(f.messages->boxes().empty());
}

TEST(MainWindowMaintenance, FillsTheAdministeringOfficeFromTheRightColumn) {
    Fixture f;
    f.open(2);
    SmallInstallation::run("VoPaDatiAlfa", "INSERT INTO partitadoppia VALUES (1, NULL, 4, 9)\n"
                                           "INSERT INTO partitadoppia VALUES (2, 0, 5, 9)\n"
                                           "INSERT INTO partitadoppia VALUES (3, 6, 7, 9)\n"
                                           "INSERT INTO acquisti VALUES (1, NULL, 4, 8)\n"
                                           "INSERT INTO progettitermine VALUES (1, NULL)");
    flow::ProgramFlow(f.g).mainWindowActivated();
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAlfa", "SELECT SUM(IdSedeAmm * IDTransazione) FROM partitadoppia"),
              std::to_string(4 * 1 + 5 * 2 + 6 * 3));
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAlfa", "SELECT IdSedeAmm FROM acquisti"), "8");
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAlfa", "SELECT rendiconto FROM progettitermine"), "0");
}

TEST(StartupDispatch, ACompanyWithoutUsersGrantsEverythingButProjects) {
    Fixture f;
    f.open(2);
    EXPECT_EQ(flow::ProgramFlow(f.g).dispatchAfterStartup(), flow::StartupOutcome::MainWindow);
    for (std::size_t r = state::RightAdministrator; r <= state::RightIssuePayments; ++r) EXPECT_EQ(f.g.UserRights[r], -1);
    EXPECT_EQ(f.g.UserRights[state::RightProjects], 0);
    EXPECT_EQ(f.g.UserRights[state::RightDisabled], 0);
    f.installation.addUser("VoPaDatiAlfa", {"anna", std::string("x")});
    f.g.SharedConnection.close();
    f.g.SharedConnection.open(f.g.CompanyConnectionString);
    EXPECT_EQ(flow::ProgramFlow(f.g).dispatchAfterStartup(), flow::StartupOutcome::SignIn);
}

TEST(EndProgram, ReloadsTheCompanyDefaultsFromRowOne) {
    Fixture f;
    f.open(2);
    SmallInstallation::run("VoPaDatiAlfa", "UPDATE link_programma SET NomeAzienda = 'Alfa Nuova', nRoot = 'sa', "
                                           "qen_sql = 'q.mdb', Stringa_connessione_sql = NULL");
    flow::ProgramFlow(f.g).endProgram();
    EXPECT_EQ(f.g.CompanyName, "Alfa Nuova");
    EXPECT_EQ(f.g.CompanyUser, "sa");
    EXPECT_EQ(f.g.OfficeId, 1);
    EXPECT_FALSE(f.g.SharedConnection.isOpen());
    // The system data source of the suite's other programs names the company.
    const std::string system = readFile(f.drive.odbcSystemFile());
    EXPECT_NE(system.find("[Qen_Server]"), std::string::npos) << system;
    EXPECT_NE(system.find("Dati Alfa Nuova"), std::string::npos) << system;
    EXPECT_NE(system.find("VoPaDatiAlfa"), std::string::npos) << system;
}


// A drive root this user may not write or read is named with the permission it lacks, instead of
// looking like an installation without companies.
TEST(DriveCheck, ADriveRootThatCannotBeUsedIsNamed) {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores the permissions";
    vopa::testing::TempDrive drive;
    EXPECT_EQ(flow::driveProblem(), std::nullopt);
    const struct {
        std::filesystem::perms perms;
        const char* missing;
    } cases[] = {{std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec, "scrittura"},
                 {std::filesystem::perms::owner_write | std::filesystem::perms::owner_exec, "lettura"}};
    for (const auto& c : cases) {
        std::filesystem::permissions(drive.root(), c.perms);
        const std::optional<std::string> problem = flow::driveProblem();
        std::filesystem::permissions(drive.root(), std::filesystem::perms::owner_all);
        ASSERT_TRUE(problem.has_value()) << c.missing;
        EXPECT_NE(problem->find(drive.root().string()), std::string::npos) << *problem;
        EXPECT_NE(problem->find(c.missing), std::string::npos) << *problem;
    }
}


// A computer name with characters the sanitiser replaces is recorded, and found again, under its
// sanitised form; its quote never reaches a statement as such.
TEST(OpenCompany, AComputerNameIsRecordedInItsSanitisedForm) {
    Fixture f;
    f.g.ComputerName = "PC-Sala riunioni (O'Hara)";
    f.open(1);
    EXPECT_EQ(f.terminalOf("PC_Sala_riunioni__O_Hara_"), "1");
    EXPECT_EQ(SmallInstallation::count("VoPaDatiAzienda", "SELECT * FROM link_programmaTerminale"), 1);
    EXPECT_EQ(f.open(0), 1);  // the terminal's last company, found by the same name
    EXPECT_TRUE(f.messages->boxes().empty());
}

const char* const kVictim = "VoPaDatiNordSud";
const std::vector<SmallCompany> kWithVictim = {{1, "Alfa Onlus", "VoPaDatiAlfa"}, {2, "Nord Sud", kVictim}};

bool victimIntact() {
    return SmallInstallation::count("master", std::string("SELECT name FROM master.dbo.sysdatabases WHERE name = '") +
                                                  kVictim + "'") == 1 &&
           SmallInstallation::count(kVictim, "SELECT * FROM link_programma") > 0;
}

// The statement a stored value would end, followed by its own.
const std::string kDropInBrackets = std::string(";drop database[") + kVictim;
const std::string kDropInQuotes = std::string("x' , SIZE = 1) LOG ON (NAME = N'l', FILENAME = N'C:\\Vopa\\Sedi\\l.ldf'); "
                                              "DROP DATABASE [") + kVictim + "]; --";

TEST(StoredValues, TheRowCheckCountsProjectAndFunderTablesByName) {
    Fixture f(kWithVictim);
    f.open(1);
    SmallInstallation::run("VoPaDatiAlfa", "CREATE TABLE progetti (id int NULL, Type nvarchar(10) NULL, Number nvarchar(30) NULL)\n"
                                           "CREATE TABLE finanziatore (id int NULL, Type nvarchar(50) NULL)");
    SmallInstallation::run("VoPaDatiAlfa", "INSERT INTO progetti VALUES (1, N'conti]', " + util::unicodeLiteral(kDropInBrackets) +
                                               ")\nINSERT INTO progetti VALUES (2, N'L''Aquilone', N'')\n"
                                               "INSERT INTO finanziatore VALUES (1, " + util::unicodeLiteral("x]" + kDropInBrackets) + ")");
    // A project's table that the company really has is checked, under its own name.
    SmallInstallation::run("VoPaDatiAlfa", "CREATE TABLE [L'Aquilone] (id int NULL)\nINSERT INTO [L'Aquilone] VALUES (1)");

    const std::vector<training::TableCheck> checks = training::verifyCopy(f.g, "VoPaDatiAlfa");

    EXPECT_TRUE(victimIntact());
    const auto aquilone = std::find_if(checks.begin(), checks.end(), [](const training::TableCheck& c) { return c.table == "L'Aquilone"; });
    ASSERT_NE(aquilone, checks.end());
    EXPECT_EQ(aquilone->companyRows, 1);
    for (const training::TableCheck& c : checks) EXPECT_EQ(c.table.find("drop"), std::string::npos) << c.table;
}

TEST(StoredValues, TheDatabaseFolderAndNameAreTextInTheCreationAndTheLookups) {
    Fixture f(kWithVictim);
    f.open(1);
    SmallInstallation::run("VoPaDatiAzienda", "UPDATE link_programma SET IndirizzoMdf = " + util::unicodeLiteral("C:\\Vopa\\Sedi\\" + kDropInQuotes) +
                                                  " WHERE id = 1");
    f.g.ServerConnection.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
    // Whether the server takes so odd a file name or not, it is one file name.
    util::ignoreErrors([&] { schema::createDatabase("VoPaDatiTraining", f.g, [&] { company::readDataFileFolder(f.g); }); });
    EXPECT_TRUE(victimIntact());
    util::ignoreErrors([&] { config::createScratchDatabase(f.g); });
    EXPECT_TRUE(victimIntact());

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
        EXPECT_TRUE(victimIntact()) << name;
    }
}

TEST(StoredValues, ACompanyNameWithLineBreaksWritesNoSectionOfItsOwn) {
    Fixture f(kWithVictim);
    f.open(1);
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
