// Session behaviour that statements alone do not show: many databases, databases made again under
// another session, and the row operations behind recordsets. Hostile input: T-SQL text must never run
// as SQLite statements, and no file may be placed outside the drive root, whatever the statement names.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sqlite3.h>

#include "platform/engine/Server.h"
#include "platform/engine/storage/Sqlite.h"
#include "support/SessionQueries.h"
#include "support/TempDrive.h"

using namespace vopa::engine;
using vopa::Value;
using vopa::testing::errorOf;
using vopa::testing::on;
using vopa::testing::scalar;

namespace {

// Errors carry the server's severity and state as well as its number (clients and sqlcmd show them).
TEST(Session, ErrorsCarryTheServersSeverityAndState) {
    vopa::testing::TempDrive drive;
    Session s(on(""));
    s.execute("CREATE DATABASE Livelli");
    s.execute("USE Livelli CREATE TABLE t (id int NOT NULL PRIMARY KEY, codice int NULL, nome varchar(5) NOT NULL)");
    s.execute("CREATE UNIQUE INDEX ix_codice ON t (codice) INSERT INTO t VALUES (1, 1, 'a')");
    struct Case {
        const char* batch;
        int number, severity, state;
    };
    const Case cases[] = {
        {"INSERT INTO t VALUES (1, 2, 'b')", 2627, 14, 1},
        {"INSERT INTO t VALUES (2, 1, 'b')", 2601, 14, 1},
        {"INSERT INTO t VALUES (3, 3, NULL)", 515, 16, 2},
        {"INSERT INTO t (id, codice) SELECT 4, 4", 515, 16, 2},
        {"CREATE TABLE t (x int)", 2714, 16, 6},
        {"SELECT 1 AS x INTO t", 2714, 16, 6},
        {"SELECT * FROM nessuna", 208, 16, 1},
    };
    for (const Case& k : cases) {
        const std::optional<EngineError> error = vopa::testing::firstError(s, k.batch);
        ASSERT_TRUE(error) << k.batch;
        EXPECT_EQ(std::vector<int>({error->number(), error->severity(), error->state()}),
                  std::vector<int>({k.number, k.severity, k.state}))
            << k.batch << ": " << error->what();
    }
}

TEST(Session, UsesMoreDatabasesThanSqliteCanAttachAtOnce) {
    vopa::testing::TempDrive drive;
    Session s(on(""));
    for (int i = 1; i <= 12; ++i) {
        const std::string db = "Db" + std::to_string(i);
        s.execute("CREATE DATABASE " + db);
        s.execute("CREATE TABLE " + db + ".dbo.t (v int NULL)");
        s.execute("INSERT INTO " + db + ".dbo.t VALUES (" + std::to_string(i) + ")");
    }
    int sum = 0;
    for (int round = 0; round < 2; ++round)
        for (int i = 1; i <= 12; ++i) sum += std::stoi(scalar(s, "SELECT v FROM Db" + std::to_string(i) + ".dbo.t"));
    EXPECT_EQ(sum, 2 * 78);
    // One statement over two databases after the others were used.
    EXPECT_EQ(scalar(s, "SELECT a.v + b.v FROM Db1.dbo.t a CROSS JOIN Db12.dbo.t b"), "13");
    std::string tooMany = "SELECT 1 FROM Db1.dbo.t";
    for (int i = 2; i <= 10; ++i) tooMany += " CROSS JOIN Db" + std::to_string(i) + ".dbo.t t" + std::to_string(i);
    EXPECT_EQ(errorOf(s, tooMany), err::NotSupported);
}

TEST(Session, SeesADatabaseDroppedAndCreatedAgainByAnotherSession) {
    vopa::testing::TempDrive drive;
    Session builder(on(""));
    Session reader(on(""));
    builder.execute("CREATE DATABASE VoPaDatiTraining");
    builder.execute("CREATE TABLE VoPaDatiTraining.dbo.t (v int NULL)");
    builder.execute("INSERT INTO VoPaDatiTraining.dbo.t VALUES (1)");
    EXPECT_EQ(scalar(reader, "SELECT count(*) FROM VoPaDatiTraining.dbo.t"), "1");

    builder.execute("DROP DATABASE VoPaDatiTraining");
    EXPECT_EQ(errorOf(reader, "SELECT count(*) FROM VoPaDatiTraining.dbo.t"), err::DatabaseMissing);
    builder.execute("CREATE DATABASE VoPaDatiTraining");
    builder.execute("CREATE TABLE VoPaDatiTraining.dbo.t (v int NULL, w int NULL)");
    EXPECT_EQ(scalar(reader, "SELECT count(*) FROM VoPaDatiTraining.dbo.t"), "0");
    EXPECT_EQ(errorOf(builder, "CREATE VIEW VoPaDatiTraining.dbo.vista AS SELECT v FROM t"), 166);
    builder.execute("USE VoPaDatiTraining");
    builder.execute("CREATE VIEW vista AS SELECT v FROM t");
    builder.execute("USE master");
    EXPECT_EQ(scalar(reader, "SELECT count(*) FROM VoPaDatiTraining.dbo.vista"), "0");

    Session onIt(on("VoPaDatiTraining"));
    EXPECT_EQ(errorOf(onIt, "DROP DATABASE VoPaDatiTraining"), 3702) << "in use by the session itself";
}

TEST(Session, RowOperationsFollowTheColumnRules) {
    vopa::testing::TempDrive drive;
    Session s(on(""));
    s.execute("CREATE DATABASE R");
    s.execute("CREATE TABLE R.dbo.t (id int NOT NULL IDENTITY(5,5), nome nvarchar(4) NOT NULL, q money NOT NULL DEFAULT (1))");
    std::int64_t row = s.insertRow("R", "t", {{"nome", Value::string("a")}});
    std::optional<ResultSet> rs = s.execute("SELECT id, nome, q FROM R.dbo.t");
    EXPECT_EQ(rs->rows[0][0], Value::longInt(5));
    EXPECT_EQ(rs->rows[0][2], Value::currency({10000}));
    auto numberOf = [](const std::function<void()>& action) {
        try {
            action();
        } catch (const EngineError& e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(numberOf([&] { s.updateRow("R", "t", row, {{"id", Value::longInt(9)}}); }), 8102);
    EXPECT_EQ(numberOf([&] { s.updateRow("R", "t", row, {{"nome", Value::null()}}); }), err::NotNullViolation);
    EXPECT_EQ(numberOf([&] { s.insertRow("R", "t", {{"nome", Value::null()}}); }), err::NotNullViolation);
    EXPECT_EQ(numberOf([&] { s.updateRow("R", "t", row, {{"nome", Value::string("troppo")}}); }), err::StringTruncation);
    EXPECT_EQ(numberOf([&] { s.insertRow("R", "t", {{"id", Value::longInt(1)}, {"nome", Value::string("b")}}); }),
              err::IdentityInsertOff);
    EXPECT_EQ(numberOf([&] { s.updateRow("R", "t", row, {{"manca", Value::longInt(1)}}); }), err::InvalidColumn);
    s.updateRow("R", "t", row, {{"q", Value::dbl(2.5)}});
    EXPECT_EQ(scalar(s, "SELECT q FROM R.dbo.t"), "2.5");
    s.deleteRow("R", "t", row);
    EXPECT_EQ(scalar(s, "SELECT count(*) FROM R.dbo.t"), "0");
    EXPECT_EQ(numberOf([&] { s.updateRow("R", "t", row, {{"q", Value::dbl(1)}}); }), 16934) << "a row deleted meanwhile";
}

// The data file of a database made by a session that is gone again.
std::filesystem::path databaseFile(const std::string& name) {
    Session s(on(""));
    s.execute("CREATE DATABASE " + name);
    return s.instance().dataFolder / (name + ".mdf");
}

// A data file cut to nothing is no database (5172); one of other bytes is a damaged database (824).
TEST(Session, ADataFileThatIsNoDatabaseIsReported) {
    vopa::testing::TempDrive drive;
    const std::filesystem::path empty = databaseFile("Vuoto"), broken = databaseFile("Rotto");
    ASSERT_TRUE(std::filesystem::exists(empty) && std::filesystem::exists(broken));
    std::filesystem::resize_file(empty, 0);
    std::filesystem::remove(broken.string() + "-wal");
    std::filesystem::remove(broken.string() + "-shm");
    std::ofstream(broken, std::ios::binary | std::ios::trunc) << std::string(8192, 'x');
    Session s(on(""));
    EXPECT_EQ(errorOf(s, "SELECT COUNT(*) FROM Vuoto.dbo.sysobjects"), 5172);
    EXPECT_EQ(errorOf(s, "USE Vuoto"), 5172);
    EXPECT_EQ(errorOf(s, "SELECT COUNT(*) FROM Rotto.dbo.sysobjects"), 824);
}


// The program keeps its company databases in C:\Vopa\Sedi, outside the instance's folder: a master
// that is lost or emptied must still stop the instance, naming them, rather than start it empty. An
// instance made before the engine kept its record of databases learns them at its next start. Once the
// administrator has moved the files away the instance starts, and a file is registered again by attaching it.
TEST(Session, ALostMasterNamesItsDatabasesAndTheirFilesCanBeAttachedAgain) {
    struct Case {
        const char* name;
        bool emptied;        // master.mdf cut to nothing rather than deleted
        bool olderInstance;  // no record beside master until the instance starts once more
    };
    for (const Case& c : {Case{"deleted", false, false}, Case{"emptied", true, false}, Case{"older instance", true, true}}) {
        SCOPED_TRACE(c.name);
        vopa::testing::TempDrive drive;
        std::filesystem::create_directories(drive.root() / "Vopa/Sedi");
        InstanceLocation instance;
        {
            Session s(on(""));
            instance = s.instance();
            s.execute("CREATE DATABASE Conti");  // in the instance's own folder
            s.execute("CREATE TABLE Conti.dbo.t (v int NULL)");
            s.execute("INSERT INTO Conti.dbo.t VALUES (42)");
            s.execute("CREATE DATABASE VoPaDatiAquilone ON (NAME = N'Aquilone_dat', FILENAME = N'C:\\Vopa\\Sedi\\VoPaDatiAquilone.mdf') "
                      "LOG ON (NAME = N'Aquilone_log', FILENAME = N'C:\\Vopa\\Sedi\\VoPaDatiAquilone.ldf')");
            s.execute("CREATE DATABASE Chiusa ON (NAME = N'Chiusa', FILENAME = N'C:\\Vopa\\Sedi\\Chiusa.mdf') "
                      "LOG ON (NAME = N'Chiusa_log', FILENAME = N'C:\\Vopa\\Sedi\\Chiusa.ldf')");
            s.execute("DROP DATABASE Chiusa");
        }
        if (c.olderInstance) {
            ASSERT_TRUE(std::filesystem::remove(instance.databaseRecord));
            Session restart(on(""));
        }
        for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(instance.masterFile.string() + suffix);
        if (c.emptied)
            std::ofstream(instance.masterFile, std::ios::binary | std::ios::trunc).close();
        else
            std::filesystem::remove(instance.masterFile);
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                Session lost(on(""));
                ADD_FAILURE() << "an instance whose master was lost started";
            } catch (const EngineError& e) {
                const std::string message = e.what();
                EXPECT_EQ(e.number(), 17113);
                EXPECT_NE(message.find("master.mdf"), std::string::npos) << message;
                EXPECT_NE(message.find("Conti.mdf"), std::string::npos) << message;
                EXPECT_NE(message.find("VoPaDatiAquilone (C:\\Vopa\\Sedi\\VoPaDatiAquilone.mdf)"), std::string::npos) << message;
                EXPECT_EQ(message.find("Chiusa"), std::string::npos) << message;
            }
        }
        // Once the files are moved away nothing is lost by starting with a new master.
        std::filesystem::rename(drive.root() / "Vopa/Sedi/VoPaDatiAquilone.mdf", drive.root() / "Aquilone.mdf");
        std::filesystem::create_directories(drive.root() / "salvati");
        std::filesystem::rename(instance.dataFolder / "Conti.mdf", drive.root() / "salvati/Conti.mdf");
        Session s(on(""));
        EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM master.dbo.sysdatabases"), "1");
        EXPECT_EQ(errorOf(s, "CREATE DATABASE Ritrovato ON (NAME = Ritrovato, FILENAME = 'C:\\salvati\\Conti.mdf') FOR ATTACH"), 0);
        EXPECT_EQ(scalar(s, "SELECT v FROM Ritrovato.dbo.t"), "42");
        EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM master.dbo.sysdatabases WHERE name = 'Ritrovato'"), "1");
    }
}

TEST(Session, CreateAndDropDatabaseRecoverFromAnInterruptedAttempt) {
    vopa::testing::TempDrive drive;
    Session s(on(""));
    const std::filesystem::path folder = s.instance().dataFolder;
    // A scratch file left by a process killed while it created the database.
    { std::ofstream(folder / "Nuovo.mdf.new") << "partial"; }
    EXPECT_EQ(errorOf(s, "CREATE DATABASE Nuovo"), 0);
    EXPECT_FALSE(std::filesystem::exists(folder / "Nuovo.mdf.new"));
    EXPECT_EQ(errorOf(s, "CREATE TABLE Nuovo.dbo.t (v int)"), 0);
    // A registered database whose files are gone (a drop killed half-way) can be dropped and made again.
    EXPECT_EQ(errorOf(s, "CREATE DATABASE Perso"), 0);
    std::filesystem::remove(folder / "Perso.mdf");
    EXPECT_EQ(errorOf(s, "DROP DATABASE Perso"), 0);
    EXPECT_EQ(errorOf(s, "CREATE DATABASE Perso"), 0);
}


int reversedOrder(void*, int n1, const void* p1, int n2, const void* p2) {
    const std::string a(static_cast<const char*>(p1), static_cast<std::size_t>(n1));
    const std::string b(static_cast<const char*>(p2), static_cast<std::size_t>(n2));
    return b.compare(a);
}

// A database whose text indexes were written under another order of the collation (an older version
// of the engine) is re-indexed when it is attached, so that lookups through its keys find their rows.
TEST(Session, IndexesOfAnOlderCollationOrderAreRebuilt) {
    vopa::testing::TempDrive drive;
    std::filesystem::path file;
    {
        Session s(on(""));
        s.execute("CREATE DATABASE Vecchio");
        s.execute("CREATE TABLE Vecchio.dbo.k (t nvarchar(20) NOT NULL PRIMARY KEY)");
        for (const char* v : {"Zeta", "abaco", "Bianco", "cassa", "Dare", "erario", "Fondo"})
            s.execute(std::string("INSERT INTO Vecchio.dbo.k VALUES (N'") + v + "')");
        file = s.instance().dataFolder / "Vecchio.mdf";
    }
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
        sqlite3_create_collation(raw, "VOPA_CI", SQLITE_UTF8, nullptr, reversedOrder);
        ASSERT_EQ(sqlite3_exec(raw, "REINDEX VOPA_CI; DELETE FROM __vopa_info WHERE key = 'collation_order'", nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
    }
    Session s(on("Vecchio"));
    for (const char* v : {"ZETA", "Abaco", "bianco", "Cassa", "dare", "Erario", "fondo"})
        EXPECT_EQ(scalar(s, std::string("SELECT COUNT(*) FROM k WHERE t = N'") + v + "'"), "1") << v;
    EXPECT_EQ(errorOf(s, "INSERT INTO k VALUES (N'CASSA')"), 2627);
}

bool anyFileNamed(const std::filesystem::path& folder, const std::string& name) {
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() == name) return true;
    return false;
}

TEST(Injection, TextInAStatementNeverRunsAsSqlite) {
    vopa::testing::TempDrive drive;
    Session s(on(""));
    s.execute("CREATE DATABASE Note");
    s.execute("USE Note");
    s.execute("CREATE TABLE note (a int, b nvarchar(1000))");
    const std::string attack =
        "INSERT note (a, b) VALUES (-'-1', '\n1), 0), 2); RELEASE vopa_statement; ATTACH DATABASE ''elsewhere.db'' AS "
        "pw; CREATE TABLE pw.owned (x); DETACH pw; SAVEPOINT vopa_statement; --')";
    EXPECT_EQ(errorOf(s, attack), 8117);
    EXPECT_FALSE(anyFileNamed(drive.root(), "elsewhere.db"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "elsewhere.db"));
    EXPECT_EQ(s.execute("SELECT COUNT(*) FROM note")->rows[0][0].toString(), "0");
    // The same text as data is stored as it was given.
    s.execute("INSERT note (a, b) VALUES (1, '\n1), 0); ATTACH DATABASE ''x.db'' AS pw; --')");
    EXPECT_EQ(s.execute("SELECT b FROM note")->rows[0][0].toString(), "\n1), 0); ATTACH DATABASE 'x.db' AS pw; --");
}

TEST(Injection, StorageRunsOneStatementAndRefusesWhatTheEngineNeverSends) {
    vopa::testing::TempDrive drive;
    const std::filesystem::path file = drive.root() / "other.db";
    storage::Connection db(":memory:", true);
    const char* refused[] = {
        "SELECT 1; SELECT 2",
        "SELECT 1; ATTACH DATABASE 'other.db' AS o",
        "ATTACH DATABASE 'other.db' AS o",
        "DETACH DATABASE main",
        "PRAGMA writable_schema = 1",
        "SELECT load_extension('x')",
        "SELECT char(65)",
    };
    for (const char* sql : refused) {
        EXPECT_THROW(db.exec(sql), EngineError) << sql;
        EXPECT_THROW(db.prepare(sql), EngineError) << sql;
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "other.db"));
    // The engine's own attachment of a database it has resolved works.
    storage::Statement attach = db.preparePrivileged("ATTACH DATABASE ?1 AS o");
    attach.bind(1, file.string()).run();
    EXPECT_TRUE(std::filesystem::exists(file));
    // Trailing blanks are not a second statement; a NUL inside a literal does not end the text.
    db.exec("SELECT 1;  \r\n");
    const std::string withNul("a\0b'c", 5);
    storage::Statement q = db.prepare("SELECT " + storage::quoteLiteral(withNul) + ", 2");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.columnText(0), withNul);
    EXPECT_EQ(q.columnInt(1), 2);
}

TEST(DriveRoot, DatabaseFilesStayBelowTheDrive) {
    vopa::testing::TempDrive drive;
    Session s(on(""));
    const InstanceLocation instance = locateInstance("(local)");
    const std::filesystem::path outside = drive.root().parent_path();

    // A database name is a name: it never places a file by a path.
    EXPECT_EQ(errorOf(s, "CREATE DATABASE [C:\\..\\escaped]"), 5105);
    EXPECT_EQ(errorOf(s, "CREATE DATABASE [..\\..\\escaped]"), 5105);
    EXPECT_FALSE(anyFileNamed(drive.root(), "escaped.mdf"));
    EXPECT_FALSE(std::filesystem::exists(outside / "escaped.mdf"));

    // ".." stops at the root; a relative file name is relative to the instance's data folder.
    EXPECT_EQ(errorOf(s, "CREATE DATABASE A ON (NAME = A, FILENAME = N'C:\\..\\..\\..\\a.mdf')"), 0);
    EXPECT_TRUE(std::filesystem::exists(drive.root() / "a.mdf"));
    EXPECT_FALSE(std::filesystem::exists(outside / "a.mdf"));
    std::filesystem::create_directories(instance.dataFolder / "sub");
    EXPECT_EQ(errorOf(s, "CREATE DATABASE B ON (NAME = B, FILENAME = N'sub\\b.mdf')"), 0);
    EXPECT_TRUE(std::filesystem::exists(instance.dataFolder / "sub" / "b.mdf"));

    // An instance name is one word, never a path.
    EXPECT_THROW(createNamedInstance("../../x"), EngineError);
    EXPECT_THROW(createNamedInstance("a\\b"), EngineError);
    EXPECT_THROW(locateInstance("(local)\\..\\.."), EngineError);
    EXPECT_FALSE(anyFileNamed(outside, "MSSQL.X"));
}

}  // namespace
