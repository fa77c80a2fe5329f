// Every copy statement of the catalogue, run as the copy step runs it, between a company database built
// from the base schema and the upgrades and a training database made by the schema step.

#include <gtest/gtest.h>

#include <map>

#include "schema/SchemaSteps.h"
#include "schema/StatementLists.h"
#include "support/ScriptedMessages.h"
#include "support/TempDrive.h"
#include "transfer/Catalogue.h"
#include "platform/text/Text.h"
#include "util/ErrorModes.h"

using namespace vopa;

namespace {

const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

// A value of the column's type for a generated row.
std::string sampleValue(const schema::ColumnSpec& c, int row) {
    const std::string& t = c.type;
    const std::string n = std::to_string(row);
    if (t == "bit") return std::to_string(row % 2);
    if (t.rfind("int", 0) == 0 || t == "smallint" || t == "tinyint" || t == "bigint") return n;
    if (t == "money" || t.rfind("decimal", 0) == 0 || t.rfind("numeric", 0) == 0) return n + ".25";
    if (t == "float" || t == "real") return n + ".5";
    if (t == "datetime" || t == "smalldatetime") return "'2009-03-0" + n + "'";
    if (t == "ntext") return "N'nota " + n + "'";
    // Texts: as long as the column allows.
    std::size_t open = t.find('(');
    int length = open == std::string::npos ? 1 : std::stoi(t.substr(open + 1));
    return "N'" + std::string("x" + n).substr(0, static_cast<std::size_t>(std::max(1, length))) + "'";
}

TEST(CatalogueCopy, EveryCopyStatementRunsAndMovesTheRows) {
    vopa::testing::TempDrive drive;
    drive.writeLocalInstallation();
    vopa::testing::ScriptedMessages script;
    state::GlobalState g;
    g.ComputerName = "PC_01";
    schema::createCompanyDatabase(kServer, "VoPaDatiAzienda", "C:\\Vopa\\Sedi\\", g);

    // Two rows in every table of the company database.
    data::Connection company;
    company.open(kServer + "DATABase=VoPaDatiAzienda;");
    for (const schema::TableSpec& t : schema::baseSchema()) {
        std::string columns, values[2];
        for (const schema::ColumnSpec& c : t.columns) {
            if (c.kind == schema::ColumnSpec::Kind::Identity) continue;
            columns += (columns.empty() ? "" : ", ") + ("[" + c.name + "]");
            for (int r = 0; r < 2; ++r) values[r] += (values[r].empty() ? "" : ", ") + sampleValue(c, r + 1);
        }
        company.execute("INSERT INTO [" + t.name + "] (" + columns + ") VALUES (" + values[0] + "), (" + values[1] + ")");
    }

    g.ServerConnection.open(kServer);
    schema::createDatabase("VoPaDatiTraining", g);
    g.ServerConnectionString = kServer + "database=VoPaDatiTraining;";
    schema::runSchemaStep(g);
    ASSERT_TRUE(script->boxes().empty());

    std::map<std::string, std::string> failures;
    int copied = 0;
    for (const transfer::CatalogueEntry& e : transfer::catalogue()) {
        if (e.insertColumns.empty() || e.hasFlag("not_executed")) continue;
        if (e.identitySwitch()) util::ignoreErrors([&] { g.ServerConnection.execute(transfer::identitySwitch(e.table, true)); });
        try {
            g.ServerConnection.execute(transfer::copyStatement(e, "VoPaDatiAzienda"));
            ++copied;
        } catch (const data::DataError& err) {
            failures[std::to_string(e.position) + " " + e.table] = err.what();
        }
        if (e.identitySwitch()) util::ignoreErrors([&] { g.ServerConnection.execute(transfer::identitySwitch(e.table, false)); });
    }
    // The statements that must fail are those naming a table or column the training schema lacks, and
    // those that switch IDENTITY_INSERT on but leave the identity column out of their column list (545)
    // (the server refuses them the same way); every other statement copies.
    std::map<std::string, std::string> expected;
    for (const transfer::CatalogueEntry& e : transfer::catalogue()) {
        if (e.insertColumns.empty() || e.hasFlag("not_executed")) continue;
        const schema::TableSpec* target = nullptr;
        for (const schema::TableSpec& t : schema::baseSchema())
            if (text::equalsNoCase(t.name, e.table)) target = &t;
        std::string missing = target ? "" : "table";
        for (const std::string& column : e.insertColumns) {
            bool found = false;
            if (target)
                for (const schema::ColumnSpec& c : target->columns) found = found || text::equalsNoCase(c.name, column);
            if (target && !found) missing = column;
        }
        if (target && missing.empty() && e.identitySwitch())
            for (const schema::ColumnSpec& c : target->columns) {
                bool listed = false;
                for (const std::string& column : e.insertColumns) listed = listed || text::equalsNoCase(c.name, column);
                if (c.kind == schema::ColumnSpec::Kind::Identity && !listed) missing = "identity " + c.name;
            }
        if (!missing.empty()) expected[std::to_string(e.position) + " " + e.table] = missing;
    }
    for (const auto& [entry, error] : failures)
        EXPECT_TRUE(expected.count(entry)) << entry << " failed: " << error;
    for (const auto& [entry, what] : expected) EXPECT_TRUE(failures.count(entry)) << entry << " lacks " << what;
    EXPECT_EQ(copied + static_cast<int>(failures.size()), 242);

    // The rows arrived with their identity values.
    data::Connection training;
    training.open(g.ServerConnectionString);
    EXPECT_EQ(training.execute("SELECT count(*) AS n FROM partitadoppia")->field("n").toString(), "2");
    EXPECT_EQ(training.execute("SELECT max(IDTransazione) AS n FROM partitadoppia")->field("n").toString(), "2");
}

TEST(CatalogueCopy, StatementLayoutIsTheCopyStepsOwn) {
    transfer::CatalogueEntry e;
    e.table = "UnMastro";
    e.insertColumns = {"idAutonumber", "Mastro", "Descrizione"};
    e.selectItems = e.insertColumns;
    e.isConstant.assign(3, false);
    EXPECT_EQ(transfer::copyStatement(e, "VoPaDati"),
              "Insert into [VoPaDatiTraining].[dbo].[UnMastro](\r\n   [idAutonumber],\r\n   [Mastro],\r\n   [Descrizione]\r\n"
              ") select\r\n   [idAutonumber],\r\n   [Mastro],\r\n   [Descrizione]\r\n\r\n from [VoPaDati].[dbo].[UnMastro]");
    e.flags = {"guard=Mastro"};
    EXPECT_EQ(transfer::copyStatement(e, "VoPaDati").substr(transfer::copyStatement(e, "VoPaDati").find(" where")),
              " where not exists(select\r\n   [Mastro]\r\n from [VoPaDatiTraining].[dbo].[UnMastro]\r\n where "
              "[VoPaDatiTraining].[dbo].[UnMastro].[Mastro]=\r\n [VoPaDati].[dbo].[UnMastro].[Mastro])");
    EXPECT_EQ(transfer::identitySwitch("UnMastro", true), "set identity_insert  [VoPaDatiTraining].[dbo].[UnMastro] ON");
}

}  // namespace
