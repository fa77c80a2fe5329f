// The schema procedures of a build on the embedded engine: database creation, the schema step, the index
// pass and the upgrades, with the messages the operator sees; and the schema's statement lists run on an
// engine session directly (the base schema, the index pass and the upgrade statements, each twice, as
// builds run them).

#include <gtest/gtest.h>

#include <map>

#include "schema/SchemaSteps.h"
#include "schema/StatementLists.h"
#include "schema/Upgrades.h"
#include "support/ScriptedMessages.h"
#include "support/RowTexts.h"
#include "support/SessionQueries.h"
#include "support/TempDrive.h"
#include "util/Helpers.h"

using namespace vopa;
using engine::Session;

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
    EXPECT_EQ(rows(training, "SELECT TABLE_NAME, COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS"), expected);
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
        if (!withRows) {
            // The table the upgrade made keeps its rows and its columns when the upgrade runs again.
            g.SharedConnection.execute("INSERT INTO PrevisionaleAnno (ANNO) VALUES (2009)");
            schema::upgradeProjectManagement(g);
            EXPECT_EQ(rows(g.SharedConnection, "SELECT count(*) FROM PrevisionaleAnno"), std::vector<std::string>{"1"});
            EXPECT_EQ(rows(g.SharedConnection, "SELECT COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = "
                                               "'PrevisionaleAnno'"), columns);
        }
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

// On a company that lacks a table one of the index pass's transaction scripts keys, the failing script
// must not leave its transaction open on the connection.
TEST_F(SchemaSteps, IndexPassWithAFailingTransactionScriptLeavesNoTransactionOpen) {
    g.ServerConnection.execute("CREATE DATABASE Azienda");
    const std::string text = kServer + "DATABASE=Azienda;";
    g.SharedConnection.open(text);
    for (const schema::TableSpec& t : schema::baseSchema())
        if (t.name != "ScadenziarioChiuso") g.SharedConnection.execute(t.createStatement());
    schema::runIndexPass(g);
    EXPECT_EQ(rows(g.SharedConnection, "SELECT @@TRANCOUNT"), std::vector<std::string>{"0"});
    // Another connection can write at once, and what the pass made after the script stays when the
    // pass's connection closes.
    data::Connection other;
    other.open(text);
    other.execute("SET LOCK_TIMEOUT 2000");
    EXPECT_NO_THROW(other.execute("INSERT INTO valute (Id, Descrizione) VALUES (1, 'EUR')"));
    const std::vector<std::string> keys = rows(other, "SELECT count(*) FROM sys.indexes");
    g.SharedConnection.close();
    EXPECT_EQ(rows(other, "SELECT count(*) FROM sys.indexes"), keys);
    EXPECT_GT(std::stoi(keys.at(0)), 300);
}

using vopa::testing::errorOf;
using vopa::testing::rowTexts;

class SchemaPasses : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<Session>(vopa::testing::on(""));
        server->execute("CREATE DATABASE Azienda");
        company = std::make_unique<Session>(vopa::testing::on("Azienda"));
        for (const schema::TableSpec& t : schema::baseSchema()) ASSERT_EQ(errorOf(*company, t.createStatement()), 0) << t.name;
    }
    std::vector<std::string> structure() {
        return rowTexts(*company, "SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, IS_NULLABLE FROM INFORMATION_SCHEMA.COLUMNS "
                              "ORDER BY TABLE_NAME, ORDINAL_POSITION");
    }
    std::vector<std::string> indexes() {
        return rowTexts(*company, "SELECT o.name, i.name, i.type_desc, i.is_unique, i.is_primary_key FROM sys.indexes i "
                              "JOIN sys.objects o ON o.object_id = i.object_id ORDER BY o.name, i.name");
    }

    vopa::testing::TempDrive drive;
    std::unique_ptr<Session> server;
    std::unique_ptr<Session> company;
};

TEST_F(SchemaPasses, IndexPassGivesKeysWhereTheSchemaAllowsAndChangesNothingTheSecondTime) {
    std::map<int, int> failures;  // position -> error
    for (const schema::IndexStatement& s : schema::indexPass())
        if (int e = errorOf(*company, s.text)) failures[s.position] = e;
    // Refused keys on nullable columns; statements on tables the base schema lacks.
    for (int position : {190, 287, 325}) EXPECT_EQ(failures[position], 8111) << position;
    for (int position : {198, 277, 278, 279, 280, 281}) EXPECT_EQ(failures[position], 208) << position;
    for (const auto& [position, error] : failures)
        EXPECT_TRUE(error == 8111 || error == 208 || error == 1911 || error == 1913 || error == 2714 || error == 1779)
            << "position " << position << " failed with " << error << ": "
            << schema::indexPass()[static_cast<std::size_t>(position - 1)].text;

    const std::vector<std::string> after = indexes();
    auto on = [&](const std::string& table) {
        std::vector<std::string> r;
        for (const std::string& line : after)
            if (line.rfind(table + "|", 0) == 0) r.push_back(line.substr(table.size() + 1));
        return r;
    };
    const std::vector<std::string> pd = on("partitadoppia");
    EXPECT_EQ(pd.size(), 15u);
    EXPECT_NE(std::find(pd.begin(), pd.end(), "PK_partitadoppia|CLUSTERED|1|1"), pd.end());
    EXPECT_NE(std::find(pd.begin(), pd.end(), "IDTransazione|NONCLUSTERED|1|0"), pd.end());
    EXPECT_EQ(on("PartitaDoppiaRipartizioni"),
              (std::vector<std::string>{"NULL|HEAP|0|0", "IDautonumber|NONCLUSTERED|0|0", "IdSede|NONCLUSTERED|0|0",
                                        "IdSedeOrigine|NONCLUSTERED|0|0",
                                        "NumeroTransazione|NONCLUSTERED|0|0", "NumeroTransazioneOrigine|NONCLUSTERED|0|0"}));
    EXPECT_EQ(on("AreeBilanci"), (std::vector<std::string>{"NULL|HEAP|0|0", "IdAreaBil|NONCLUSTERED|0|0"}));

    // A second pass finds everything in place.
    for (const schema::IndexStatement& s : schema::indexPass()) {
        int e = errorOf(*company, s.text);
        if (s.kind == "guarded" || s.position == 67) EXPECT_EQ(e, 0) << s.position;
        else EXPECT_NE(e, 0) << s.position << ": " << s.text;
    }
    EXPECT_EQ(indexes(), after);
}

TEST_F(SchemaPasses, UpgradeStatementsRunTwiceAddNothingTheSecondTime) {
    server->execute("CREATE DATABASE VoPaDatiTemp");
    Session scratch(vopa::testing::on("VoPaDatiTemp"));
    auto runAll = [&](std::map<std::string, int>& failures) {
        for (const schema::UpgradeStatement& s : schema::upgradeStatements()) {
            Session& target = s.target == schema::UpgradeStatement::Target::Server ? scratch : *company;
            if (int e = errorOf(target, s.resolved("PC_01")))
                failures[s.procedure + " " + std::to_string(s.number)] = e;
        }
    };
    std::map<std::string, int> first, second;
    runAll(first);
    // Nothing the program sends may meet a construct the engine does not know.
    for (const auto& [statement, error] : first) EXPECT_NE(error, engine::err::NotSupported) << statement;
    const std::vector<std::string> afterFirst = structure();
    EXPECT_GT(afterFirst.size(), 4782u);
    runAll(second);
    for (const auto& [statement, error] : second) EXPECT_NE(error, engine::err::NotSupported) << statement;
    EXPECT_EQ(structure(), afterFirst);
}

}  // namespace
