#include <gtest/gtest.h>

#include "company/TableChecks.h"
#include "support/TempDrive.h"

using namespace vopa;

namespace {

class TableChecks : public ::testing::Test {
protected:
    void SetUp() override {
        drive.writeRaw("vopa/IndirizzoServer.txt", "Driver=SQL Server;Server=(local);UID=;PWD=;");
        drive.writeRaw("vopa/NomeServer.txt", "(local)");
        data::Connection server;
        server.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
        server.execute("CREATE DATABASE VoPaDati");
        server.execute("CREATE DATABASE VoPaDatiTraining");
        server.execute("CREATE TABLE VoPaDati.dbo.TabellaContiUtili (id int NULL, idconto int NULL)");
        server.execute("CREATE TABLE VoPaDatiTraining.dbo.Budget_P_7 (ID int NULL)");
        server.execute("USE VoPaDati");
        server.execute("CREATE VIEW Vista AS SELECT id FROM TabellaContiUtili");
        g.CompanyDatabaseName = "VoPaDati";
        g.CompanyConnectionString = "Driver=SQL Server;Server=(local);UID=;PWD=;DATABase=VoPaDati;";
        g.ServerConnectionString = "Driver=SQL Server;Server=(local);UID=;PWD=;DATABase=VoPaDatiTraining";
    }
    vopa::testing::TempDrive drive;
    state::GlobalState g;
};

TEST_F(TableChecks, FindTablesAsEachTestDefines) {
    struct Case {
        const char* label;
        bool actual;
        bool expected;
    };
    const Case cases[] = {
        {"table, other case", company::tableExists("tabellacontiutili", g), true},
        {"view is no table", company::tableExists("Vista", g), false},
        {"missing", company::tableExists("Nessuna", g), false},
        {"schema test, other case", company::companySchemaHas("TABELLACONTIUTILI", g), true},
        {"schema test, view", company::companySchemaHas("vista", g), false},
        {"training schema test", company::trainingSchemaHas("budget_p_7", g), true},
        {"budget table, exact case", company::trainingBudgetTableExists("Budget_P_7", g), true},
        {"budget table, other case", company::trainingBudgetTableExists("budget_p_7", g), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.label;

    g.CompanyConnectionString = "Driver=SQL Server;Server=ALTROPC;UID=;PWD=;";
    EXPECT_FALSE(company::companySchemaHas("TabellaContiUtili", g)) << "an unreachable server has no table";
}

TEST_F(TableChecks, ConfiguredAccount16) {
    g.SharedConnection.open(g.CompanyConnectionString);
    EXPECT_EQ(company::configuredAccount16(g), 0.0);
    g.SharedConnection.execute("INSERT INTO TabellaContiUtili VALUES (16, NULL)");
    EXPECT_EQ(company::configuredAccount16(g), 0.0);
    g.SharedConnection.execute("UPDATE TabellaContiUtili SET idconto = 4101 WHERE id = 16");
    EXPECT_EQ(company::configuredAccount16(g), 4101.0);
}

}  // namespace
