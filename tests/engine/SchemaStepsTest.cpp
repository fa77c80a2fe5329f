// The schema procedures of a build on the embedded engine: database creation, the schema step, the index
// pass and the upgrades, with the messages the operator sees.

#include <gtest/gtest.h>

#include "platform/engine/Display.h"
#include "support/ScriptedMessageService.h"
#include "schema/SchemaSteps.h"
#include "schema/StatementLists.h"
#include "schema/Upgrades.h"
#include "support/ScriptedMessages.h"
#include "support/RowTexts.h"
#include "support/TempDrive.h"
#include "util/Helpers.h"

using namespace vopa;

namespace {

const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

std::vector<std::string> rows(data::Connection& c, const std::string& query) { return vopa::testing::rowTexts(c, query); }

class SchemaSteps : public ::testing::Test {
protected:
    void SetUp() override {
        drive.writeLocalInstallation();
        g.ComputerName = "PC-01";
        util::sanitise(g.ComputerName);  // as the start-up window does
        g.ServerConnection.open(kServer);
    }
    std::vector<std::string> structure(data::Connection& c) {
        return rows(c, "SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, IS_NULLABLE FROM INFORMATION_SCHEMA.COLUMNS "
                       "ORDER BY TABLE_NAME, ORDINAL_POSITION");
    }

    vopa::testing::TempDrive drive;
    vopa::testing::ScriptedMessages script;
    state::GlobalState g;
};

TEST_F(SchemaSteps, DatabaseCreationPlacesFilesAndRefusesTheMainDatabase) {
    // The company's main database is never dropped or created here.
    EXPECT_TRUE(schema::createDatabase("VoPaDati", g).empty());
    EXPECT_TRUE(schema::createDatabase("VOPADATI", g).empty());
    EXPECT_EQ(rows(g.ServerConnection, "SELECT count(*) FROM master.dbo.sysdatabases WHERE name = 'VoPaDati'"),
              std::vector<std::string>{"0"});

    // Default folder, with a leftover file of an earlier database deleted first.
    drive.writeRaw("Vopa/Sedi/Prova_dat.mdf", "vecchio");
    EXPECT_TRUE(schema::createDatabase("Prova", g).empty());
    EXPECT_FALSE(drive.exists("Vopa/Sedi/Prova_dat.mdf"));
    EXPECT_TRUE(drive.exists("Vopa/Sedi/Prova.mdf"));
    EXPECT_TRUE(drive.exists("Vopa/Sedi/Prova.ldf"));

    // Again: the old database is dropped and created anew.
    g.ServerConnection.execute("CREATE TABLE Prova.dbo.vecchia (x int NULL)");
    EXPECT_TRUE(schema::createDatabase("Prova", g).empty());
    EXPECT_EQ(rows(g.ServerConnection, "SELECT count(*) FROM Prova.INFORMATION_SCHEMA.TABLES"),
              std::vector<std::string>{"0"});

    // A configured folder with a doubled backslash.
    drive.writeRaw("Dati/Sedi/.keep", "");
    g.DataFileFolder = "C:\\Dati\\\\Sedi";
    EXPECT_TRUE(schema::createDatabase("Altra", g).empty());
    EXPECT_TRUE(drive.exists("Dati/Sedi/Altra.mdf"));

    // A creation the server refuses is reported once, and nothing after it runs.
    g.DataFileFolder = "C:\\Manca";
    try {
        schema::createDatabase("Terza", g);
        FAIL() << "the creation must fail";
    } catch (const data::DataError& e) {
        EXPECT_EQ(e.number(), 5133);
    }
    EXPECT_TRUE(script->boxes().empty());
}

TEST_F(SchemaSteps, SchemaStepCreatesTheTablesOnceAndReportsEachClash) {
    schema::createDatabase("VoPaDatiTraining", g);
    g.ServerConnectionString = kServer + "database=VoPaDatiTraining;";
    schema::runSchemaStep(g);
    EXPECT_TRUE(script->boxes().empty());
    data::Connection training;
    training.open(g.ServerConnectionString);
    // Exactly the listed tables and columns, in order, empty and without keys or indexes.
    std::vector<std::string> expected;
    for (const schema::TableSpec& t : schema::baseSchema())
        for (const schema::ColumnSpec& c : t.columns) expected.push_back(t.name + "|" + c.name);
    std::vector<std::string> actual = rows(training, "SELECT TABLE_NAME, COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS");
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(rows(training, "SELECT count(*) FROM sys.indexes WHERE index_id > 0"), std::vector<std::string>{"0"});
    EXPECT_EQ(rows(training, "SELECT count(*) FROM DipCcnl"), std::vector<std::string>{"0"});

    const std::vector<std::string> before = structure(training);
    schema::runSchemaStep(g);
    ASSERT_EQ(script->boxes().size(), 355u);
    EXPECT_EQ(script->boxes()[0].text, "[SQL Server]There is already an object named 'AbilitazioneAccessi' in the database.");
    EXPECT_EQ(structure(training), before);
}

TEST_F(SchemaSteps, SchemaStepOnAServerThatCannotBeReachedShowsOneBox) {
    g.ServerConnectionString = "Driver=SQL Server;Server=ALTROPC;UID=;PWD=;database=VoPaDatiTraining;";
    schema::runSchemaStep(g);
    ASSERT_EQ(script->boxes().size(), 1u);
    EXPECT_NE(script->boxes()[0].text.find("does not exist or access denied"), std::string::npos);
    EXPECT_FALSE(g.SchemaConnection.isOpen());
}

TEST_F(SchemaSteps, UpgradesTwiceAddNothingTheSecondTimeAndKeepWhatHoldsData) {
    schema::createCompanyDatabase(kServer, "VoPaDatiSede", "C:\\Vopa\\Sedi\\", g);
    data::Connection& company = g.SharedConnection;
    ASSERT_TRUE(company.isOpen());
    const std::vector<std::string> afterFirst = structure(company);
    EXPECT_EQ(rows(company, "SELECT id, sigla, Description, IdMacro, idGruppi FROM projecttipiflussi WHERE id IN (1, 14) ORDER BY id"),
              (std::vector<std::string>{"1|A1|Aperture Disponibilità Finanziarie Liquide in Sede|3|C.IV.%.1",
                                        "14|SL2|Speso in Loco Valorizzati|4|B.%"}));
    EXPECT_EQ(rows(company, "SELECT count(*) FROM ProgetiTipoSpesa"), std::vector<std::string>{"7"});
    data::Connection scratch;
    scratch.open(kServer + "DATABase=VoPaDatiTemp");
    EXPECT_EQ(rows(scratch, "SELECT Id, Indirizzo, NomeServer FROM IndirizziServers ORDER BY Id"),
              (std::vector<std::string>{"1|Server Condiviso in Rete|(local)", "2|Server Locale|(local)"}));

    // Between the runs: an operator's own text, currencies of other offices, a PrevisionaleAnno with data.
    company.execute("UPDATE ProgetiTipoSpesa SET Descrizione = 'Mio testo' WHERE id = 3");
    company.execute("UPDATE projecttipiflussi SET sigla = 'XX' WHERE id = 5");
    company.execute("INSERT INTO valute (idsede) VALUES (4)");
    company.execute("INSERT INTO valute (idsede) VALUES (NULL)");
    company.execute("INSERT INTO PrevisionaleAnno (ANNO) VALUES (2009)");

    schema::runAllUpgrades(g);
    EXPECT_EQ(structure(company), afterFirst);
    EXPECT_EQ(rows(company, "SELECT Descrizione FROM ProgetiTipoSpesa WHERE id = 3"), std::vector<std::string>{"Mio testo"});
    EXPECT_EQ(rows(company, "SELECT sigla FROM projecttipiflussi WHERE id = 5"), std::vector<std::string>{"E3"});
    EXPECT_EQ(rows(company, "SELECT count(*) FROM projecttipiflussi"), std::vector<std::string>{"14"});
    EXPECT_EQ(rows(company, "SELECT count(*) FROM valute WHERE idsede IS NULL OR idsede <> 1"), std::vector<std::string>{"0"});
    EXPECT_EQ(rows(company, "SELECT count(*) FROM PrevisionaleAnno"), std::vector<std::string>{"1"});
    EXPECT_EQ(rows(scratch, "SELECT count(*) FROM IndirizziServers"), std::vector<std::string>{"2"});
    EXPECT_TRUE(script->boxes().empty());
}

TEST_F(SchemaSteps, PrevisionaleAnnoWithAnOldLayoutIsReplacedOnlyWhenEmpty) {
    for (const bool withRows : {false, true}) {
        const std::string name = withRows ? "VoPaDatiPieno" : "VoPaDatiVuoto";
        g.ServerConnection.execute("CREATE DATABASE " + name);
        g.SharedConnection.open(kServer + "DATABase=" + name + ";");
        g.CompanyConnectionString = kServer + "DATABase=" + name + ";";
        g.SharedConnection.execute("CREATE TABLE PrevisionaleAnno (Vecchia int NULL)");
        if (withRows) g.SharedConnection.execute("INSERT INTO PrevisionaleAnno VALUES (1)");
        schema::upgradeProjectManagement(g);
        std::vector<std::string> columns =
            rows(g.SharedConnection, "SELECT COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'PrevisionaleAnno'");
        // A table with data keeps its columns (later statements may add some); an empty one is made anew.
        EXPECT_EQ(columns.front(), withRows ? "Vecchia" : "IdAutoNumber") << name;
        g.SharedConnection.close();
    }
}

TEST_F(SchemaSteps, CorrectionTableIsNamedAfterTheSanitisedComputerName) {
    g.ServerConnection.execute("CREATE DATABASE VoPaDatiPc");
    g.SharedConnection.open(kServer + "DATABase=VoPaDatiPc;");
    g.SharedConnection.execute("CREATE TABLE CorrezioneContabilitaPC_02 (idsedecompetenza int NULL)");
    g.SharedConnection.execute("INSERT INTO CorrezioneContabilitaPC_02 VALUES (3)");
    g.ComputerName = "PC-02";
    schema::upgradeLedgerCompanionTables(g);
    EXPECT_EQ(g.ComputerName, "PC_02");
    EXPECT_EQ(rows(g.SharedConnection, "SELECT idsedeamm FROM CorrezioneContabilitaPC_02"), std::vector<std::string>{"3"});
}

TEST_F(SchemaSteps, IndexPassIsSilentAndGivesTheKeys) {
    schema::createCompanyDatabase(kServer, "VoPaDatiChiavi", "C:\\Vopa\\Sedi\\", g);
    schema::runIndexPass(g);
    schema::runIndexPass(g);
    EXPECT_TRUE(script->boxes().empty());
    EXPECT_EQ(rows(g.SharedConnection, "SELECT count(*) FROM sys.indexes WHERE object_id = OBJECT_ID('PartitaDoppiaRipartizioni') AND index_id > 0"),
              std::vector<std::string>{"5"});
    EXPECT_EQ(rows(g.SharedConnection, "SELECT count(*) FROM sys.indexes WHERE is_primary_key = 1 AND object_id = OBJECT_ID('AreeBilanci')"),
              std::vector<std::string>{"0"});
}

}  // namespace
