// Several processes and sessions writing one database at once: identity values are handed out once,
// writers wait for each other as the lock time-out says, a deadlock ends one transaction with 1205, and
// a database another session uses cannot be dropped. Committed changes survive a process that is killed,
// and a full disk fails only the statement that fills it.

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <vector>

#include "platform/engine/storage/Functions.h"
#include "platform/files/Files.h"
#include "support/SessionQueries.h"
#include "support/TempDrive.h"

using namespace vopa::engine;
using vopa::testing::errorOf;
using vopa::testing::on;
using vopa::testing::prepare;
using vopa::testing::rowTexts;
using vopa::testing::scalar;

namespace {

using Clock = std::chrono::steady_clock;


// Runs `body` in a child process; its result is the child's exit code (0..255). A child that throws
// exits with 99. The child never returns into the test framework. No session may be open in the
// parent when it forks: SQLite's bookkeeping of its own process's locks would be copied into the child.
pid_t spawn(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A pipe to tell another process that a step is done.
struct Signal {
    int fd[2] = {-1, -1};
    Signal() { EXPECT_EQ(pipe(fd), 0); }
    ~Signal() {
        close(fd[0]);
        close(fd[1]);
    }
    void give() const { EXPECT_EQ(write(fd[1], "x", 1), 1); }
    void await() const {
        char c = 0;
        EXPECT_EQ(read(fd[0], &c, 1), 1);
    }
};

// Two processes that each take `a` or `b` and then want the other's; their exit codes. Neither may
// wait for ever.
template <class Crossing>
std::pair<int, int> crossed(const std::string& a, const std::string& b, Crossing crossing) {
    Signal firstHolds, secondHolds;
    const auto start = Clock::now();
    pid_t pa = spawn([&] { return crossing(a, b, firstHolds, secondHolds); });
    pid_t pb = spawn([&] { return crossing(b, a, secondHolds, firstHolds); });
    const int ra = waitFor(pa), rb = waitFor(pb);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    return {ra, rb};
}

// Runs `body(p)` in `processes` child processes at once; each must end with 0.
void atOnce(int processes, const std::function<int(int)>& body) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) children.push_back(spawn([&body, p] { return body(p); }));
    for (pid_t c : children) EXPECT_EQ(waitFor(c), 0);
}

TEST(Concurrency, ProcessesInsertingAtOnceNeverShareAnIdentityValue) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE Conti", "CREATE TABLE Conti.dbo.righe (id int IDENTITY(1,1) NOT NULL, chi int NOT NULL, n int NULL)"});
    atOnce(4, [](int p) {
        Session s(on("Conti"));
        for (int i = 0; i < 150; ++i) {
            // Half of the rows through a transaction that reads before it writes.
            const std::string insert = "INSERT INTO righe (chi, n) VALUES (" + std::to_string(p) + ", " + std::to_string(i) + ")";
            const std::string batch = i % 2 ? insert : "BEGIN TRANSACTION\nIF (SELECT COUNT(*) FROM righe) >= 0 " + insert + "\nCOMMIT";
            if (int e = errorOf(s, batch)) return e % 200 + 1;
        }
        return 0;
    });
    Session check(on("Conti"));
    EXPECT_EQ(rowTexts(check, "SELECT COUNT(*), COUNT(DISTINCT id), MAX(id), IDENT_CURRENT('righe') FROM righe"),
              std::vector<std::string>{"600|600|600|600"});
}

TEST(Concurrency, ProcessesCreateTablesInOneDatabaseAtOnce) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE Tabelle"});
    atOnce(3, [](int p) {
        Session s(on("Tabelle"));
        for (int i = 0; i < 15; ++i)
            if (int e = errorOf(s, "CREATE TABLE t" + std::to_string(p) + "_" + std::to_string(i) +
                                       " (id int IDENTITY NOT NULL PRIMARY KEY, v nvarchar(10) NULL)"))
                return e % 200 + 1;
        if (int e = errorOf(s, "CREATE DATABASE Altro" + std::to_string(p))) return e % 200 + 1;
        return 0;
    });
    Session check(on("Tabelle"));
    EXPECT_EQ(scalar(check, "SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLES"), "45");
    EXPECT_EQ(scalar(check, "SELECT COUNT(*) FROM master.dbo.sysdatabases WHERE name LIKE 'Altro%'"), "3");
}

TEST(Concurrency, AWriterWaitsForTheLockAsTheLockTimeOutSays) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE Attesa", "CREATE TABLE Attesa.dbo.t (id int IDENTITY NOT NULL, v int NULL)"});
    // By default a writer in another process waits until the holder commits, then goes on.
    Signal holding, started;
    pid_t child = spawn([&] {
        holding.await();
        Session s(on("Attesa"));
        started.give();
        const auto begin = Clock::now();
        if (errorOf(s, "INSERT INTO t (v) VALUES (3)")) return 1;
        return Clock::now() - begin >= std::chrono::milliseconds(500) ? 0 : 2;
    });
    Session holder(on("Attesa"));
    holder.execute("BEGIN TRANSACTION");
    holder.execute("INSERT INTO t (v) VALUES (1)");

    Session waiter(on("Attesa"));
    // LOCK_TIMEOUT 0: refused at once; 300: after 300 ms.
    waiter.execute("SET LOCK_TIMEOUT 0");
    EXPECT_EQ(errorOf(waiter, "INSERT INTO t (v) VALUES (2)"), 1222);
    waiter.execute("SET LOCK_TIMEOUT 300");
    const auto start = Clock::now();
    EXPECT_EQ(errorOf(waiter, "INSERT INTO t (v) VALUES (2)"), 1222);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_EQ(scalar(waiter, "SELECT @@LOCK_TIMEOUT"), "300");

    holding.give();
    started.await();
    usleep(800'000);
    holder.execute("COMMIT");
    EXPECT_EQ(waitFor(child), 0);
    EXPECT_EQ(rowTexts(holder, "SELECT COUNT(*), MAX(id) FROM t"), std::vector<std::string>{"2|2"});
}

TEST(Concurrency, ADeadlockEndsOneTransactionWith1205AndTheOtherGoesOn) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE Uno", "CREATE DATABASE Due", "CREATE TABLE Uno.dbo.t (v int NULL)", "CREATE TABLE Due.dbo.t (v int NULL)"});
    // Each process takes one database (writing 1 in Uno first, 2 in Due first) and then wants the other's.
    const auto [ra, rb] = crossed("Uno", "Due", [](const std::string& mine, const std::string& theirs, const Signal& mineTaken,
                                                   const Signal& theirsTaken) {
        const std::string value = mine == "Uno" ? "1" : "2";
        Session s(on(""));
        s.execute("BEGIN TRANSACTION");
        s.execute("INSERT INTO " + mine + ".dbo.t VALUES (" + value + ")");
        mineTaken.give();
        theirsTaken.await();
        int e = errorOf(s, "INSERT INTO " + theirs + ".dbo.t VALUES (" + value + ")");
        if (e == 1205) return scalar(s, "SELECT @@TRANCOUNT") == "0" ? 5 : 6;
        if (e) return e % 200 + 10;
        s.execute("COMMIT");
        return 0;
    });
    // One victim (its transaction rolled back), one that committed both rows.
    EXPECT_TRUE((ra == 0 && rb == 5) || (ra == 5 && rb == 0)) << ra << " " << rb;
    Session check(on(""));
    const std::string winner = ra == 0 ? "1" : "2";
    EXPECT_EQ(rowTexts(check, "SELECT 'Uno', v FROM Uno.dbo.t UNION ALL SELECT 'Due', v FROM Due.dbo.t"),
              (std::vector<std::string>{"Uno|" + winner, "Due|" + winner}));
}

TEST(Concurrency, ADatabaseInUseByAnotherSessionCannotBeDropped) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE Occupato", "CREATE TABLE Occupato.dbo.t (v int NULL)"});
    // A session of another process.
    Signal go, connected, release;
    pid_t child = spawn([&] {
        go.await();
        Session s(on("Occupato"));
        connected.give();
        release.await();
        return 0;
    });
    Session admin(on(""));
    {
        Session user(on("Occupato"));
        EXPECT_EQ(errorOf(admin, "DROP DATABASE Occupato"), 3702);
        user.execute("USE master");
        Session other(on(""));
        other.execute("USE Occupato");
        EXPECT_EQ(errorOf(admin, "DROP DATABASE Occupato"), 3702);
        other.execute("INSERT INTO t VALUES (1)");
        EXPECT_EQ(scalar(other, "SELECT COUNT(*) FROM t"), "1");
    }
    go.give();
    connected.await();
    EXPECT_EQ(errorOf(admin, "DROP DATABASE Occupato"), 3702);
    release.give();
    EXPECT_EQ(waitFor(child), 0);
    // Nobody uses it any more; a session that only named it in a finished statement does not count.
    EXPECT_EQ(scalar(admin, "SELECT COUNT(*) FROM Occupato.dbo.t"), "1");
    EXPECT_EQ(errorOf(admin, "DROP DATABASE Occupato"), 0);
    EXPECT_EQ(errorOf(admin, "SELECT COUNT(*) FROM Occupato.dbo.t"), 911);
}

// A connection left idle while other sessions, in its own process and in others, open the database,
// work and close it again: SQLite's locks on the file must stay the idle connection's. Were they lost,
// another process closing its connection would take itself for the last one and delete the
// write-ahead log under the idle connection, whose reads and commits would then go to a log nobody
// else sees.
TEST(Concurrency, AnIdleConnectionKeepsItsDatabaseWhileOthersComeAndGo) {
    vopa::testing::TempDrive drive;
    const std::filesystem::path dataFile = vopa::files::mapPath("C:\\Vopa\\Sedi\\Contatti.mdf");
    std::filesystem::create_directories(dataFile.parent_path());
    prepare({"CREATE DATABASE Contatti ON (NAME = N'Contatti', FILENAME = N'C:\\Vopa\\Sedi\\Contatti.mdf') "
             "LOG ON (NAME = N'Contatti_log', FILENAME = N'C:\\Vopa\\Sedi\\Contatti.ldf')",
             "CREATE TABLE Contatti.dbo.contatti (id int IDENTITY(1,1) NOT NULL PRIMARY KEY, nome nvarchar(20) NULL)",
             "INSERT INTO Contatti.dbo.contatti (nome) VALUES ('primo')"});
    // A session that opens the database, reads (and writes, when asked) and closes.
    auto visit = [](bool writes) {
        Session s(on("Contatti"));
        if (scalar(s, "SELECT COUNT(*) FROM contatti") == "<none>") return 1;
        return writes ? errorOf(s, "INSERT INTO contatti (nome) VALUES ('altro')") : 0;
    };
    Signal idleReady, othersDone;
    pid_t keeper = spawn([&] {
        Session idle(on("Contatti"));
        if (scalar(idle, "SELECT COUNT(*) FROM contatti") != "1") return 1;
        // Sessions of the same process come and go, as the program's connections do.
        for (int i = 0; i < 3; ++i)
            if (visit(false)) return 2;
        idleReady.give();
        othersDone.await();
        if (scalar(idle, "SELECT COUNT(*) FROM contatti") != "10") return 3;
        if (int e = errorOf(idle, "BEGIN TRANSACTION\nINSERT INTO contatti (nome) VALUES ('dopo')\nCOMMIT")) return e % 200 + 10;
        return scalar(idle, "SELECT COUNT(*) FROM contatti") == "11" ? 0 : 4;
    });
    idleReady.await();
    for (int p = 0; p < 3; ++p) {
        pid_t other = spawn([&] {
            for (int i = 0; i < 3; ++i)
                if (int e = visit(true)) return e % 200 + 1;
            return 0;
        });
        EXPECT_EQ(waitFor(other), 0);
    }
    othersDone.give();
    EXPECT_EQ(waitFor(keeper), 0);

    Session after(on("Contatti"));
    EXPECT_EQ(scalar(after, "SELECT COUNT(*) FROM contatti"), "11");
    EXPECT_EQ(scalar(after, "SELECT COUNT(*) FROM contatti WHERE nome = 'dopo'"), "1");
    sqlite3* file = nullptr;
    ASSERT_EQ(sqlite3_open_v2(dataFile.c_str(), &file, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    storage::registerCollation(file);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(file, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK) << sqlite3_errmsg(file);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(file);
}

// The build lock: an application lock owned by the session, taken as the program takes it.
std::string takeBuildLock(Session& s) {
    return scalar(s, "DECLARE @result int; EXEC @result = sp_getapplock @Resource = N'VoPaDatiTraining build', "
                     "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; SELECT @result AS result");
}

TEST(Concurrency, AnApplicationLockIsTheSessionsUntilItEndsOrItsProcessDies) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE VoPaDatiAzienda"});
    Signal taken;
    pid_t holder = spawn([&] {
        Session s(on("VoPaDatiAzienda"));
        if (takeBuildLock(s) != "0") return 1;
        taken.give();
        for (;;) pause();
    });
    taken.await();
    Session other(on("VoPaDatiAzienda"));
    EXPECT_EQ(takeBuildLock(other), "-1");
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(takeBuildLock(other), "0");

    // A session that ends leaves the lock free (two sessions of one process exclude each other as the
    // application-lock conformance file shows).
    {
        Session second(on("VoPaDatiAzienda"));
        EXPECT_EQ(errorOf(other, "EXEC sp_releaseapplock @Resource = N'VoPaDatiTraining build', @LockOwner = 'Session'"), 0);
        EXPECT_EQ(takeBuildLock(second), "0");
    }
    EXPECT_EQ(takeBuildLock(other), "0");

    // Releasing a lock not held is 1223, and the procedure's status -999; the batch goes on.
    other.execute("EXEC sp_releaseapplock @Resource = N'VoPaDatiTraining build', @LockOwner = 'Session'");
    std::vector<StatementOutcome> out = other.executeBatch(
        "DECLARE @r int = 5\nEXEC @r = sp_releaseapplock @Resource = N'VoPaDatiTraining build', @LockOwner = 'Session'\n"
        "SELECT @r");
    ASSERT_TRUE(out.size() == 3 && out[1].error && out[2].resultSet);
    EXPECT_EQ(out[1].error->number(), 1223);
    EXPECT_EQ(out[2].resultSet->rows[0][0].toString(), "-999");
}

// Two sessions that each hold one application lock and wait without a time-out for the other's:
// neither waits for ever; one is the deadlock victim (-3) and lets its lock go, the other gets the
// lock after waiting (1).
TEST(Concurrency, CrossedApplicationLocksEndWithOneDeadlockVictim) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE VoPaDatiAzienda"});
    const auto [ra, rb] = crossed("uno", "due", [](const std::string& mine, const std::string& theirs, const Signal& mineTaken,
                                                   const Signal& theirsTaken) {
        Session s(on("VoPaDatiAzienda"));
        auto take = [&](const std::string& resource) {
            return scalar(s, "DECLARE @r int; EXEC @r = sp_getapplock @Resource = N'" + resource +
                                 "', @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = -1; SELECT @r");
        };
        if (take(mine) != "0") return 1;
        mineTaken.give();
        theirsTaken.await();
        const std::string got = take(theirs);
        if (got == "-3") {
            s.execute("EXEC sp_releaseapplock @Resource = N'" + mine + "', @LockOwner = 'Session'");
            return 3;
        }
        return got == "1" ? 0 : 2;
    });
    // Both give up only when their waits end within a few milliseconds of each other.
    EXPECT_TRUE((ra == 0 && rb == 3) || (ra == 3 && rb == 0) || (ra == 3 && rb == 3)) << ra << " " << rb;
}

TEST(CrashSafety, CommittedRowsSurviveAKilledProcess) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE Sicura", "CREATE TABLE Sicura.dbo.righe (id int NOT NULL IDENTITY(1,1), nota nvarchar(20) NULL)"});
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Session s(on("Sicura"));
        s.execute("INSERT INTO righe (nota) VALUES ('salvata')");
        s.execute("BEGIN TRANSACTION");
        s.execute("INSERT INTO righe (nota) VALUES ('in corso')");
        raise(SIGKILL);  // dies with a transaction open
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    Session after(on("Sicura"));
    EXPECT_EQ(rowTexts(after, "SELECT nota FROM righe"), std::vector<std::string>{"salvata"});
    after.execute("INSERT INTO righe (nota) VALUES ('dopo')");
    EXPECT_EQ(scalar(after, "SELECT max(id) FROM righe"), "2");
}

// Inside BEGIN TRANSACTION, the statement that fills the disk reports 1105 and is undone; the rows of
// the statements before it stay in the transaction. The child process gets a file size limit that
// stands for a full disk.
TEST(CrashSafety, AFullDiskFailsTheStatementThatFillsItInsideATransaction) {
    vopa::testing::TempDrive drive;
    prepare({"CREATE DATABASE Piena", "CREATE TABLE Piena.dbo.righe (id int NOT NULL, nota nvarchar(4000) NULL)"});
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Session s(on("Piena"));
        s.execute("SELECT COUNT(*) FROM righe");
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{2 * 1024 * 1024, 2 * 1024 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        s.execute("BEGIN TRANSACTION");
        for (int i = 1; i <= 2000; ++i) {
            std::vector<StatementOutcome> out = s.executeBatch(
                "INSERT INTO righe VALUES (" + std::to_string(i) + ", N'" + std::string(3000, 'x') + "')");
            if (out.empty() || !out[0].error) continue;
            if (out[0].error->number() != 1105 || i == 1)
                std::fprintf(stderr, "row %d: %d %s\n", i, out[0].error->number(), out[0].error->what());
            _exit(out[0].error->number() == 1105 && i > 1 ? 0 : 10);
        }
        _exit(20);  // the limit was never reached
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: another error than 1105, 20: no error";
}

}  // namespace
