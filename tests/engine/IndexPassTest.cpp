// The index pass on a company database that lacks a table one of its transaction scripts keys: the
// failing script must not leave its transaction open on the connection.

#include <gtest/gtest.h>

#include "platform/data/Connection.h"
#include "schema/SchemaSteps.h"
#include "schema/StatementLists.h"
#include "state/GlobalState.h"
#include "support/TempDrive.h"

using namespace vopa;

namespace {

const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

std::string scalar(data::Connection& c, const std::string& query) {
    std::shared_ptr<data::Recordset> rs = c.execute(query);
    return rs->field(0).toString();
}

}  // namespace

TEST(IndexPassOnACompany, AFailingTransactionScriptLeavesNoTransactionOpen) {
    vopa::testing::TempDrive drive;
    data::Connection server;
    server.open(kServer);
    server.execute("CREATE DATABASE Azienda");
    const std::string text = kServer + "DATABASE=Azienda;";
    {
        data::Connection company;
        company.open(text);
        for (const schema::TableSpec& t : schema::baseSchema())
            if (t.name != "ScadenziarioChiuso") company.execute(t.createStatement());
    }
    state::GlobalState g;
    g.SharedConnection.open(text);
    schema::runIndexPass(g);

    EXPECT_EQ(scalar(g.SharedConnection, "SELECT @@TRANCOUNT"), "0");
    // Another connection can write at once, and what the pass made after the script stays when the
    // pass's connection closes.
    data::Connection other;
    other.open(text);
    other.execute("SET LOCK_TIMEOUT 2000");
    EXPECT_NO_THROW(other.execute("INSERT INTO valute (Id, Descrizione) VALUES (1, 'EUR')"));
    const std::string keys = scalar(other, "SELECT count(*) FROM sys.indexes");
    g.SharedConnection.close();
    EXPECT_EQ(scalar(other, "SELECT count(*) FROM sys.indexes"), keys);
    EXPECT_GT(std::stoi(keys), 300);
}
