// Committed changes survive the program being killed, and a second process sees them.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/SessionQueries.h"
#include "support/TempDrive.h"

using namespace vopa::engine;
using vopa::testing::on;
using vopa::testing::prepare;

namespace {

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
    std::optional<ResultSet> rs = after.execute("SELECT nota FROM righe ORDER BY id");
    ASSERT_EQ(rs->rows.size(), 1u);
    EXPECT_EQ(rs->rows[0][0].toString(), "salvata");
    after.execute("INSERT INTO righe (nota) VALUES ('dopo')");
    EXPECT_EQ(after.execute("SELECT max(id) FROM righe")->rows[0][0].toString(), "2");
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
