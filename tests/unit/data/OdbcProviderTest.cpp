// The ODBC provider through the unixODBC driver manager, with Debian's SQLite ODBC driver standing in
// for a SQL Server (its own SQL dialect).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/data/Connection.h"
#include "platform/data/Recordset.h"
#include "platform/data/StatementShape.h"
#include "support/TempDrive.h"

using namespace vopa;
using data::Connection;
using data::DataError;
using data::Recordset;

namespace {

const char* const kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

class OdbcProvider : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << "the SQLite ODBC driver is not installed";
        setenv("VOPA_ODBC_DRIVER", kDriver, 1);
        file = drive.root() / "odbc.db";
        connection.open("Driver=SQL Server;Server=(local);UID=;PWD=;DATABase=" + file.string());
        connection.execute("CREATE TABLE conti (idconto INTEGER, nome VARCHAR(20), importo NUMERIC(12,2), data TIMESTAMP)");
        connection.execute("INSERT INTO conti VALUES (1, 'Cassa', 10.50, '2009-03-05 00:00:00')");
        connection.execute("INSERT INTO conti VALUES (2, 'Banca', NULL, NULL)");
        connection.execute("INSERT INTO conti VALUES (2, 'Banca', NULL, NULL)");
    }
    void TearDown() override { unsetenv("VOPA_ODBC_DRIVER"); }

    vopa::testing::TempDrive drive;
    std::filesystem::path file;
    Connection connection;
};

TEST_F(OdbcProvider, ReadsRowsWithTheirTypes) {
    Recordset rs;
    rs.open("SELECT * FROM conti ORDER BY idconto", connection, data::CursorType::Keyset, data::LockType::Pessimistic);
    EXPECT_EQ(rs.recordCount(), 3);
    EXPECT_EQ(rs.field("IDCONTO"), Value::longInt(1));
    EXPECT_EQ(rs.field("nome").toString(), "Cassa");
    EXPECT_DOUBLE_EQ(rs.field("importo").toDouble(), 10.5);
    EXPECT_EQ(rs.field("data"), Value::date(DateTime::fromParts(2009, 3, 5)));
    rs.moveNext();
    EXPECT_TRUE(rs.field("importo").isNull());
}

TEST_F(OdbcProvider, UpdatesExactlyOneRowAddsAndDeletes) {
    Recordset rs;
    rs.open("SELECT * FROM conti WHERE idconto = 2", connection, data::CursorType::Keyset, data::LockType::Pessimistic);
    rs.moveNext();
    rs.setField("nome", Value::string("Posta"));
    rs.update();
    EXPECT_EQ(rs.field("nome").toString(), "Posta");
    auto names = connection.execute("SELECT nome, count(*) AS n FROM conti WHERE idconto = 2 GROUP BY nome ORDER BY nome");
    ASSERT_EQ(names->recordCount(), 2);
    EXPECT_EQ(names->field("n").toString(), "1");

    rs.addNew();
    rs.setField("idconto", Value::longInt(3));
    rs.setField("nome", Value::string("Nuovo"));
    rs.update();
    EXPECT_EQ(rs.field("idconto"), Value::longInt(3));
    rs.moveFirst();
    rs.deleteCurrent();
    auto count = connection.execute("SELECT count(*) AS n FROM conti");
    EXPECT_EQ(count->field("n").toString(), "3");
}

TEST_F(OdbcProvider, ReportsTheDriversErrorsAndListsTables) {
    try {
        connection.execute("SELECT * FROM nessuna");
        FAIL() << "a missing table must fail";
    } catch (const DataError& e) {
        EXPECT_NE(std::string(e.what()).find("nessuna"), std::string::npos) << e.what();
    }
    bool found = false;
    for (const data::TableEntry& t : connection.tables()) found = found || (t.name == "conti" && t.type == "TABLE");
    EXPECT_TRUE(found);

    Connection broken;
    setenv("VOPA_ODBC_DRIVER", "/nonexistent/driver.so", 1);
    EXPECT_THROW(broken.open("Driver=SQL Server;Server=(local);UID=;PWD=;"), DataError);
    EXPECT_FALSE(broken.isOpen());
}

// Rows can be written back only when they come from one table read alone.
TEST(StatementShape, SingleTableQueries) {
    struct Case {
        const char* statement;
        const char* table;
    };
    for (const Case& c : {
             Case{"SELECT * FROM conti", "conti"},
             Case{"select idconto, nome from [dbo].[Conti Vecchi] where nome = 'a;b' order by 1;", "Conti Vecchi"},
             Case{"SELECT TOP (1) * FROM VoPaDati.dbo.\"con\"\"ti\" c WHERE x IN (SELECT y FROM a, b)", "con\"ti"},
             Case{"SELECT (SELECT max(id) FROM altra) AS m FROM conti -- FROM x, y", "conti"},
             Case{"SELECT * FROM conti WITH (NOLOCK) WHERE id = 1", "conti"},
             Case{"SELECT DISTINCT nome FROM conti", ""},
             Case{"SELECT * INTO copia FROM conti", ""},
             Case{"SELECT * FROM conti UNION SELECT * FROM altra", ""},
             Case{"SELECT nome, count(*) FROM conti GROUP BY nome", ""},
             Case{"SELECT * FROM conti JOIN altra ON conti.id = altra.id", ""},
             Case{"SELECT * FROM conti, altra", ""},
             Case{"SELECT * FROM (SELECT * FROM conti) t", ""},
             Case{"SELECT * FROM fn(1)", ""},
             Case{"SELECT 1", ""},
             Case{"SELECT * FROM conti; SELECT * FROM altra", ""},
             Case{"UPDATE conti SET nome = 'x'", ""},
             Case{"SELECT * FROM conti WHERE nome = 'aperta", ""},
         })
        EXPECT_EQ(data::singleTableOf(c.statement), c.table) << c.statement;
}

}  // namespace
