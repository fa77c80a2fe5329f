// vopa-server as a client sees it: the program started on a fresh drive C: with a free port, reached
// through the FreeTDS ODBC driver (and a raw socket for what no driver sends).

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDrive.h"

namespace {

const char* const kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
// sa's password, given to the server at its first start on each fresh drive.
const char* const kSaPassword = "segreta";

using Rows = std::vector<std::vector<std::string>>;
// What a statement gives back: its rows, or the count of rows it changed.
using Result = std::variant<Rows, long>;

struct Outcome {
    std::vector<Result> results;
    std::vector<int> errors;  // native error numbers
};

// vopa-server with short time-outs for the tests (the idle one as given).
class Server : public vopa::testing::ServerProcess {
public:
    explicit Server(const char* idleTimeout = "600", const std::vector<std::string>& more = {})
        : ServerProcess(VOPA_SERVER_PATH, options(idleTimeout, more)) {}

private:
    static std::vector<std::string> options(const char* idleTimeout, const std::vector<std::string>& more) {
        std::vector<std::string> all = {"--read-timeout", "3", "--idle-timeout", idleTimeout};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
};

// The native numbers of the errors (not of the informational messages, state 01xxx) a handle holds.
std::vector<int> nativeErrors(SQLSMALLINT type, SQLHANDLE handle, std::string* text = nullptr) {
    std::vector<int> numbers;
    SQLCHAR state[6], message[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1; SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length)); ++i) {
        if (std::string(reinterpret_cast<char*>(state), 2) != "01") numbers.push_back(native);
        if (text) *text += reinterpret_cast<char*>(message) + std::string("\n");
    }
    return numbers;
}

class Client {
public:
    // Connects; the native error numbers of a refused login in `errors`.
    Client(int port, const std::string& user, const std::string& database, std::vector<int>* errors = nullptr,
           const std::string& more = "", const std::string& password = kSaPassword, std::string* messages = nullptr) {
        std::string text = std::string("Driver=") + kDriver + ";Server=127.0.0.1;Port=" + std::to_string(port) +
                           ";UID=" + user + ";PWD=" + password + ";ClientCharset=UTF-8";
        if (!database.empty()) text += ";Database=" + database;
        text += more;
        if (more.find("TDS_Version") == std::string::npos) text += ";TDS_Version=7.4";
        connect(text, errors, messages);
    }
    // Connects with a whole connection text of the driver.
    explicit Client(std::string text, std::vector<int>* errors = nullptr) { connect(text, errors, nullptr); }
    ~Client() {
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    bool connected() const { return connected_; }
    SQLHDBC dbc() const { return dbc_; }

private:
    void connect(std::string& text, std::vector<int>* errors, std::string* messages) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr,
                                              0, nullptr, SQL_DRIVER_NOPROMPT);
        connected_ = SQL_SUCCEEDED(rc);
        std::string said;
        const std::vector<int> numbers = nativeErrors(SQL_HANDLE_DBC, dbc_, &said);
        if (messages) *messages = said;
        if (errors) *errors = numbers;
        else if (!connected_) throw std::runtime_error("cannot connect: " + said);
    }

public:
    Outcome run(const std::string& sql) {
        SQLHSTMT st;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
        const SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
        Outcome o = collect(st, rc);
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        return o;
    }

    static Outcome collect(SQLHSTMT st, SQLRETURN rc) {
        Outcome o;
        for (;;) {
            if (rc == SQL_NO_DATA) break;
            for (int n : nativeErrors(SQL_HANDLE_STMT, st)) o.errors.push_back(n);
            if (SQL_SUCCEEDED(rc)) {
                SQLSMALLINT columns = 0;
                SQLNumResultCols(st, &columns);
                if (columns > 0) {
                    Rows rows;
                    while (SQL_SUCCEEDED(SQLFetch(st))) {
                        std::vector<std::string> row;
                        for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                            char buffer[512];
                            SQLLEN length = 0;
                            SQLGetData(st, c, SQL_C_CHAR, buffer, sizeof buffer, &length);
                            row.push_back(length == SQL_NULL_DATA ? "NULL" : std::string(buffer));
                        }
                        rows.push_back(row);
                    }
                    o.results.emplace_back(rows);
                } else {
                    SQLLEN count = -1;
                    SQLRowCount(st, &count);
                    if (count >= 0) o.results.emplace_back(static_cast<long>(count));
                }
            }
            rc = SQLMoreResults(st);
        }
        return o;
    }

private:
    SQLHENV env_ = SQL_NULL_HANDLE;
    SQLHDBC dbc_ = SQL_NULL_HANDLE;
    bool connected_ = false;
};

Rows rowsOf(const Outcome& o, std::size_t i = 0) {
    if (i >= o.results.size() || !std::holds_alternative<Rows>(o.results[i])) return {{"<no rows>"}};
    return std::get<Rows>(o.results[i]);
}

class ServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        drive_ = new vopa::testing::TempDrive();
        ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
        server_ = new Server();
        Client setup(server_->port(), "sa", "");
        const Outcome o = setup.run("CREATE DATABASE Prova");
        ASSERT_TRUE(o.errors.empty());
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(server_->stop(), 0) << "SIGTERM ends the server cleanly";
        delete server_;
        delete drive_;
    }
    static int port() { return server_->port(); }

    static vopa::testing::TempDrive* drive_;
    static Server* server_;
};

vopa::testing::TempDrive* ServerTest::drive_ = nullptr;
Server* ServerTest::server_ = nullptr;

TEST_F(ServerTest, ABatchGivesEachResultSetAndRowCountInOrder) {
    Client c(port(), "sa", "Prova");
    ASSERT_TRUE(c.run("CREATE TABLE lotti (a int NOT NULL, b nvarchar(10) NULL)").errors.empty());
    const Outcome o = c.run(
        "SELECT 1 AS uno, N'x' AS due\n"
        "DECLARE @n int\n"
        "SET @n = 2\n"
        "INSERT INTO lotti VALUES (1, N'primo'), (@n, NULL)\n"
        "UPDATE lotti SET b = N'secondo' WHERE a = 5\n"
        "SELECT a, b FROM lotti ORDER BY a");
    EXPECT_TRUE(o.errors.empty());
    ASSERT_EQ(o.results.size(), 4u);
    EXPECT_EQ(rowsOf(o, 0), (Rows{{"1", "x"}}));
    EXPECT_EQ(std::get<long>(o.results[1]), 2);
    EXPECT_EQ(std::get<long>(o.results[2]), 0);
    EXPECT_EQ(rowsOf(o, 3), (Rows{{"1", "primo"}, {"2", "NULL"}}));
}

TEST_F(ServerTest, EveryStoredTypeComesBackAsStored) {
    struct Case {
        const char* type;
        const char* literal;
        const char* expected;  // as the driver converts it to text
        SQLSMALLINT odbcType;
    };
    const std::vector<Case> cases = {
        {"bit", "1", "1", SQL_BIT},
        {"tinyint", "255", "255", SQL_TINYINT},
        {"smallint", "-32768", "-32768", SQL_SMALLINT},
        {"int", "-2147483648", "-2147483648", SQL_INTEGER},
        {"bigint", "9223372036854775807", "9223372036854775807", SQL_BIGINT},
        {"real", "1.5", "1.5", SQL_REAL},
        {"float", "-2.25", "-2.25", SQL_DOUBLE},
        {"smallmoney", "-214748.3648", "-214748.3648", SQL_DECIMAL},
        {"money", "922337203685477.5807", "922337203685477.5807", SQL_DECIMAL},
        {"decimal(19,2)", "-12345678901234567.89", "-12345678901234567.89", SQL_NUMERIC},
        {"numeric(5,3)", "12.345", "12.345", SQL_NUMERIC},
        {"datetime", "'2024-02-29T23:59:59.997'", "2024-02-29 23:59:59.997", SQL_TYPE_TIMESTAMP},
        {"smalldatetime", "'2024-02-29T10:20:00'", "2024-02-29 10:20:00", SQL_TYPE_TIMESTAMP},
        {"date", "'2024-02-29'", "2024-02-29", SQL_TYPE_DATE},
        {"char(4)", "'ab'", "ab  ", SQL_CHAR},
        {"varchar(10)", "'caffè'", "caffè", SQL_VARCHAR},
        {"text", "'lungo testo'", "lungo testo", SQL_LONGVARCHAR},
        {"nchar(3)", "N'€'", "€  ", SQL_WCHAR},
        {"nvarchar(20)", "N'città ĳ €'", "città ĳ €", SQL_WVARCHAR},
        {"ntext", "N'note €'", "note €", SQL_WLONGVARCHAR},
        {"binary(3)", "0x0A0B", "0a0b00", SQL_BINARY},
        {"varbinary(10)", "0x00FF10", "00ff10", SQL_VARBINARY},
        {"image", "0xCAFE", "cafe", SQL_LONGVARBINARY},
        {"varchar(max)", "'senza limite'", "senza limite", SQL_VARCHAR},
    };
    Client c(port(), "sa", "Prova");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& k = cases[i];
        const std::string table = "tipo" + std::to_string(i);
        const Outcome made = c.run("CREATE TABLE " + table + " (v " + k.type + " NULL)\nINSERT INTO " + table +
                                   " VALUES (" + k.literal + "), (NULL)");
        ASSERT_TRUE(made.errors.empty()) << k.type;
        SQLHSTMT st;
        SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st);
        const std::string select = "SELECT v FROM " + table;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(select.c_str())), SQL_NTS)));
        SQLCHAR name[64];
        SQLSMALLINT nameLength = 0, dataType = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeCol(st, 1, name, sizeof name, &nameLength, &dataType, &size, &digits, &nullable);
        EXPECT_EQ(dataType, k.odbcType) << k.type;
        Outcome o = Client::collect(st, SQL_SUCCESS);
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        EXPECT_EQ(rowsOf(o), (Rows{{k.expected}, {"NULL"}})) << k.type;
    }
}

TEST_F(ServerTest, EachTdsVersionGetsRowsItCanRead) {
    for (const char* version : {"7.1", "7.2", "7.3", "7.4"}) {
        Client c(port(), "sa", "Prova", nullptr, std::string(";TDS_Version=") + version);
        const Outcome o = c.run("SELECT CAST(NULL AS int) AS a, CAST(N'è' AS nvarchar(max)) AS b, CAST(1.5 AS decimal(5,2)) AS c,"
                                " CAST(0x0102 AS varbinary(max)) AS d, CAST(NULL AS ntext) AS e, CAST('2024-02-29' AS date) AS f");
        EXPECT_TRUE(o.errors.empty()) << version;
        // TDS 7.1 and 7.2 know no date type: a date comes as a datetime at midnight.
        const std::string date = version[2] < '3' ? "2024-02-29 00:00:00.000" : "2024-02-29";
        EXPECT_EQ(rowsOf(o), (Rows{{"NULL", "è", "1.50", "0102", "NULL", date}})) << version;
    }
}

// Every stored type as a parameter of a prepared INSERT (SQLPrepare, SQLBindParameter, SQLExecute:
// FreeTDS sends the values typed), then a NULL of the same parameter; read back as text.
TEST_F(ServerTest, EveryTypeGoesInAsAParameter) {
    Client c(port(), "sa", "Prova");
    struct Case {
        const char* column;
        SQLSMALLINT cType, sqlType;
        SQLULEN size;
        SQLSMALLINT digits;
        std::string bytes;  // the C value's bytes
        const char* stored;
    };
    auto raw = [](const auto& v) { return std::string(reinterpret_cast<const char*>(&v), sizeof v); };
    const SQL_TIMESTAMP_STRUCT when{2009, 3, 5, 13, 45, 30, 500000000};
    const Case cases[] = {
        {"tinyint", SQL_C_UTINYINT, SQL_TINYINT, 0, 0, raw(static_cast<unsigned char>(255)), "255"},
        {"smallint", SQL_C_SSHORT, SQL_SMALLINT, 0, 0, raw(static_cast<short>(-32768)), "-32768"},
        {"int", SQL_C_SLONG, SQL_INTEGER, 0, 0, raw(static_cast<SQLINTEGER>(2147483647)), "2147483647"},
        {"bigint", SQL_C_SBIGINT, SQL_BIGINT, 0, 0, raw(static_cast<SQLBIGINT>(-9007199254740993LL)), "-9007199254740993"},
        {"bit", SQL_C_BIT, SQL_BIT, 0, 0, raw(static_cast<unsigned char>(1)), "1"},
        {"real", SQL_C_FLOAT, SQL_REAL, 0, 0, raw(1.5f), "1.5"},
        {"float", SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, raw(-0.125), "-0.125"},
        {"decimal(12,3)", SQL_C_CHAR, SQL_DECIMAL, 12, 3, std::string("-123456789.125") + '\0', "-123456789.125"},
        {"money", SQL_C_CHAR, SQL_DECIMAL, 19, 4, std::string("922337203685477.5807") + '\0', "922337203685477.5807"},
        {"smallmoney", SQL_C_CHAR, SQL_DECIMAL, 10, 4, std::string("-214748.3648") + '\0', "-214748.3648"},
        {"datetime", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, raw(when), "2009-03-05 13:45:30.500"},
        {"smalldatetime", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 16, 0, raw(when), "2009-03-05 13:46:00"},
        {"char(6)", SQL_C_CHAR, SQL_CHAR, 6, 0, std::string("Città") + '\0', "Città "},
        {"varchar(20)", SQL_C_CHAR, SQL_VARCHAR, 20, 0, std::string("l'Aquilone") + '\0', "l'Aquilone"},
        {"nchar(3)", SQL_C_CHAR, SQL_WCHAR, 3, 0, std::string("€a") + '\0', "€a "},
        {"nvarchar(20)", SQL_C_CHAR, SQL_WVARCHAR, 20, 0, std::string("Žluťoučký") + '\0', "Žluťoučký"},
        {"text", SQL_C_CHAR, SQL_LONGVARCHAR, 100, 0, std::string("nota lunga è") + '\0', "nota lunga è"},
        {"ntext", SQL_C_CHAR, SQL_WLONGVARCHAR, 100, 0, std::string("ñandú") + '\0', "ñandú"},
        {"binary(3)", SQL_C_BINARY, SQL_BINARY, 3, 0, std::string("\x0A\x0B", 2), "0a0b00"},
        {"varbinary(10)", SQL_C_BINARY, SQL_VARBINARY, 10, 0, std::string("\x00\xFF\x10", 3), "00ff10"},
    };
    int n = 0;
    for (const Case& k : cases) {
        const std::string table = "parametro" + std::to_string(++n);
        ASSERT_TRUE(c.run("CREATE TABLE " + table + " (i int NOT NULL, v " + k.column + " NULL)").errors.empty()) << k.column;
        SQLHSTMT st;
        SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st);
        const std::string insert = "INSERT INTO " + table + " (i, v) VALUES (?, ?)";
        ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(insert.c_str())), SQL_NTS)));
        SQLINTEGER i = 1;
        std::string value = k.bytes;
        SQLLEN length = k.cType == SQL_C_CHAR ? SQL_NTS : static_cast<SQLLEN>(value.size());
        SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0, nullptr);
        SQLBindParameter(st, 2, SQL_PARAM_INPUT, k.cType, k.sqlType, k.size, k.digits, value.data(),
                         static_cast<SQLLEN>(value.size()), &length);
        std::string text;
        SQLRETURN rc = SQLExecute(st);
        nativeErrors(SQL_HANDLE_STMT, st, &text);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << k.column << ": " << text;
        i = 2;
        length = SQL_NULL_DATA;
        rc = SQLExecute(st);
        nativeErrors(SQL_HANDLE_STMT, st, &text);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << k.column << " NULL: " << text;
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        EXPECT_EQ(rowsOf(c.run("SELECT v FROM " + table + " ORDER BY i")), (Rows{{k.stored}, {"NULL"}})) << k.column;
    }
}

TEST_F(ServerTest, AnErrorCarriesItsNumberAndTheBatchGoesOnAsTheEngineSays) {
    Client c(port(), "sa", "Prova");
    const Outcome o = c.run("SELECT 1 AS a\nSELECT * FROM nessuna");
    EXPECT_EQ(o.errors, std::vector<int>{208});
    EXPECT_EQ(rowsOf(o), (Rows{{"1"}}));
    const Outcome dup = c.run("CREATE TABLE chiavi (k int PRIMARY KEY)\nINSERT INTO chiavi VALUES (1)\n"
                              "INSERT INTO chiavi VALUES (1)\nSELECT COUNT(*) FROM chiavi");
    EXPECT_EQ(dup.errors, std::vector<int>{2627});  // 3621 follows as a message of class 0
    ASSERT_FALSE(dup.results.empty());
    EXPECT_EQ(rowsOf(dup, dup.results.size() - 1), (Rows{{"1"}}));
}

TEST_F(ServerTest, UseChangesTheDatabaseTheDriverReports) {
    Client c(port(), "sa", "");
    auto catalog = [&] {
        char name[128] = {};
        SQLINTEGER length = 0;
        SQLGetConnectAttr(c.dbc(), SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &length);
        return std::string(name);
    };
    EXPECT_EQ(catalog(), "master");
    EXPECT_EQ(c.run("USE Prova").errors, std::vector<int>{});
    EXPECT_EQ(catalog(), "Prova");
    EXPECT_EQ(rowsOf(c.run("SELECT DB_NAME()")), (Rows{{"Prova"}}));
    EXPECT_EQ(c.run("USE Manca").errors, std::vector<int>{911});
    EXPECT_EQ(catalog(), "Prova");
}

TEST_F(ServerTest, ParametersAreBoundAsValuesNeverAsText) {
    Client c(port(), "sa", "Prova");
    ASSERT_TRUE(c.run("CREATE TABLE persone (id int NOT NULL, nome nvarchar(60) NULL, saldo money NULL, nato datetime NULL)")
                    .errors.empty());
    SQLHSTMT st;
    SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(
                                             "INSERT INTO persone (id, nome, saldo, nato) VALUES (?, ?, ?, ?)")),
                                         SQL_NTS)));
    SQLINTEGER id = 0;
    char nome[64] = {};
    char saldo[32] = {};
    SQL_TIMESTAMP_STRUCT nato{};
    SQLLEN nomeLength = SQL_NTS, saldoLength = SQL_NTS, natoLength = 0;
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
    SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 60, 0, nome, sizeof nome, &nomeLength);
    SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 19, 4, saldo, sizeof saldo, &saldoLength);
    SQLBindParameter(st, 4, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, &nato, 0, &natoLength);
    struct Row {
        int id;
        const char* nome;
        const char* saldo;
        SQL_TIMESTAMP_STRUCT nato;
    };
    const std::vector<Row> rows = {
        {1, "O'Brien'); DROP TABLE persone; --", "-12.3400", {1999, 12, 31, 23, 59, 58, 0}},
        {2, "Ünïcode ok", "1000000.5000", {2024, 2, 29, 0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        id = r.id;
        std::snprintf(nome, sizeof nome, "%s", r.nome);
        std::snprintf(saldo, sizeof saldo, "%s", r.saldo);
        nato = r.nato;
        const SQLRETURN rc = SQLExecute(st);
        std::string text;
        nativeErrors(SQL_HANDLE_STMT, st, &text);
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << text;
        SQLLEN count = 0;
        SQLRowCount(st, &count);
        EXPECT_EQ(count, 1);
    }
    nomeLength = SQL_NULL_DATA;
    id = 3;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st)));
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    EXPECT_EQ(rowsOf(c.run("SELECT id, nome, saldo, nato FROM persone ORDER BY id")),
              (Rows{{"1", "O'Brien'); DROP TABLE persone; --", "-12.3400", "1999-12-31 23:59:58.000"},
                    {"2", "Ünïcode ok", "1000000.5000", "2024-02-29 00:00:00.000"},
                    {"3", "NULL", "1000000.5000", "2024-02-29 00:00:00.000"}}));

    // A parameter in a query run directly (sp_executesql).
    SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st);
    std::snprintf(nome, sizeof nome, "%s", "Ünïcode ok");
    nomeLength = SQL_NTS;
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 60, 0, nome, sizeof nome, &nomeLength);
    const SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT id FROM persone WHERE nome = ?")),
                                       SQL_NTS);
    const Outcome o = Client::collect(st, rc);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    EXPECT_EQ(rowsOf(o), (Rows{{"2"}}));
}

TEST_F(ServerTest, ARefusedLoginSaysOnlyThatItFailed) {
    struct Case {
        const char* user;
        const char* database;
        std::vector<int> errors;
    };
    const std::vector<Case> cases = {
        {"sa", "Inesistente", {4060, 18456}},
    };
    for (const Case& k : cases) {
        std::vector<int> errors;
        std::string said;
        Client c(port(), k.user, k.database, &errors, "", kSaPassword, &said);
        EXPECT_FALSE(c.connected()) << k.user << "/" << k.database;
        // The driver adds its own "connection failed" (0 or 20002) after the server's errors.
        std::erase_if(errors, [](int n) { return n == 0 || n == 20002; });
        EXPECT_EQ(errors, k.errors) << k.user << "/" << k.database;
        EXPECT_NE(said.find("Cannot open database \"Inesistente\" requested by the login. The login failed.\n"),
                  std::string::npos)
            << said;
    }
}

TEST_F(ServerTest, ALoginSignsInWithItsPasswordAndEveryRefusalSaysTheSame) {
    {
        Client sa(port(), "sa", "");
        for (const char* statement : {"CREATE LOGIN mario WITH PASSWORD = 'Pw-Mario1', DEFAULT_DATABASE = Prova",
                                      "CREATE LOGIN spento WITH PASSWORD = 'Pw-Spento1'", "ALTER LOGIN spento DISABLE"})
            ASSERT_TRUE(sa.run(statement).errors.empty()) << statement;
    }
    Client mario(port(), "mario", "", nullptr, "", "Pw-Mario1");
    EXPECT_EQ(rowsOf(mario.run("SELECT DB_NAME()")), (Rows{{"Prova"}})) << "the login's default database";
    EXPECT_EQ(mario.run("CREATE LOGIN altro WITH PASSWORD = 'Pw-Altro1'").errors, (std::vector<int>{15247}));

    struct Case {
        const char* what;
        const char* user;
        const char* password;
    };
    const Case refused[] = {
        {"a wrong password", "mario", "Pw-Mario2"},
        {"an unknown login", "nessuno", "Pw-Mario1"},
        {"a disabled login", "spento", "Pw-Spento1"},
        {"sa with another's password", "sa", "Pw-Mario1"},
    };
    for (const Case& k : refused) {
        std::vector<int> errors;
        std::string messages;
        Client c(port(), k.user, "", &errors, "", k.password, &messages);
        EXPECT_FALSE(c.connected()) << k.what;
        std::erase_if(errors, [](int n) { return n == 0 || n == 20002; });
        EXPECT_EQ(errors, (std::vector<int>{18456})) << k.what;
        const std::string expected = "Login failed for user '" + std::string(k.user) + "'.";
        const std::size_t at = messages.find(expected);
        ASSERT_NE(at, std::string::npos) << k.what << ": " << messages;
        EXPECT_EQ(messages.substr(at + expected.size(), 1), "\n") << k.what << ": nothing after it: " << messages;
    }

    // A changed password signs in, the old one no longer does.
    EXPECT_TRUE(mario.run("ALTER LOGIN mario WITH PASSWORD = 'Pw-Nuova1' OLD_PASSWORD = 'Pw-Mario1'").errors.empty());
    Client renewed(port(), "mario", "", nullptr, "", "Pw-Nuova1");
    EXPECT_EQ(rowsOf(renewed.run("SELECT 1")), (Rows{{"1"}}));
    std::vector<int> errors;
    Client old(port(), "mario", "", &errors, "", "Pw-Mario1");
    EXPECT_FALSE(old.connected());
}

TEST_F(ServerTest, RepeatedFailuresFromOneAddressAreSlowedWithoutHoldingUpOthers) {
    Server own;  // a count of failures of its own
    const auto failedLogin = [&] {
        const auto started = std::chrono::steady_clock::now();
        std::vector<int> errors;
        Client c(own.port(), "sa", "", &errors, "", "sbagliata");
        EXPECT_FALSE(c.connected());
        return std::chrono::steady_clock::now() - started;
    };
    const auto first = failedLogin();
    failedLogin();
    const auto third = failedLogin();
    EXPECT_GT(third, first + std::chrono::milliseconds(300)) << "the third failure in a row waits";
    failedLogin();
    // The fifth failure waits two seconds; meanwhile another client signs in and works at once.
    std::thread slow([&] { failedLogin(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto started = std::chrono::steady_clock::now();
    {
        Client c(own.port(), "sa", "");
        EXPECT_EQ(rowsOf(c.run("SELECT 1")), (Rows{{"1"}}));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
    slow.join();
    // That success started the count again.
    EXPECT_LT(failedLogin() + std::chrono::milliseconds(250), third);
}

TEST_F(ServerTest, ClientsWorkAtOnceEachOnItsOwnSession) {
    Client setup(port(), "sa", "Prova");
    ASSERT_TRUE(setup.run("CREATE TABLE insieme (client int NOT NULL, n int NOT NULL)").errors.empty());
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&, k] {
            Client c(port(), "sa", "Prova");
            // Each session keeps its own variables and transaction while the others run.
            for (int n = 0; n < 10; ++n) {
                const Outcome o = c.run("DECLARE @k int = " + std::to_string(k) + "\nBEGIN TRANSACTION\n"
                                        "INSERT INTO insieme VALUES (@k, " + std::to_string(n) + ")\nCOMMIT\n"
                                        "SELECT COUNT(*) FROM insieme WHERE client = @k");
                if (!o.errors.empty() || rowsOf(o, 1) != Rows{{std::to_string(n + 1)}}) ++failures[static_cast<std::size_t>(k)];
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    EXPECT_EQ(rowsOf(setup.run("SELECT COUNT(*), COUNT(DISTINCT client) FROM insieme")), (Rows{{"40", "4"}}));
}

TEST_F(ServerTest, AutocommitOffRollsBackAndCommitsThroughTheDriver) {
    Client c(port(), "sa", "Prova");
    Client other(port(), "sa", "Prova");
    ASSERT_TRUE(c.run("CREATE TABLE conti (n int)").errors.empty());
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLSetConnectAttr(c.dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
    const std::vector<std::pair<SQLSMALLINT, const char*>> steps = {{SQL_ROLLBACK, "0"}, {SQL_COMMIT, "1"}};
    for (const auto& [end, expected] : steps) {
        EXPECT_TRUE(c.run("INSERT INTO conti VALUES (1)").errors.empty());
        EXPECT_EQ(rowsOf(c.run("SELECT @@TRANCOUNT")), (Rows{{"1"}}));
        EXPECT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc(), end)));
        EXPECT_EQ(rowsOf(other.run("SELECT COUNT(*) FROM conti")), (Rows{{expected}}));
    }
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLSetConnectAttr(c.dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)));
    EXPECT_EQ(rowsOf(c.run("SELECT @@TRANCOUNT")), (Rows{{"0"}}));
}

// A raw TCP connection to the server: bytes in, whatever comes back until the server closes (or, with
// `firstAnswer`, the first bytes that come back).
std::string exchange(int port, const std::string& bytes, bool firstAnswer = false) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "<no connection>";
    [[maybe_unused]] ssize_t sent = ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string answer;
    timeval limit{10, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0) {
        answer.append(buffer, static_cast<std::size_t>(n));
        if (firstAnswer) break;
    }
    ::close(s);
    return n < 0 ? "<still open>" : answer;
}

// A query of a thousand million rows: longer than the tests wait, unless it is stopped.
std::string endlessQuery(const std::string& table) {
    std::string q = "SELECT COUNT(*) FROM " + table + " a";
    for (const char* alias : {"b", "c", "d", "e", "f", "g", "h", "k"}) q += ", " + table + " " + alias;
    return q;
}
// Creates `digits` (the ten digits) and `marks` (empty).
std::string digitsAndMarks(const std::string& digits, const std::string& marks) {
    return "CREATE TABLE " + digits + " (i int)\nINSERT INTO " + digits +
           " VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)\nCREATE TABLE " + marks + " (n int)";
}

// A cancel stops the batch where it is: the statement running and those after it do not run, the driver
// reports the cancel, and the connection goes on.
TEST_F(ServerTest, ACancelStopsTheBatchInsideItsLongStatement) {
    Client c(port(), "sa", "Prova");
    ASSERT_TRUE(c.run(digitsAndMarks("cifre1", "segni1")).errors.empty());
    SQLHSTMT st;
    SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st);
    std::thread cancel([st] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SQLCancel(st);
    });
    const auto started = std::chrono::steady_clock::now();
    const std::string batch = "INSERT INTO segni1 VALUES (1)\n" + endlessQuery("cifre1") + "\nINSERT INTO segni1 VALUES (2)";
    SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(batch.c_str())), SQL_NTS);
    while (SQL_SUCCEEDED(rc)) rc = SQLMoreResults(st);
    cancel.join();
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(SQL_HANDLE_STMT, st, 1, state, &native, nullptr, 0, &length);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(state)), "HY008") << "the driver's \"operation cancelled\"";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    // The connection goes on; the statement after the cancel did not run.
    EXPECT_EQ(rowsOf(c.run("SELECT n FROM segni1")), (Rows{{"1"}}));
}

// A client killed in the middle of a batch: its batch stops, its transaction is rolled back, and the
// others go on at once (its locks are gone).
TEST_F(ServerTest, AKilledClientsBatchStopsAndItsTransactionIsRolledBack) {
    Client setup(port(), "sa", "Prova");
    ASSERT_TRUE(setup.run(digitsAndMarks("cifre2", "segni2")).errors.empty());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Client doomed(port(), "sa", "Prova");
        doomed.run("BEGIN TRANSACTION\nINSERT INTO segni2 VALUES (1)\n" + endlessQuery("cifre2") + "\nCOMMIT");
        ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // signed in and inside the long query
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const auto started = std::chrono::steady_clock::now();
    Client other(port(), "sa", "Prova");
    EXPECT_TRUE(other.run("INSERT INTO segni2 VALUES (2)").errors.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << "waited for the killed client's lock";
    EXPECT_EQ(rowsOf(other.run("SELECT n FROM segni2")), (Rows{{"2"}}));
    EXPECT_EQ(rowsOf(other.run("SELECT 42")), (Rows{{"42"}}));
}

TEST_F(ServerTest, AnswersComeInPacketsOfTheSizeTheClientAskedFor) {
    const std::string longText(3000, 'z');
    for (const char* size : {"4096", "8192", "32767"}) {
        Client c(port(), "sa", "Prova", nullptr, std::string(";PacketSize=") + size);
        SQLUINTEGER agreed = 0;
        SQLGetConnectAttr(c.dbc(), SQL_ATTR_PACKET_SIZE, &agreed, 0, nullptr);
        EXPECT_EQ(std::to_string(agreed), size);
        const Outcome o = c.run("SELECT N'" + longText + "' AS a, N'" + longText + "' AS b");
        EXPECT_EQ(rowsOf(o), (Rows{{longText.substr(0, 511), longText.substr(0, 511)}})) << size;
    }
}

TEST_F(ServerTest, AnIdleClientIsDisconnectedAndAStopClosesTheOthers) {
    Server quick("1");
    Client idle(quick.port(), "sa", "");
    Client busy(quick.port(), "sa", "");
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(rowsOf(busy.run("SELECT 1")), (Rows{{"1"}}));
    }
    EXPECT_EQ(rowsOf(idle.run("SELECT 1")), (Rows{{"<no rows>"}})) << "still connected after two seconds idle";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(quick.stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(rowsOf(busy.run("SELECT 1")), (Rows{{"<no rows>"}}));
}

// A LOGIN7 packet of TDS 7.4 with a user name, its password and, for integrated login, an SSPI token.
std::string login7(const std::string& user, const std::string& sspi, const std::string& password = kSaPassword) {
    std::string fixed(94, '\0'), data;
    auto put16 = [&](std::size_t at, std::size_t v) {
        fixed[at] = static_cast<char>(v & 0xFF);
        fixed[at + 1] = static_cast<char>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::size_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    put32(4, 0x74000004);
    put32(8, 4096);
    // Every string (host, user, password, application, server, extension, library, language, database)
    // is empty but the user name.
    for (std::size_t at : {36u, 40u, 44u, 48u, 52u, 56u, 60u, 64u, 68u, 82u, 86u}) put16(at, 94);
    for (char c : user) data += std::string{c, '\0'};
    put16(40, 94);
    put16(42, user.size());
    // The password as UTF-16, each byte's halves swapped and XORed with 0xA5.
    put16(44, 94 + data.size());
    put16(46, password.size());
    for (char c : password)
        for (unsigned char b : {static_cast<unsigned char>(c), static_cast<unsigned char>(0)})
            data.push_back(static_cast<char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5));
    put16(78, 94 + data.size());
    put16(80, sspi.size());
    data += sspi;
    if (!sspi.empty()) fixed[25] = static_cast<char>(0x80);  // integrated security
    put32(0, fixed.size() + data.size());
    const std::string payload = fixed + data;
    const std::size_t length = 8 + payload.size();
    return std::string{'\x10', '\x01', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF), 0, 0, 1, 0} + payload;
}

// The number of the first ERROR token of an answer, 0 when there is none.
int firstError(const std::string& answer) {
    for (std::size_t i = 8; i + 7 < answer.size(); ++i)
        if (static_cast<unsigned char>(answer[i]) == 0xAA) {
            const auto byte = [&](std::size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(answer[i + 3 + k])); };
            return static_cast<int>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
        }
    return 0;
}

TEST_F(ServerTest, IntegratedAndNamelessLoginsAreRefused) {
    EXPECT_EQ(firstError(exchange(port(), login7("sa", "", "sbagliata"))), 18456);
    EXPECT_EQ(firstError(exchange(port(), login7("", std::string("NTLMSSP\0\x01\0\0\0", 12)))), 18452);
    EXPECT_EQ(firstError(exchange(port(), login7("", ""))), 18456);
    const std::string accepted = exchange(port(), login7("sa", ""), true);
    EXPECT_EQ(firstError(accepted), 0) << "the builder's login itself is sound";
    EXPECT_NE(accepted.find('\xAD'), std::string::npos) << "LOGINACK";
}

TEST_F(ServerTest, ABadPacketClosesThatConnectionAndTheServerGoesOn) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"a header shorter than itself", std::string("\x12\x01\x00\x04\x00\x00\x00\x00", 8)},
        {"a packet longer than the packet size", std::string("\x12\x01\xFF\xFF\x00\x00\x00\x00", 8) + std::string(70000, 'x')},
        {"a PRELOGIN whose option points past its end", std::string("\x12\x01\x00\x0E\x00\x00\x01\x00\x00\x00\x40\x00\x06\xFF", 14)},
        {"a login before any PRELOGIN, cut short", std::string("\x10\x01\x00\x10\x00\x00\x01\x00\x05\x00\x00\x00\x00\x00\x00\x00", 16)},
        {"half a packet, then silence", std::string("\x12\x01\x00\x40\x00\x00", 6)},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_EQ(exchange(port(), bytes), "") << what;
        Client c(port(), "sa", "");
        EXPECT_EQ(rowsOf(c.run("SELECT 42")), (Rows{{"42"}})) << "after " << what;
    }
}

// A PRELOGIN packet with VERSION and ENCRYPTION (`encryption`: 0 off, 1 on, 2 not supported).
std::string prelogin(char encryption) {
    const std::string payload = std::string("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF", 11) + std::string(6, '\0') + encryption;
    return std::string{'\x12', '\x01', 0, static_cast<char>(8 + payload.size()), 0, 0, 1, 0} + payload;
}

// The ENCRYPTION option of the server's PRELOGIN answer, -1 when there is none.
int answeredEncryption(const std::string& answer) {
    for (std::size_t i = 8; i + 5 <= answer.size() && answer[i] != '\xFF'; i += 5) {
        const std::size_t offset = 8 + (static_cast<unsigned char>(answer[i + 1]) << 8 | static_cast<unsigned char>(answer[i + 2]));
        if (answer[i] == 1 && offset < answer.size()) return static_cast<unsigned char>(answer[offset]);
    }
    return -1;
}

// The files called `name` anywhere below `root`.
std::vector<std::filesystem::path> filesNamed(const std::filesystem::path& root, const std::string& name) {
    std::vector<std::filesystem::path> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.path().filename() == name) found.push_back(e.path());
    return found;
}

std::string contentOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ServerTest, ClientsEncryptAsTheyAskAndAServerThatRequiresItRefusesThoseThatWillNot) {
    Server required("600", {"--encryption", "required"});
    struct Case {
        const char* keyword;  // the driver's Encryption=
        char asked;           // what it sends in the PRELOGIN
        bool serverRequires;
        int answered;         // 0 the login alone encrypted, 1 or 3 the whole connection, 2 none
        bool connects;
    };
    const std::vector<Case> cases = {
        {"require", 1, false, 1, true}, {"request", 0, false, 0, true}, {"off", 2, false, 2, true},
        {"require", 1, true, 1, true},  {"request", 0, true, 3, true},  {"off", 2, true, 2, false},
    };
    for (const Case& k : cases) {
        const int at = k.serverRequires ? required.port() : port();
        const std::string what = std::string(k.keyword) + (k.serverRequires ? " on a server that requires it" : "");
        EXPECT_EQ(answeredEncryption(exchange(at, prelogin(k.asked), true)), k.answered) << what;
        std::vector<int> errors;
        std::string said;
        Client c(at, "sa", "", &errors, std::string(";Encryption=") + k.keyword, kSaPassword, &said);
        EXPECT_EQ(c.connected(), k.connects) << what << ": " << said;
        if (k.connects) {
            EXPECT_EQ(rowsOf(c.run("SELECT N'cifrato' AS a, 42 AS b")), (Rows{{"cifrato", "42"}})) << what;
        } else {
            EXPECT_NE(said.find("Encryption is required to connect to this server."), std::string::npos) << said;
            EXPECT_EQ(errors.empty() ? 0 : errors.front(), 18456) << said;
        }
    }
}

// Sends a PRELOGIN asking for encryption, waits for its answer, then sends `bytes`: what comes back
// after the answer until the server closes ("<still open>" when it does not).
std::string afterPrelogin(int port, const std::string& bytes) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "<no connection>";
    timeval limit{10, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string hello = prelogin(1);
    [[maybe_unused]] ssize_t sent = ::send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
    char buffer[4096];
    std::string answer;
    ssize_t n = 0;
    // The answer is one packet; its length is in its header.
    const auto whole = [&] {
        return answer.size() >= 4 &&
               answer.size() >= static_cast<std::size_t>(static_cast<unsigned char>(answer[2]) << 8 | static_cast<unsigned char>(answer[3]));
    };
    while (!whole() &&
           (n = ::recv(s, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<std::size_t>(n));
    std::string rest;
    if (answeredEncryption(answer) != 1) {
        rest = "<no PRELOGIN answer>";
    } else {
        sent = ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0) rest.append(buffer, static_cast<std::size_t>(n));
        if (n < 0) rest = "<still open>";
    }
    ::close(s);
    return rest;
}

TEST_F(ServerTest, AClientThatBreaksTheHandshakeLosesItsConnectionOnly) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"garbage inside a PRELOGIN packet", std::string("\x12\x01\x00\x18\x00\x00\x01\x00", 8) + std::string(16, 'x')},
        {"a login in plain instead of the handshake", login7("sa", "")},
        {"half a handshake record, then silence", std::string("\x12\x00\x00\x0D\x00\x00\x01\x00\x16\x03\x01\x02\x00", 13)},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_EQ(afterPrelogin(port(), bytes), "") << what;
        Client c(port(), "sa", "", nullptr, ";Encryption=require");
        EXPECT_EQ(rowsOf(c.run("SELECT 42")), (Rows{{"42"}})) << "after " << what;
    }
    // A login sent with the PRELOGIN, before its answer, would be read in plain: the client is dropped
    // without any answer.
    EXPECT_EQ(exchange(port(), prelogin(1) + login7("sa", "")), "");
}

TEST_F(ServerTest, TheSelfSignedCertificateIsMadeOnceItsKeyKeptPrivate) {
    vopa::testing::TempDrive drive;
    std::string certificate, key;
    for (int start = 0; start < 2; ++start) {
        Server s;
        Client c(s.port(), "sa", "", nullptr, ";Encryption=require");
        EXPECT_TRUE(c.connected());
        const auto certificates = filesNamed(drive.root(), "server-certificate.pem");
        const auto keys = filesNamed(drive.root(), "server-key.pem");
        ASSERT_EQ(certificates.size(), 1u);
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(certificates[0].parent_path(), keys[0].parent_path());
        struct stat st {};
        ASSERT_EQ(::stat(keys[0].c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u) << "the key can be read by others";
        if (start == 0) {
            certificate = contentOf(certificates[0]);
            key = contentOf(keys[0]);
            EXPECT_NE(certificate.find("BEGIN CERTIFICATE"), std::string::npos);
        } else {
            EXPECT_EQ(contentOf(certificates[0]), certificate) << "made again on the second start";
            EXPECT_EQ(contentOf(keys[0]), key);
        }
    }
}

TEST_F(ServerTest, ACertificateOrKeyThatCannotBeUsedStopsTheServerAtStart) {
    const auto made = filesNamed(drive_->root(), "server-certificate.pem");
    ASSERT_EQ(made.size(), 1u);
    const std::filesystem::path certificate = made[0];
    const std::filesystem::path key = certificate.parent_path() / "server-key.pem";
    const std::filesystem::path notPem = drive_->root() / "not-a-certificate.pem";
    std::ofstream(notPem) << "nothing like a certificate\n";
    // Another key, not the certificate's.
    const std::filesystem::path otherKey = drive_->root() / "other-key.pem";
    EVP_PKEY* k = EVP_EC_gen("P-256");
    FILE* f = std::fopen(otherKey.c_str(), "w");
    ASSERT_TRUE(k && f && PEM_write_PrivateKey(f, k, nullptr, nullptr, 0, nullptr, nullptr) == 1);
    std::fclose(f);
    EVP_PKEY_free(k);
    struct Case {
        std::filesystem::path certificate, key;
        const char* says;
    };
    const std::vector<Case> cases = {
        {drive_->root() / "missing.pem", key, "cannot read the certificate"},
        {notPem, key, "cannot read the certificate"},
        {certificate, notPem, "cannot read the key"},
        {certificate, otherKey, "does not match the certificate"},
    };
    for (const Case& c : cases) {
        const std::string command = std::string(VOPA_SERVER_PATH) + " --port 0 --certificate '" + c.certificate.string() +
                                    "' --key '" + c.key.string() + "' 2>&1";
        FILE* out = ::popen(command.c_str(), "r");
        ASSERT_NE(out, nullptr);
        std::string said;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, out)) said += buffer;
        const int status = ::pclose(out);
        EXPECT_EQ(WEXITSTATUS(status), 1) << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_EQ(said.find("listening"), std::string::npos) << said;
    }
}

}  // namespace

// Listening for the other desks (all addresses), the server requires encryption: a client that will not
// encrypt is refused, one that does signs in.
TEST_F(ServerTest, ListeningBeyondLoopbackRequiresEncryption) {
    Server office("600", {"--listen", "0.0.0.0"});
    std::vector<int> errors;
    std::string said;
    Client plain(office.port(), "sa", "", &errors, ";Encryption=off", kSaPassword, &said);
    EXPECT_FALSE(plain.connected());
    EXPECT_NE(said.find("Encryption is required to connect to this server."), std::string::npos) << said;
    Client encrypted(office.port(), "sa", "", nullptr, ";Encryption=require");
    ASSERT_TRUE(encrypted.connected());
    EXPECT_EQ(rowsOf(encrypted.run("SELECT 1 AS uno")), (Rows{{"1"}}));
}

// What the server says when it cannot start, read from its standard error and exit status.
std::pair<int, std::string> runServer(const std::string& arguments) {
    const std::string command = std::string(VOPA_SERVER_PATH) + " --port 0 " + arguments + " 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return {-1, ""};
    std::string said;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out)) said += buffer;
    const int status = ::pclose(out);
    return {WEXITSTATUS(status), said};
}

TEST(ServerStart, SaGetsItsPasswordAtTheFirstStartAndKeepsIt) {
    vopa::testing::TempDrive drive;
    ::unsetenv("VOPA_SA_PASSWORD");
    const auto [status, said] = runServer("");
    EXPECT_EQ(status, 1) << said;
    for (const char* hint : {"VOPA_SA_PASSWORD", "--sa-password-file"})
        EXPECT_NE(said.find(hint), std::string::npos) << "says how to set it: " << said;

    ::setenv("VOPA_SA_PASSWORD", "Prima-1", 1);
    { Server first; }
    // A later start does not replace the password with the one it is given.
    ::setenv("VOPA_SA_PASSWORD", "Seconda-1", 1);
    Server later;
    std::vector<int> errors;
    Client withNew(later.port(), "sa", "", &errors, "", "Seconda-1");
    EXPECT_FALSE(withNew.connected());
    Client withFirst(later.port(), "sa", "", &errors, "", "Prima-1");
    EXPECT_TRUE(withFirst.connected());
    ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
}

TEST(ServerStart, TheSaPasswordMayComeFromAFile) {
    vopa::testing::TempDrive drive;
    ::unsetenv("VOPA_SA_PASSWORD");
    const std::string file = (drive.root() / "sa.txt").string();
    EXPECT_EQ(runServer("--sa-password-file " + file).first, 1) << "a file that is not there";
    drive.writeRaw("sa.txt", "Da-File-1\r\n");
    {
        Server server("600", {"--sa-password-file", file});
        Client c(server.port(), "sa", "", nullptr, "", "Da-File-1");
        EXPECT_EQ(rowsOf(c.run("SELECT 1")), (Rows{{"1"}}));
    }
    ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
}

// A datagram sent to 127.0.0.1:`port` and the answers that come back within half a second.
std::vector<std::string> askBrowser(int port, const std::string& datagram) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<std::string> answers;
    if (::sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        ::close(s);
        return {"<not sent>"};
    }
    timeval limit{0, 500000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[2048];
    for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
        answers.emplace_back(buffer, static_cast<std::size_t>(n));
    ::close(s);
    return answers;
}

std::string hostName() {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return host;
}

// A named instance has its own master: what is made through it is not in the default instance, and
// the Browser tells its port to whoever asks for it by name.
TEST(NamedInstance, TheServerWorksOnTheNamedInstanceAndItsBrowserGivesItsPort) {
    vopa::testing::TempDrive drive;
    ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
    Server named("600", {"--instance", "Contab", "--browser", "127.0.0.1:0"});
    ASSERT_NE(named.browserPort(), 0);
    const std::string text = "ServerName;" + hostName() +
                             ";InstanceName;CONTAB;IsClustered;No;Version;11.0.2100.0;tcp;" +
                             std::to_string(named.port()) + ";;";
    const std::string expected = std::string{'\x05', static_cast<char>(text.size()), '\0'} + text;
    ASSERT_LT(text.size(), 256u);
    struct Case {
        const char* what;
        std::string datagram;
        std::vector<std::string> answers;
    };
    const std::vector<Case> cases = {
        {"every instance", "\x03", {expected}},
        {"the instance, by name", "\x04" + std::string("contab") + '\0', {expected}},
        {"the default instance, served by no one here", std::string("\x04MSSQLSERVER\0", 13), {}},
        {"a broadcast request", "\x02", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(askBrowser(named.browserPort(), c.datagram), c.answers) << c.what;

    Client c(named.port(), "sa", "");
    ASSERT_TRUE(c.run("CREATE DATABASE SoloContab").errors.empty());
    const std::string listed = "SELECT name FROM master.dbo.sysdatabases WHERE name = 'SoloContab'";
    EXPECT_EQ(rowsOf(c.run(listed)), (Rows{{"SoloContab"}}));
    {
        Server byDefault;
        Client d(byDefault.port(), "sa", "");
        EXPECT_EQ(rowsOf(d.run(listed)), Rows{}) << "the default instance has a master of its own";
        EXPECT_TRUE(d.run("CREATE DATABASE SoloDefault").errors.empty());
    }
    // Started again, the named instance is found as it was left.
    EXPECT_EQ(named.stop(), 0);
    Server again("600", {"--instance", "CONTAB"});
    Client e(again.port(), "sa", "");
    EXPECT_EQ(rowsOf(e.run(listed)), (Rows{{"SoloContab"}}));
    EXPECT_EQ(rowsOf(e.run("SELECT name FROM master.dbo.sysdatabases WHERE name = 'SoloDefault'")), Rows{});
}

// FreeTDS asks the Browser on UDP port 1434 only: the server's own port is free and unknown to it.
// True when UDP port 1434 of 127.0.0.1 can be bound.
bool browserPortFree() {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(1434);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return free;
}

TEST(NamedInstance, FreeTdsReachesTheInstanceByNameThroughTheBrowser) {
    const char* const taken =
        "UDP port 1434 of 127.0.0.1 is taken (another SQL Server Browser?), and FreeTDS asks there only";
    if (!browserPortFree()) GTEST_SKIP() << taken;
    vopa::testing::TempDrive drive;
    ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
    std::unique_ptr<Server> named;
    try {
        named = std::make_unique<Server>("600", std::vector<std::string>{"--instance", "Sportello", "--browser"});
    } catch (const std::runtime_error& e) {
        // Another test may have taken the port since it was found free.
        if (!browserPortFree()) GTEST_SKIP() << taken;
        FAIL() << e.what();
    }
    Client c(std::string("Driver=") + kDriver + ";Server=127.0.0.1\\sportello;UID=sa;PWD=" + kSaPassword +
             ";TDS_Version=7.4;ClientCharset=UTF-8");
    EXPECT_EQ(rowsOf(c.run("SELECT N'trovata' AS a")), (Rows{{"trovata"}}));
}

TEST(ServerStart, ABadInstanceOrBrowserStopsTheServerAtStart) {
    vopa::testing::TempDrive drive;
    ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
    const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string takenPort = std::to_string(ntohs(address.sin_port));
    struct Case {
        std::string arguments;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"--instance 'con/tab'", 1, "is not a valid instance name"},
        {"--instance NomeDiIstanzaTroppoLungo", 1, "is not a valid instance name"},
        {"--browser 127.0.0.1:" + takenPort, 1, "cannot listen on 127.0.0.1 UDP port " + takenPort},
        {"--browser 70000", 2, "bad argument '70000' for --browser"},
        {"--browser 127.0.0.1:", 2, "bad argument"},
    };
    for (const Case& c : cases) {
        const auto [status, said] = runServer(c.arguments);
        EXPECT_EQ(status, c.status) << c.arguments << ": " << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.arguments << ": " << said;
        EXPECT_EQ(said.find("listening on 127.0.0.1:"), std::string::npos) << c.arguments << ": " << said;
    }
    ::close(taken);
}
