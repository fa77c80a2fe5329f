// vopa-server as a client sees it: the program started on a fresh drive C: with a free port, reached
// through the FreeTDS ODBC driver (and a raw socket for what no driver sends).

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
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
#include <string>
#include <thread>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDrive.h"

namespace {

const char* const kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
// sa's password, given to the server at its first start on each fresh drive.
const char* const kSaPassword = "segreta";

using Rows = std::vector<std::vector<std::string>>;

// What a batch gives back: the rows of each result set, and the native numbers of its errors.
struct Outcome {
    std::vector<Rows> results;
    std::vector<int> errors;
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

// A connection through the FreeTDS ODBC driver. A refused login throws, unless `errors` is given to
// take the native numbers of its errors (and `messages` their texts).
class Client {
public:
    Client(int port, const std::string& user, const std::string& database, std::vector<int>* errors = nullptr,
           const std::string& more = "", const std::string& password = kSaPassword, std::string* messages = nullptr) {
        std::string text = std::string("Driver=") + kDriver + ";Server=127.0.0.1;Port=" + std::to_string(port) +
                           ";UID=" + user + ";PWD=" + password + ";ClientCharset=UTF-8";
        if (!database.empty()) text += ";Database=" + database;
        text += more;
        if (more.find("TDS_Version") == std::string::npos) text += ";TDS_Version=7.4";
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        connected_ = SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                                    nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
        std::string said;
        const std::vector<int> numbers = nativeErrors(SQL_HANDLE_DBC, dbc_, &said);
        if (messages) *messages = said;
        if (errors) *errors = numbers;
        else if (!connected_) throw std::runtime_error("cannot connect: " + said);
    }
    ~Client() {
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    bool connected() const { return connected_; }
    SQLHDBC dbc() const { return dbc_; }

    Outcome run(const std::string& sql) {
        SQLHSTMT st;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
        Outcome o;
        SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
        for (; rc != SQL_NO_DATA; rc = SQLMoreResults(st)) {
            for (int n : nativeErrors(SQL_HANDLE_STMT, st)) o.errors.push_back(n);
            SQLSMALLINT columns = 0;
            if (!SQL_SUCCEEDED(rc) || !SQL_SUCCEEDED(SQLNumResultCols(st, &columns)) || columns == 0) continue;
            Rows& rows = o.results.emplace_back();
            while (SQL_SUCCEEDED(SQLFetch(st))) {
                std::vector<std::string>& row = rows.emplace_back();
                for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                    char buffer[512];
                    SQLLEN length = 0;
                    SQLGetData(st, c, SQL_C_CHAR, buffer, sizeof buffer, &length);
                    row.push_back(length == SQL_NULL_DATA ? "NULL" : std::string(buffer));
                }
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        return o;
    }

private:
    SQLHENV env_ = SQL_NULL_HANDLE;
    SQLHDBC dbc_ = SQL_NULL_HANDLE;
    bool connected_ = false;
};

Rows rowsOf(const Outcome& o) { return o.results.empty() ? Rows{{"<no rows>"}} : o.results.front(); }

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
        const char* database;
        std::vector<int> errors;
        std::string says;  // the last message, nothing after it
    };
    const Case refused[] = {
        {"a wrong password", "mario", "Pw-Mario2", "", {18456}, "Login failed for user 'mario'."},
        {"an unknown login", "nessuno", "Pw-Mario1", "", {18456}, "Login failed for user 'nessuno'."},
        {"a disabled login", "spento", "Pw-Spento1", "", {18456}, "Login failed for user 'spento'."},
        {"sa with another's password", "sa", "Pw-Mario1", "", {18456}, "Login failed for user 'sa'."},
        {"a database that does not exist", "sa", kSaPassword, "Inesistente", {4060, 18456},
         "Cannot open database \"Inesistente\" requested by the login. The login failed."},
    };
    for (const Case& k : refused) {
        std::vector<int> errors;
        std::string messages;
        Client c(port(), k.user, k.database, &errors, "", k.password, &messages);
        EXPECT_FALSE(c.connected()) << k.what;
        // The driver adds its own "connection failed" (0 or 20002) after the server's errors.
        std::erase_if(errors, [](int n) { return n == 0 || n == 20002; });
        EXPECT_EQ(errors, k.errors) << k.what;
        EXPECT_NE(messages.find(k.says + "\n"), std::string::npos) << k.what << ": " << messages;
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
                if (!o.errors.empty() || rowsOf(o) != Rows{{std::to_string(n + 1)}}) ++failures[static_cast<std::size_t>(k)];
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

// A raw TCP connection to the server: `bytes` in (with `afterPrelogin`, once a PRELOGIN asking for
// encryption has had its answer), whatever comes back until the server closes ("<still open>" when it
// does not), or with `firstAnswer` the first bytes that come back.
std::string exchange(int port, const std::string& bytes, bool firstAnswer = false, bool afterPrelogin = false) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "<no connection>";
    timeval limit{10, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[4096];
    ssize_t n = 0;
    const auto send = [&](const std::string& b) { return ::send(s, b.data(), b.size(), MSG_NOSIGNAL); };
    const auto receive = [&](bool once) {
        std::string got;
        while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0 && (got.append(buffer, static_cast<std::size_t>(n)), !once)) {}
        return got;
    };
    std::string answer = "<no PRELOGIN answer>";
    if (!afterPrelogin || (send(prelogin(1)) > 0 && answeredEncryption(receive(true)) == 1)) {
        send(bytes);
        answer = receive(firstAnswer);
        if (n < 0) answer = "<still open>";
    }
    ::close(s);
    return answer;
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

// Each malformed packet the codec refuses (TdsMalformed) closes its connection the same way: one for the
// refusal, one for a login cut short, one for a packet that never ends.
TEST_F(ServerTest, ABadPacketClosesThatConnectionAndTheServerGoesOn) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"a header shorter than itself", std::string("\x12\x01\x00\x04\x00\x00\x00\x00", 8)},
        {"a login before any PRELOGIN, cut short", std::string("\x10\x01\x00\x10\x00\x00\x01\x00\x05\x00\x00\x00\x00\x00\x00\x00", 16)},
        {"half a packet, then silence", std::string("\x12\x01\x00\x40\x00\x00", 6)},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_EQ(exchange(port(), bytes), "") << what;
        Client c(port(), "sa", "");
        EXPECT_EQ(rowsOf(c.run("SELECT 42")), (Rows{{"42"}})) << "after " << what;
    }
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

// A server listening for the other desks (all addresses) requires encryption as one told to does.
TEST_F(ServerTest, ClientsEncryptAsTheyAskAndAServerThatRequiresItRefusesThoseThatWillNot) {
    Server required("600", {"--encryption", "required"});
    Server office("600", {"--listen", "0.0.0.0"});
    const int ports[] = {port(), required.port(), office.port()};
    const char* const servers[] = {"", " on a server that requires it", " on a server listening on every address"};
    struct Case {
        const char* keyword;  // the driver's Encryption=
        char asked;           // what it sends in the PRELOGIN
        int server;           // 0 this test's, 1 required, 2 office
        int answered;         // 0 the login alone encrypted, 1 or 3 the whole connection, 2 none
        bool connects;
    };
    const std::vector<Case> cases = {
        {"require", 1, 0, 1, true}, {"request", 0, 0, 0, true}, {"off", 2, 0, 2, true},
        {"require", 1, 1, 1, true}, {"request", 0, 1, 3, true}, {"off", 2, 1, 2, false},
        {"require", 1, 2, 1, true}, {"off", 2, 2, 2, false},
    };
    for (const Case& k : cases) {
        const int at = ports[k.server];
        const std::string what = k.keyword + std::string(servers[k.server]);
        EXPECT_EQ(answeredEncryption(exchange(at, prelogin(k.asked), true)), k.answered) << what;
        std::vector<int> errors;
        std::string said;
        Client c(at, "sa", "", &errors, std::string(";Encryption=") + k.keyword, kSaPassword, &said);
        EXPECT_EQ(c.connected(), k.connects) << what << ": " << said;
        if (k.connects) {
            // A batch of several packets and TLS records, which reach the server in pieces.
            const std::string longText(9000, 'c');
            EXPECT_EQ(rowsOf(c.run("SELECT N'" + longText + "' AS a, 42 AS b")), (Rows{{longText.substr(0, 511), "42"}})) << what;
        } else {
            EXPECT_NE(said.find("Encryption is required to connect to this server."), std::string::npos) << said;
            EXPECT_EQ(errors.empty() ? 0 : errors.front(), 18456) << said;
        }
    }
}

TEST_F(ServerTest, AClientThatBreaksTheHandshakeLosesItsConnectionOnly) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"garbage inside a PRELOGIN packet", std::string("\x12\x01\x00\x18\x00\x00\x01\x00", 8) + std::string(16, 'x')},
        {"a login in plain instead of the handshake", login7("sa", "")},
        {"half a handshake record, then silence", std::string("\x12\x00\x00\x0D\x00\x00\x01\x00\x16\x03\x01\x02\x00", 13)},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_EQ(exchange(port(), bytes, false, true), "") << what;
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

// What the server says when it cannot start, read from its standard error and exit status (one that
// starts after all is stopped after ten seconds: status 124).
std::pair<int, std::string> runServer(const std::string& arguments) {
    const std::string command = "timeout 10 " + std::string(VOPA_SERVER_PATH) + " --port 0 " + arguments + " 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return {-1, ""};
    std::string said;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out)) said += buffer;
    const int status = ::pclose(out);
    return {WEXITSTATUS(status), said};
}

TEST_F(ServerTest, ABadCertificateInstanceOrBrowserStopsTheServerAtStart) {
    const auto made = filesNamed(drive_->root(), "server-certificate.pem");
    ASSERT_EQ(made.size(), 1u);
    const std::string certificate = made[0].string();
    const std::string key = (made[0].parent_path() / "server-key.pem").string();
    const std::string notPem = (drive_->root() / "not-a-certificate.pem").string();
    std::ofstream(notPem) << "nothing like a certificate\n";
    // Another key, not the certificate's.
    const std::string otherKey = (drive_->root() / "other-key.pem").string();
    EVP_PKEY* k = EVP_EC_gen("P-256");
    FILE* f = std::fopen(otherKey.c_str(), "w");
    ASSERT_TRUE(k && f && PEM_write_PrivateKey(f, k, nullptr, nullptr, 0, nullptr, nullptr) == 1);
    std::fclose(f);
    EVP_PKEY_free(k);
    // A UDP port already taken by a socket that would share it: the Browser must not.
    const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(taken, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
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
    const auto pair = [](const std::string& c, const std::string& pem) { return "--certificate '" + c + "' --key '" + pem + "'"; };
    const std::vector<Case> cases = {
        {pair((drive_->root() / "missing.pem").string(), key), 1, "cannot read the certificate"},
        {pair(notPem, key), 1, "cannot read the certificate"},
        {pair(certificate, notPem), 1, "cannot read the key"},
        {pair(certificate, otherKey), 1, "does not match the certificate"},
        {"--instance 'con/tab'", 1, "is not a valid instance name"},
        {"--instance NomeDiIstanzaTroppoLungo", 1, "is not a valid instance name"},
        {"--browser 127.0.0.1:" + takenPort, 1, "cannot listen on 127.0.0.1 UDP port " + takenPort},
        {"--browser 70000", 2, "bad argument '70000' for --browser"},
    };
    for (const Case& c : cases) {
        const auto [status, said] = runServer(c.arguments);
        EXPECT_EQ(status, c.status) << c.arguments << ": " << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.arguments << ": " << said;
        EXPECT_EQ(said.find("listening on 127.0.0.1:"), std::string::npos) << c.arguments << ": " << said;
    }
    ::close(taken);
}

TEST(ServerStart, SaGetsItsPasswordAtTheFirstStartAndKeepsIt) {
    vopa::testing::TempDrive drive;
    ::unsetenv("VOPA_SA_PASSWORD");
    const auto [status, said] = runServer("");
    EXPECT_EQ(status, 1) << said;
    for (const char* hint : {"VOPA_SA_PASSWORD", "--sa-password-file"})
        EXPECT_NE(said.find(hint), std::string::npos) << "says how to set it: " << said;
    const std::string file = (drive.root() / "sa.txt").string();
    EXPECT_EQ(runServer("--sa-password-file " + file).first, 1) << "a file that is not there";
    drive.writeRaw("sa.txt", "Da-File-1\r\n");
    { Server first("600", {"--sa-password-file", file}); }
    // A later start does not replace the password with the one it is given.
    ::setenv("VOPA_SA_PASSWORD", "Seconda-1", 1);
    Server later;
    std::vector<int> errors;
    Client withNew(later.port(), "sa", "", &errors, "", "Seconda-1");
    EXPECT_FALSE(withNew.connected());
    Client withFirst(later.port(), "sa", "", &errors, "", "Da-File-1");
    EXPECT_TRUE(withFirst.connected());
    ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
}

// A datagram sent to `to`:`port` and the answers that come back within half a second.
std::vector<std::string> askBrowser(const char* to, int port, const std::string& datagram) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, to, &address.sin_addr);
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

// A named instance has its own master: what is made through it is not in the default instance, and
// the Browser tells its port to whoever asks this machine for it, once per request.
TEST(NamedInstance, TheServerWorksOnTheNamedInstanceAndItsBrowserGivesItsPort) {
    vopa::testing::TempDrive drive;
    ::setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
    Server named("600", {"--instance", "Contab", "--browser", "0.0.0.0:0"});
    ASSERT_NE(named.browserPort(), 0);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string text = "ServerName;" + std::string(host) + ";InstanceName;CONTAB;IsClustered;No;Version;11.0.2100.0;tcp;" +
                             std::to_string(named.port()) + ";;";
    const std::string expected = std::string{'\x05', static_cast<char>(text.size()), '\0'} + text;
    ASSERT_LT(text.size(), 256u);
    struct Case {
        const char* what;
        const char* to;
        std::string datagram;
        std::vector<std::string> answers;
    };
    const std::vector<Case> cases = {
        {"every instance", "127.0.0.1", "\x03", {expected}},
        {"the instance, by name", "127.0.0.1", "\x04" + std::string("contab") + '\0', {expected}},
        {"the default instance, served by no one here", "127.0.0.1", std::string("\x04MSSQLSERVER\0", 13), {}},
        {"a broadcast request", "127.0.0.1", "\x02", {}},
        {"a request longer than any", "127.0.0.1", "\x03" + std::string(5000, '\x03'), {}},
        // Loopback's broadcast address reaches a socket bound to every address on Linux.
        {"every instance, sent to a broadcast address", "127.255.255.255", "\x03", {}},
        {"every instance, after all that", "127.0.0.1", "\x03", {expected}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> answers = askBrowser(c.to, named.browserPort(), c.datagram);
        if (answers == std::vector<std::string>{"<not sent>"} && std::string(c.to) != "127.0.0.1") continue;  // no loopback broadcast here
        EXPECT_EQ(answers, c.answers) << c.what;
    }

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

}  // namespace
