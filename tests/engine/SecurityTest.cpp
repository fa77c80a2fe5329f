// Hostile input: T-SQL text must never run as SQLite statements, and no file may be placed outside the
// drive root, whatever the statement names.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/engine/EngineError.h"
#include "platform/engine/Server.h"
#include "platform/engine/storage/Sqlite.h"
#include "support/SessionQueries.h"
#include "support/TempDrive.h"

namespace fs = std::filesystem;
using namespace vopa::engine;
using vopa::testing::errorOf;
using vopa::testing::on;

namespace {

bool anyFileNamed(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
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
    EXPECT_FALSE(fs::exists(fs::current_path() / "elsewhere.db"));
    EXPECT_EQ(s.execute("SELECT COUNT(*) FROM note")->rows[0][0].toString(), "0");
    // The same text as data is stored as it was given.
    s.execute("INSERT note (a, b) VALUES (1, '\n1), 0); ATTACH DATABASE ''x.db'' AS pw; --')");
    EXPECT_EQ(s.execute("SELECT b FROM note")->rows[0][0].toString(), "\n1), 0); ATTACH DATABASE 'x.db' AS pw; --");
}

TEST(Injection, StorageRunsOneStatementAndRefusesWhatTheEngineNeverSends) {
    vopa::testing::TempDrive drive;
    const fs::path file = drive.root() / "other.db";
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
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(fs::current_path() / "other.db"));
    // The engine's own attachment of a database it has resolved works.
    storage::Statement attach = db.preparePrivileged("ATTACH DATABASE ?1 AS o");
    attach.bind(1, file.string()).run();
    EXPECT_TRUE(fs::exists(file));
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
    const fs::path outside = drive.root().parent_path();

    // A database name is a name: it never places a file by a path.
    EXPECT_EQ(errorOf(s, "CREATE DATABASE [C:\\..\\escaped]"), 5105);
    EXPECT_EQ(errorOf(s, "CREATE DATABASE [..\\..\\escaped]"), 5105);
    EXPECT_FALSE(anyFileNamed(drive.root(), "escaped.mdf"));
    EXPECT_FALSE(fs::exists(outside / "escaped.mdf"));

    // ".." stops at the root; a relative file name is relative to the instance's data folder.
    EXPECT_EQ(errorOf(s, "CREATE DATABASE A ON (NAME = A, FILENAME = N'C:\\..\\..\\..\\a.mdf')"), 0);
    EXPECT_TRUE(fs::exists(drive.root() / "a.mdf"));
    EXPECT_FALSE(fs::exists(outside / "a.mdf"));
    fs::create_directories(instance.dataFolder / "sub");
    EXPECT_EQ(errorOf(s, "CREATE DATABASE B ON (NAME = B, FILENAME = N'sub\\b.mdf')"), 0);
    EXPECT_TRUE(fs::exists(instance.dataFolder / "sub" / "b.mdf"));

    // An instance name is one word, never a path.
    EXPECT_THROW(createNamedInstance("../../x"), EngineError);
    EXPECT_THROW(createNamedInstance("a\\b"), EngineError);
    EXPECT_THROW(locateInstance("(local)\\..\\.."), EngineError);
    EXPECT_FALSE(anyFileNamed(outside, "MSSQL.X"));
}

}  // namespace
