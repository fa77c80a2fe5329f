// Logins as the network server uses them: a session opened for a login checks its password, a login
// other than sa may only change its own password, and master keeps hashes, never passwords. What the
// network server's own tests already show of a login (a wrong password, an unknown or disabled login,
// the default database, a password changed with the old one) is not repeated here.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/engine/Logins.h"
#include "platform/engine/Server.h"
#include "support/SessionQueries.h"
#include "support/TempDrive.h"

using namespace vopa::engine;
using vopa::testing::errorOf;
using vopa::testing::on;
using vopa::testing::prepare;
using vopa::testing::rowTexts;
using vopa::testing::scalar;

namespace {

ConnectOptions as(const std::string& user, const std::string& password, const std::string& database = "") {
    return ConnectOptions{"(local)", database, user, password};
}

// The number of the error opening a session for the login, 0 when it opens.
int signInError(const std::string& user, const std::string& password, const std::string& database = "") {
    try {
        Session s(as(user, password, database), SignIn::CheckPassword);
        return 0;
    } catch (const EngineError& e) {
        return e.number();
    }
}

std::string fileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Logins, ASessionForALoginOpensOnlyWithItsPasswordWhileEnabled) {
    vopa::testing::TempDrive drive;
    const InstanceLocation instance = locateInstance("(local)");
    EXPECT_FALSE(saHasPassword(instance));
    EXPECT_EQ(signInError("sa", ""), 18456) << "sa has no password before the first one is set";
    EXPECT_TRUE(setSaPasswordIfUnset(instance, "Sa-Prima1"));
    EXPECT_FALSE(setSaPasswordIfUnset(instance, "Sa-Seconda1")) << "a set password is never replaced";
    prepare({"CREATE DATABASE Contabilita", "CREATE LOGIN mario WITH PASSWORD = 'Pw-Mario1', DEFAULT_DATABASE = Contabilita"});
    struct Case {
        const char* user;
        const char* password;
        const char* database;
        int error;
    };
    const Case cases[] = {
        {"sa", "Sa-Prima1", "", 0},
        {"SA", "Sa-Prima1", "", 0},
        {"sa", "Sa-Seconda1", "", 18456},
        {"sa", "sa-prima1", "", 18456},
        {"mario", "Pw-Mario1", "", 0},
        {"mario", "", "", 18456},
        {"mario", "sbagliata", "Inesistente", 18456},
    };
    for (const Case& c : cases)
        EXPECT_EQ(signInError(c.user, c.password, c.database), c.error) << c.user << " / " << c.password << " / " << c.database;

    {
        Session mario(as("mario", "Pw-Mario1"), SignIn::CheckPassword);
        EXPECT_EQ(mario.login(), "mario");
        Session program(on(""));
        EXPECT_EQ(program.login(), "") << "the program's own sessions have no login";
    }

    // A login whose default database is dropped cannot open without naming a database.
    prepare({"DROP DATABASE Contabilita"});
    EXPECT_EQ(signInError("mario", "Pw-Mario1"), 4064);
    EXPECT_EQ(signInError("mario", "Pw-Mario1", "master"), 0);
}

TEST(Logins, OnlySaAndTheProgramManageLoginsAndOthersChangeTheirOwnPasswordWithTheOld) {
    vopa::testing::TempDrive drive;
    ASSERT_TRUE(setSaPasswordIfUnset(locateInstance("(local)"), "Sa-Prima1"));
    prepare({"CREATE LOGIN mario WITH PASSWORD = 'Pw-Mario1'", "CREATE LOGIN luisa WITH PASSWORD = 'Pw-Luisa1'"});
    Session mario(as("mario", "Pw-Mario1"), SignIn::CheckPassword);
    struct Case {
        const char* statement;
        int error;
    };
    const Case refused[] = {
        {"DROP LOGIN luisa", 15151},
        {"ALTER LOGIN luisa WITH PASSWORD = 'Presa-1'", 15151},
        {"ALTER LOGIN luisa DISABLE", 15151},
        {"ALTER LOGIN mario WITH PASSWORD = 'Senza-vecchia1'", 15151},
        {"ALTER LOGIN mario WITH PASSWORD = 'Nuova-1' OLD_PASSWORD = 'sbagliata'", 15151},
        {"ALTER LOGIN mario WITH CHECK_POLICY = OFF", 15151},
        {"ALTER LOGIN mario ENABLE", 15151},
    };
    for (const Case& c : refused) EXPECT_EQ(errorOf(mario, c.statement), c.error) << c.statement;
    EXPECT_EQ(signInError("luisa", "Pw-Luisa1"), 0) << "nothing of luisa changed";

    EXPECT_EQ(errorOf(mario, "ALTER LOGIN MARIO WITH PASSWORD = 'Nuova-1' OLD_PASSWORD = 'Pw-Mario1'"), 0);
    EXPECT_EQ(signInError("mario", "Nuova-1"), 0);

    // mario sees itself and sa, without any hash; sa and the program see every login and the hashes.
    EXPECT_EQ(rowTexts(mario, "SELECT name, ISNULL(DATALENGTH(password_hash), -1) FROM sys.sql_logins ORDER BY name"),
              (std::vector<std::string>{"mario|-1", "sa|-1"}));
    Session sa(as("sa", "Sa-Prima1"), SignIn::CheckPassword);
    Session program(on(""));
    for (Session* s : {&sa, &program}) {
        EXPECT_EQ(scalar(*s, "SELECT COUNT(*) FROM sys.sql_logins WHERE password_hash IS NOT NULL"), "3");
        EXPECT_EQ(errorOf(*s, "ALTER LOGIN luisa WITH PASSWORD = 'Data-da-sa1'"), 0) << "no old password needed";
    }
    EXPECT_EQ(errorOf(sa, "CREATE LOGIN nuovo WITH PASSWORD = 'Pw-Nuovo1'"), 0);
    EXPECT_EQ(errorOf(sa, "ALTER LOGIN mario DISABLE"), 0);
    EXPECT_EQ(signInError("mario", "Nuova-1"), 18456);
    EXPECT_EQ(errorOf(sa, "DROP LOGIN nuovo"), 0);
    EXPECT_EQ(signInError("nuovo", "Pw-Nuovo1"), 18456);
}

TEST(Logins, MasterKeepsSaltedHashesNeverThePassword) {
    vopa::testing::TempDrive drive;
    const std::string password = "Parola-Segreta-7431";
    prepare({"CREATE LOGIN primo WITH PASSWORD = '" + password + "'",
             "CREATE LOGIN secondo WITH PASSWORD = '" + password + "'"});
    Session s(on(""));
    const std::vector<std::string> hashes =
        rowTexts(s, "SELECT password_hash FROM sys.sql_logins WHERE name IN ('primo', 'secondo')");
    ASSERT_EQ(hashes.size(), 2u);
    EXPECT_NE(hashes[0], hashes[1]) << "each password has its own salt";
    EXPECT_EQ(scalar(s, "SELECT MIN(DATALENGTH(password_hash)) FROM sys.sql_logins WHERE name = 'primo'"),
              std::to_string(2 + 4 + 16 + 32))
        << "version, iterations, salt and key";
    const InstanceLocation instance = locateInstance("(local)");
    for (const std::filesystem::path& f : {instance.masterFile, std::filesystem::path(instance.masterFile.string() + "-wal")})
        EXPECT_EQ(fileBytes(f).find(password), std::string::npos) << f;
}

TEST(Logins, AMasterMadeBeforeLoginsWereKeptGetsThemWithSaWithoutPassword) {
    vopa::testing::TempDrive drive;
    const InstanceLocation instance = locateInstance("(local)");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(instance.masterFile.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "DROP TABLE __vopa_logins", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    EXPECT_FALSE(saHasPassword(instance));
    Session s(on(""));
    EXPECT_EQ(rowTexts(s, "SELECT name, principal_id FROM sys.sql_logins"), (std::vector<std::string>{"sa|1"}));
    EXPECT_EQ(errorOf(s, "CREATE LOGIN mario WITH PASSWORD = 'Pw-Mario1'"), 0);
    EXPECT_EQ(signInError("mario", "Pw-Mario1"), 0);
    EXPECT_TRUE(setSaPasswordIfUnset(instance, "Sa-Prima1"));
    EXPECT_EQ(signInError("sa", "Sa-Prima1"), 0);
}

}  // namespace
