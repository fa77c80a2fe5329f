#include <gtest/gtest.h>

#include <set>

#include "platform/engine/EngineError.h"
#include "platform/engine/sql/Parser.h"
#include "platform/text/Text.h"
#include "schema/StatementLists.h"

using namespace vopa::schema;

namespace {

// Every statement of a list parses on the engine the build runs them on, except the few the program
// has always sent with a syntax error (their failure is part of the build's record).
void expectParses(const std::string& statement, const std::string& where, bool broken = false) {
    try {
        EXPECT_FALSE(vopa::engine::sql::parseBatch(statement).empty()) << where << ": " << statement;
        EXPECT_FALSE(broken) << where << " parses: " << statement;
    } catch (const vopa::engine::EngineError& e) {
        EXPECT_TRUE(broken) << where << ": " << e.what() << "\n" << statement;
    }
}

TEST(BaseSchema, TablesAreUniqueInBatchOrderWithOneIdentityAtMostAndEachParses) {
    const std::vector<TableSpec>& tables = baseSchema();
    ASSERT_FALSE(tables.empty());
    std::set<int> batches;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const TableSpec& t = tables[i];
        batches.insert(t.batch);
        int identities = 0;
        for (const ColumnSpec& c : t.columns) identities += c.kind == ColumnSpec::Kind::Identity ? 1 : 0;
        EXPECT_LE(identities, 1) << t.name;
        if (i > 0) {
            EXPECT_LT(vopa::text::compareNoCase(tables[i - 1].name, t.name), 0) << t.name;
            EXPECT_LE(tables[i - 1].batch, t.batch) << t.name;
        }
        expectParses(t.createStatement(), t.name);
    }
    EXPECT_EQ(batches, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(BaseSchema, BuildsTheStatementsCharacterForCharacter) {
    std::string areeStati, dipCcnl, cambistati;
    for (const TableSpec& t : baseSchema()) {
        if (t.name == "AreeStati") areeStati = t.createStatement();
        if (t.name == "DipCcnl") dipCcnl = t.createStatement();
        if (t.name == "cambistati") cambistati = t.createStatement();
    }
    EXPECT_EQ(areeStati,
              "CREATE TABLE  AreeStati(IdAutonumber int NOT NULL  IDENTITY(1,1)  ,IdStato int NULL ,Idsede int NULL )");
    EXPECT_NE(dipCcnl.find("AlInps decimal(18,2) NOT NULL DEFAULT ((2884 + 919) / 100)"), std::string::npos) << dipCcnl;
    EXPECT_EQ(cambistati.find("CREATE TABLE  cambistati(ID int NOT NULL ,"), 0u) << cambistati;
}

TEST(IndexPass, IsNumberedInOrderAndEachStatementParses) {
    const std::vector<IndexStatement>& pass = indexPass();
    ASSERT_FALSE(pass.empty());
    for (std::size_t i = 0; i < pass.size(); ++i) {
        EXPECT_EQ(pass[i].position, static_cast<int>(i + 1));
        expectParses(pass[i].text, "index " + std::to_string(i + 1));
    }
    // Quoted texts keep their leading blanks, and their line breaks decoded.
    EXPECT_EQ(pass[72].text, " CREATE  INDEX IdAreaBil ON AreaBilProgetti (IdAreaBil)  ");
    EXPECT_EQ(pass[66].kind, "script");  // the schema step runs the scripts its own way
    EXPECT_EQ(pass[66].text.find("BEGIN TRANSACTION\r\n SET QUOTED_IDENTIFIER ON"), 0u);
    EXPECT_EQ(pass[67].text.find("\r\n BEGIN TRANSACTION\r\n ALTER TABLE ScadenziarioChiuso ADD CONSTRAINT"), 0u);
}

TEST(UpgradeStatements, EachProcedureIsNumberedInOrderAndEachStatementParses) {
    const std::vector<UpgradeStatement>& all = upgradeStatements();
    std::set<std::string> procedures;
    const std::set<std::string> broken = {"analysis_tables 2", "analysis_tables 4", "second_upgrade 31"};
    for (const UpgradeStatement& s : all) {
        if (!procedures.insert(s.procedure).second) continue;
        const std::vector<UpgradeStatement> list = upgradeStatementsOf(s.procedure);
        ASSERT_FALSE(list.empty()) << s.procedure;
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].procedure, s.procedure);
            EXPECT_EQ(list[i].number, static_cast<int>(i + 1)) << s.procedure;
            const std::string where = s.procedure + " " + std::to_string(i + 1);
            expectParses(list[i].resolved("PC_01"), where, broken.count(where) > 0);
        }
    }
    EXPECT_EQ(procedures.size(), 14u);
    EXPECT_TRUE(upgradeStatementsOf("unknown").empty());
    const std::vector<UpgradeStatement> main = upgradeStatementsOf("main");
    EXPECT_EQ(main.at(0).target, UpgradeStatement::Target::Server);
    EXPECT_EQ(main.at(3).target, UpgradeStatement::Target::Company);
    EXPECT_EQ(upgradeStatementsOf("ledger_companion_tables").at(12).resolved("PC_01"),
              "alter TABLE [CorrezioneContabilitaPC_01] add [IdSedeamm] [int] NULL");
}

}  // namespace
