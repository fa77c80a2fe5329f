// Committed changes survive the program being killed, and a second process sees them.

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/engine/Session.h"
#include "support/TempDrive.h"

using namespace vopa::engine;

namespace {

TEST(CrashSafety, CommittedRowsSurviveAKilledProcess) {
    vopa::testing::TempDrive drive;
    {
        Session setup(ConnectOptions{"(local)", "", "", ""});
        setup.execute("CREATE DATABASE Sicura");
        setup.execute("CREATE TABLE Sicura.dbo.righe (id int NOT NULL IDENTITY(1,1), nota nvarchar(20) NULL)");
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Session s(ConnectOptions{"(local)", "Sicura", "", ""});
        s.execute("INSERT INTO righe (nota) VALUES ('salvata')");
        s.execute("BEGIN TRANSACTION");
        s.execute("INSERT INTO righe (nota) VALUES ('in corso')");
        raise(SIGKILL);  // dies with a transaction open
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    Session after(ConnectOptions{"(local)", "Sicura", "", ""});
    std::optional<ResultSet> rs = after.execute("SELECT nota FROM righe ORDER BY id");
    ASSERT_EQ(rs->rows.size(), 1u);
    EXPECT_EQ(rs->rows[0][0].toString(), "salvata");
    after.execute("INSERT INTO righe (nota) VALUES ('dopo')");
    EXPECT_EQ(after.execute("SELECT max(id) FROM righe")->rows[0][0].toString(), "2");
}

}  // namespace
