#include <gtest/gtest.h>

#include <tuple>

#include "platform/data/Command.h"
#include "platform/data/Connection.h"
#include "platform/data/ConnectionString.h"
#include "platform/data/Recordset.h"
#include "support/TempDrive.h"

using namespace vopa;
using data::Connection;
using data::CursorType;
using data::DataError;
using data::LockType;
using data::Recordset;

namespace {

const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

int errorNumber(const std::function<void()>& action) {
    try {
        action();
    } catch (const DataError& e) {
        return e.number();
    }
    return 0;
}

class RecordsetTest : public ::testing::Test {
protected:
    void SetUp() override {
        Connection setup;
        setup.open(kServer);
        setup.execute("CREATE DATABASE Azienda");
        setup.execute(
            "CREATE TABLE Azienda.dbo.link_programma (ID int NOT NULL IDENTITY(1,1), NomeAzienda nvarchar(50) NULL, "
            "DBname nvarchar(50) NULL, Attiva bit NOT NULL DEFAULT (1))");
        setup.execute("INSERT INTO Azienda.dbo.link_programma (NomeAzienda, DBname) VALUES ('Sede', 'VoPaDati'), "
                      "('Ufficio Roma', 'VoPaDati2'), ('X', 'VoPaDati3')");
        // A table without a key holding two identical rows.
        setup.execute("CREATE TABLE Azienda.dbo.doppi (a int NULL, b nvarchar(5) NULL)");
        setup.execute("INSERT INTO Azienda.dbo.doppi VALUES (1, 'x'), (1, 'x')");
        connection.open(kServer + "DATABase=Azienda");
    }

    vopa::testing::TempDrive drive;
    Connection connection;
};

TEST_F(RecordsetTest, WalksRowsAndReadsFieldsByAnyCase) {
    Recordset rs;
    rs.open("link_programma", connection, CursorType::Keyset, LockType::Pessimistic);
    EXPECT_EQ(rs.recordCount(), 3);
    EXPECT_FALSE(rs.bof());
    EXPECT_EQ(rs.field("nomeazienda").toString(), "Sede");
    EXPECT_EQ(rs.field("ID").kind(), Value::Kind::Long);
    EXPECT_EQ(rs.field("attiva"), Value::boolean(true));
    rs.moveLast();
    EXPECT_EQ(rs.field("DBNAME").toString(), "VoPaDati3");
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(errorNumber([&] { rs.field("ID"); }), data::errors::NoCurrentRecord);
    EXPECT_EQ(errorNumber([&] { rs.moveNext(); }), data::errors::NoCurrentRecord);
    rs.moveFirst();
    EXPECT_EQ(errorNumber([&] { rs.field("nessuno"); }), data::errors::ItemNotFound);
    rs.close();
    EXPECT_EQ(errorNumber([&] { rs.eof(); }), data::errors::ObjectClosed);

    Recordset empty;
    empty.open(" select * from link_programma where id = 99", connection, CursorType::Keyset, LockType::Pessimistic);
    EXPECT_TRUE(empty.eof());
    EXPECT_TRUE(empty.bof());
}

TEST_F(RecordsetTest, UpdateChangesExactlyTheRowReadEvenWithoutAKey) {
    Recordset rs;
    rs.open("SELECT * FROM doppi", connection, CursorType::Keyset, LockType::Pessimistic);
    rs.moveNext();
    rs.setField("b", Value::string("y"));
    rs.update();
    EXPECT_EQ(rs.field("b").toString(), "y");
    std::shared_ptr<Recordset> check = connection.execute("SELECT b, count(*) AS n FROM doppi GROUP BY b ORDER BY b");
    ASSERT_EQ(check->recordCount(), 2);
    EXPECT_EQ(check->field("n").toString(), "1");
}

TEST_F(RecordsetTest, AddNewReturnsIdentityAndDefaults) {
    Recordset rs;
    rs.open("link_programma", connection, CursorType::Keyset, LockType::Pessimistic);
    rs.addNew();
    rs.setField("NomeAzienda", Value::string("Training Sede"));
    rs.setField("DBname", Value::string("VoPaDatiTraining"));
    rs.update();
    EXPECT_EQ(rs.field("ID"), Value::longInt(4));
    EXPECT_EQ(rs.field("Attiva"), Value::boolean(true));
    EXPECT_EQ(rs.recordCount(), 4);

    // A value that does not fit its column is refused with the server's error, and nothing is written.
    rs.addNew();
    rs.setField("NomeAzienda", Value::string(std::string(60, 'x')));
    EXPECT_EQ(errorNumber([&] { rs.update(); }), 8152);
    rs.cancelUpdate();
    std::shared_ptr<Recordset> count = connection.execute("SELECT count(*) AS n FROM link_programma");
    EXPECT_EQ(count->field("n").toString(), "4");
}

TEST_F(RecordsetTest, FiltersDeletesAndReadOnlyLocks) {
    Recordset rs;
    rs.open("link_programma", connection, CursorType::Keyset, LockType::Pessimistic);
    const std::pair<std::string, std::int64_t> filters[] = {
        {"id = 3", 1}, {"NomeAzienda = 'ufficio roma'", 1}, {"id > 1 AND id < 3", 1}, {"id = 1 OR id = 3", 2}, {"", 3},
        {"NomeAzienda LIKE 'uff*'", 1}, {"NomeAzienda LIKE 'roma*'", 0}};
    for (const auto& [filter, count] : filters) {
        rs.setFilter(filter);
        EXPECT_EQ(rs.recordCount(), count) << filter;
    }
    rs.setFilter("id = 2");
    rs.deleteCurrent();
    EXPECT_EQ(errorNumber([&] { rs.field("ID"); }), data::errors::NoCurrentRecord);
    rs.moveNext();
    EXPECT_TRUE(rs.eof());

    Recordset readOnly;
    readOnly.open("link_programma", connection, CursorType::Static, LockType::ReadOnly);
    EXPECT_EQ(readOnly.recordCount(), 2);
    EXPECT_EQ(errorNumber([&] { readOnly.setField("NomeAzienda", Value::string("no")); }), data::errors::NotUpdatable);
}

TEST(Connections, OpenFailuresAndStates) {
    vopa::testing::TempDrive drive;
    const std::pair<std::string, int> failures[] = {
        {"Driver=SQL Server;Server=ALTROPC;UID=;PWD=;", 17},
        {"Driver=SQL Server;Server=(local)\\NESSUNA;UID=;PWD=;", 17},
        {kServer + "DATABase=Nessuno", 4060},
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Vopa\\Files\\manca.mdb;", data::errors::DataSourceNotFound},
        {"DSN=Qen_Server", data::errors::DataSourceNotFound},
    };
    for (const auto& [text, number] : failures) {
        Connection c;
        EXPECT_EQ(errorNumber([&] { c.open(text); }), number) << text;
        EXPECT_EQ(c.state(), data::ObjectState::Closed) << text;
    }
    Connection c;
    EXPECT_EQ(errorNumber([&] { c.close(); }), data::errors::ObjectClosed);
    c.open("Driver={SQL Server};server=LOCALHOST;ID utente=;Password=;");
    EXPECT_EQ(c.state(), data::ObjectState::Open);
    EXPECT_EQ(errorNumber([&] { c.open(); }), data::errors::ObjectOpen);

    drive.writeRaw("Vopa/Files/Sede.mdb", "jet");
    Connection local;
    local.open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\vopa\\files\\SEDE.mdb;");
    EXPECT_TRUE(local.isOpen());

    data::Command command;
    command.commandText = "SELECT 1 AS uno";
    EXPECT_EQ(errorNumber([&] { command.execute(); }), 3709);
    command.activeConnection = &c;
    EXPECT_EQ(command.execute()->field("uno").toString(), "1");
}

TEST(ConnectionStrings, ReadKeysCaseInsensitively) {
    data::ConnectionString cs("Driver={SQL Server};SERVER=pc\\sqlexpress;ID utente=mario;Password=x;DATABase=Db1;");
    EXPECT_EQ(std::tuple(cs.driver(), cs.server(), cs.user(), cs.password(), cs.database()),
              std::tuple("SQL Server", "pc\\sqlexpress", "mario", "x", "Db1"));
    EXPECT_EQ(data::ConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\a b\\x.mdb;").dataSource(),
              "C:\\a b\\x.mdb");
    // A braced value may hold ";" and "=", and "}}" for a closing brace.
    EXPECT_EQ(data::ConnectionString("Driver={SQL Server};PWD={a;b=c}}d};UID=x").password(), "a;b=c}d");
}

TEST_F(RecordsetTest, PendingChangesAreSavedWhenTheCursorMoves) {
    Recordset rs;
    rs.open("SELECT * FROM link_programma ORDER BY ID", connection, CursorType::Keyset, LockType::Pessimistic);
    rs.setField("NomeAzienda", Value::string("Sede Centrale"));
    rs.moveNext();  // saves the first row, as moving off an edited row does
    rs.movePrevious();
    EXPECT_EQ(rs.field("NomeAzienda").toString(), "Sede Centrale");
    rs.movePrevious();
    EXPECT_TRUE(rs.bof());
    EXPECT_EQ(errorNumber([&] { rs.field("ID"); }), data::errors::NoCurrentRecord);
    rs.moveFirst();

    // Closing with an edit under way is refused until it is saved or cancelled.
    rs.setField("DBname", Value::string("x"));
    EXPECT_EQ(errorNumber([&] { rs.close(); }), 3219);
    rs.cancelUpdate();
    rs.close();
    std::int64_t affected = 0;
    connection.execute("UPDATE link_programma SET Attiva = 0 WHERE ID > 1", &affected);
    EXPECT_EQ(affected, 2);
    std::shared_ptr<Recordset> none = connection.execute("UPDATE link_programma SET Attiva = 1 WHERE ID = 99");
    EXPECT_FALSE(none->isOpen()) << "a statement without rows gives a closed recordset";

    // A recordset with a connection of its own.
    Recordset own;
    own.open("SELECT NomeAzienda FROM link_programma WHERE ID = 1", kServer + "DATABase=Azienda");
    EXPECT_EQ(own.field(0).toString(), "Sede Centrale");
    EXPECT_EQ(own.fieldName(0), "NomeAzienda");
}

TEST_F(RecordsetTest, JoinedRowsAreReadOnly) {
    Recordset rs;
    rs.open("SELECT a.ID, b.a FROM link_programma a CROSS JOIN doppi b", connection, CursorType::Keyset,
            LockType::Pessimistic);
    EXPECT_EQ(rs.recordCount(), 6);
    EXPECT_EQ(errorNumber([&] { rs.setField("ID", Value::longInt(1)); }), data::errors::NotUpdatable);
    EXPECT_EQ(errorNumber([&] { rs.addNew(); }), data::errors::NotUpdatable);
}

// Each of the server's types reaches a recordset as the same type of the data layer, and a row read
// back after an update comes through the engine with the types it was read with.
TEST_F(RecordsetTest, ColumnsKeepTheServersTypes) {
    using K = data::ColumnType::Kind;
    struct Case {
        const char* type;
        const char* literal;
        data::ColumnType expected;
    };
    const Case cases[] = {
        {"bit", "1", {K::Bit, 0, 0, 0}}, {"tinyint", "7", {K::TinyInt, 0, 0, 0}},
        {"smallint", "-3", {K::SmallInt, 0, 0, 0}}, {"int", "5", {K::Int, 0, 0, 0}},
        {"bigint", "9000000000", {K::BigInt, 0, 0, 0}}, {"real", "1.5", {K::Real, 0, 0, 0}},
        {"float", "2.25", {K::Float, 0, 0, 0}}, {"smallmoney", "3.5", {K::SmallMoney, 0, 10, 4}},
        {"money", "12.3456", {K::Money, 0, 19, 4}}, {"decimal(10,3)", "1.234", {K::Decimal, 0, 10, 3}},
        {"numeric(8,2)", "4.5", {K::Numeric, 0, 8, 2}},
        {"smalldatetime", "'2009-03-05 10:20'", {K::SmallDateTime, 0, 0, 0}},
        {"datetime", "'2009-03-05 10:20:30.123'", {K::DateTime, 0, 0, 0}}, {"date", "'2009-03-05'", {K::Date, 0, 0, 0}},
        {"char(4)", "'ab'", {K::Char, 4, 0, 0}}, {"varchar(9)", "'abc'", {K::VarChar, 9, 0, 0}},
        {"text", "'long'", {K::Text, 2147483647, 0, 0}}, {"nchar(3)", "N'x'", {K::NChar, 3, 0, 0}},
        {"nvarchar(20)", "N'Roma'", {K::NVarChar, 20, 0, 0}}, {"ntext", "N'lungo'", {K::NText, 1073741823, 0, 0}},
        {"binary(2)", "0x0102", {K::Binary, 2, 0, 0}}, {"varbinary(6)", "0x0A0B", {K::VarBinary, 6, 0, 0}},
        {"image", "0x0C", {K::Image, 2147483647, 0, 0}},
        {"uniqueidentifier", "'6F9619FF-8B86-D011-B42D-00C04FC964FF'", {K::UniqueIdentifier, 36, 0, 0}},
    };
    std::string columns = "k int NOT NULL", values = "1";
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        columns += ", c" + std::to_string(i) + " " + cases[i].type + " NULL";
        values += std::string(", ") + cases[i].literal;
    }
    connection.execute("CREATE TABLE tipi (" + columns + ")");
    connection.execute("INSERT INTO tipi VALUES (" + values + ")");

    Recordset rs;
    rs.open("SELECT * FROM tipi", connection, CursorType::Keyset, LockType::Optimistic);
    std::vector<Value> before;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].type);
        EXPECT_EQ(rs.rows().columns[i + 1].type, cases[i].expected);
        before.push_back(rs.field(static_cast<int>(i + 1)));
    }
    rs.setField("k", Value::longInt(2));
    rs.update();
    // Values compare equal only when their kinds are the same too.
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(rs.field(static_cast<int>(i + 1)), before[i]) << cases[i].type;
}

}  // namespace
