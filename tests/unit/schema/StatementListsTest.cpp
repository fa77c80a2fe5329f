#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/text/Text.h"
#include "schema/StatementLists.h"

using namespace vopa::schema;

namespace {

TEST(BaseSchema, HasTheTablesColumnsAndBatchesOfTheSchema) {
    const std::vector<TableSpec>& tables = baseSchema();
    ASSERT_EQ(tables.size(), 355u);
    std::map<int, int> perBatch;
    std::size_t columns = 0;
    int withIdentity = 0, withoutIdentity = 0;
    std::set<std::string> nonIntIdentity;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const TableSpec& t = tables[i];
        ++perBatch[t.batch];
        columns += t.columns.size();
        int identities = 0;
        for (const ColumnSpec& c : t.columns)
            if (c.kind == ColumnSpec::Kind::Identity) {
                ++identities;
                if (c.type != "int") nonIntIdentity.insert(t.name + "." + c.name + " " + c.type);
            }
        EXPECT_LE(identities, 1) << t.name;
        (identities ? withIdentity : withoutIdentity)++;
        if (i > 0) {
            EXPECT_LT(vopa::text::compareNoCase(tables[i - 1].name, t.name), 0) << t.name;
        }
    }
    EXPECT_EQ(perBatch, (std::map<int, int>{{1, 28}, {2, 32}, {3, 31}, {4, 31}, {5, 32}, {6, 37}, {7, 30}, {8, 20}, {9, 114}}));
    EXPECT_EQ(columns, 4782u);
    EXPECT_EQ(withIdentity, 313);
    EXPECT_EQ(withoutIdentity, 42);
    EXPECT_EQ(nonIntIdentity, (std::set<std::string>{"CodiceRegione.IdRegione smallint", "DateBilancio.Id decimal(18,0)"}));
    EXPECT_EQ(tables.front().name, "AbilitazioneAccessi");
    EXPECT_EQ(tables.back().name, "ZoneGeografiche");
    for (const TableSpec& t : tables)
        if (t.name == "ProjectManagement") {
            EXPECT_EQ(t.columns.size(), 109u);
        }
}

TEST(BaseSchema, BuildsTheStatementsCharacterForCharacter) {
    std::map<std::string, const TableSpec*> byName;
    for (const TableSpec& t : baseSchema()) byName[t.name] = &t;
    ASSERT_TRUE(byName.count("AreeStati"));
    EXPECT_EQ(byName["AreeStati"]->createStatement(),
              "CREATE TABLE  AreeStati(IdAutonumber int NOT NULL  IDENTITY(1,1)  ,IdStato int NULL ,Idsede int NULL )");
    ASSERT_TRUE(byName.count("BudgetsAttività"));
    ASSERT_TRUE(byName.count("DipCcnl"));
    std::string dip = byName["DipCcnl"]->createStatement();
    EXPECT_NE(dip.find("AlInps decimal(18,2) NOT NULL DEFAULT ((2884 + 919) / 100)"), std::string::npos) << dip;
}

TEST(IndexPass, HoldsTheStatementsInOrderWithTheirExactTexts) {
    const std::vector<IndexStatement>& pass = indexPass();
    ASSERT_EQ(pass.size(), 327u);
    std::map<std::string, int> kinds;
    for (std::size_t i = 0; i < pass.size(); ++i) {
        EXPECT_EQ(pass[i].position, static_cast<int>(i + 1));
        ++kinds[pass[i].kind];
    }
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"plain", 166}, {"plain_nobrackets", 5}, {"guarded", 14},
                                                 {"primary_key", 139}, {"script", 2}, {"add_column", 1}}));
    const std::pair<int, const char*> samples[] = {
        {63, "Create  INDEX [NumeroTransazione] ON [PartitaDoppiaRipartizioni] ([NumeroTransazione])"},
        {73, " CREATE  INDEX IdAreaBil ON AreaBilProgetti (IdAreaBil)  "},
        {76, " CREATE  INDEX IDMacroContiVopa ON  GruppiVopaRiclCee (IDMacroContiVopa)  "},
        {188, "ALTER TABLE [AltriDebitiPagamenti] WITH NOCHECK ADD CONSTRAINT [PK_AltriDebitiPagamenti] PRIMARY KEY  "
              "CLUSTERED (  [ID]) WITH  FILLFACTOR = 90  ON [PRIMARY]"},
        {275, "ALTER TABLE [TabellaContiUtiliTransfersHq] WITH NOCHECK ADD CONSTRAINT [PK_TabellaContiUtiliTransfersHq] "
              "PRIMARY KEY  CLUSTERED (  [ID])  ON [PRIMARY]"},
        {276, "alter table tmpbilancio add  [AnnoPrecedente]  money NULL "},
        {48, "IF NOT EXISTS (SELECT * FROM sys.indexes WHERE object_id = OBJECT_ID(N'[dbo].[partitadoppia]') AND name = "
             "N'DataReport') CREATE NONCLUSTERED INDEX [DataReport] ON [dbo].[partitadoppia] (     [datareport] Asc )WITH "
             "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = OFF, DROP_EXISTING "
             "= OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]"},
    };
    for (const auto& [position, text] : samples) EXPECT_EQ(pass[static_cast<std::size_t>(position - 1)].text, text);
    EXPECT_EQ(pass[66].text.find("BEGIN TRANSACTION\r\n SET QUOTED_IDENTIFIER ON"), 0u);
    EXPECT_EQ(pass[67].text.find("\r\n BEGIN TRANSACTION\r\n ALTER TABLE ScadenziarioChiuso ADD CONSTRAINT"), 0u);
}

TEST(UpgradeStatements, AreGroupedByProcedureInOrder) {
    const std::pair<const char*, std::size_t> counts[] = {
        {"main", 4}, {"vat_tables", 24}, {"misc_columns", 27}, {"commitments", 44}, {"project_management", 37},
        {"ledger_companion_tables", 15}, {"analysis_tables", 7}, {"periods_bank_receipts", 12},
        {"exchange_differences", 40}, {"payment_selection", 6}, {"fixed_assets", 17}, {"project_reports", 2},
        {"server_addresses", 11}, {"second_upgrade", 77}};
    std::size_t total = 0;
    for (const auto& [procedure, count] : counts) {
        std::vector<UpgradeStatement> list = upgradeStatementsOf(procedure);
        EXPECT_EQ(list.size(), count) << procedure;
        for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].number, static_cast<int>(i + 1)) << procedure;
        total += count;
    }
    EXPECT_EQ(upgradeStatements().size(), total);
    std::vector<UpgradeStatement> main = upgradeStatementsOf("main");
    EXPECT_EQ(main[0].target, UpgradeStatement::Target::Server);
    EXPECT_EQ(main[3].text, "update valute set idsede = 1");
    std::vector<UpgradeStatement> ledger = upgradeStatementsOf("ledger_companion_tables");
    EXPECT_EQ(ledger[12].resolved("PC_01"), "alter TABLE [CorrezioneContabilitaPC_01] add [IdSedeamm] [int] NULL");
}

}  // namespace
