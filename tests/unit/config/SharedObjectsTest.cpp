#include <gtest/gtest.h>

#include "config/SharedObjects.h"
#include "platform/engine/Server.h"
#include "support/ScriptedMessageService.h"
#include "support/ScriptedMessages.h"
#include "support/TempDrive.h"

using namespace vopa;
using state::GlobalState;

namespace {

TEST(ResetRoutine, OnAFreshStartBindsTheCommandAndTouchesNothingElse) {
    vopa::testing::TempDrive drive;
    vopa::testing::ScriptedMessages script;
    GlobalState g;
    g.CompanyConnectionString = "previous";
    config::resetSharedObjects(g);
    ASSERT_TRUE(g.SharedCommand);
    EXPECT_EQ(g.SharedCommand->activeConnection, &g.SharedConnection);
    EXPECT_EQ(g.SharedCommand->commandType, data::CommandType::Text);
    EXPECT_EQ(g.SharedCommand->commandTimeout, 0);
    EXPECT_FALSE(g.LocalConnection.isOpen());
    EXPECT_EQ(g.CompanyConnectionString, "previous") << "no server address to build it from";
    EXPECT_TRUE(script->boxes().empty());
}

TEST(ResetRoutine, ClosesTheSharedObjectsButNotTheCompanyAndRegistryConnections) {
    vopa::testing::TempDrive drive;
    drive.writeRaw("vopa/IndirizzoServer.txt", "Driver=SQL Server;Server=(local);UID=;PWD=;");
    drive.writeRaw("vopa/NomeServer.txt", "(local)");
    drive.writeRaw("Vopa/Files/Sede.mdb", "jet");
    GlobalState g;
    g.CompanyDatabaseName = "master";
    g.LocalConnectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Vopa\\Files\\Sede.mdb;";
    const std::string server = "Driver=SQL Server;Server=(local);UID=;PWD=;";
    for (data::Connection* c : {&g.SharedConnection, &g.RegistryConnection, &g.ServerConnection, &g.SchemaConnection})
        c->open(server);
    g.SharedRecordsets[0].open("SELECT name FROM sysdatabases", g.SharedConnection);
    g.SharedRecordsets[23].open("SELECT name FROM sysdatabases", g.ServerConnection);
    config::resetSharedObjects(g);
    EXPECT_FALSE(g.SharedRecordsets[0].isOpen());
    EXPECT_FALSE(g.SharedRecordsets[23].isOpen());
    EXPECT_FALSE(g.ServerConnection.isOpen());
    EXPECT_FALSE(g.SchemaConnection.isOpen());
    EXPECT_TRUE(g.SharedConnection.isOpen());
    EXPECT_TRUE(g.RegistryConnection.isOpen());
    EXPECT_TRUE(g.LocalConnection.isOpen());
    EXPECT_EQ(g.CompanyConnectionString, server + "DATABase=master;");
}

class ScratchDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        g.ComputerName = "localhost";
        g.ServerName = "localhost\\sqlexpress";
        drive.writeRaw("Vopa/Sedi/.keep", "");
    }
    vopa::testing::TempDrive drive;
    vopa::testing::ScriptedMessages script;
    GlobalState g;
};

TEST_F(ScratchDatabase, OpenerFailsWhenTheLocalServerDoesNotAnswer) {
    EXPECT_FALSE(config::openScratchDatabase(g));
    EXPECT_FALSE(g.ServerConnection.isOpen());
    EXPECT_TRUE(script->boxes().empty());
}

TEST_F(ScratchDatabase, OpenerCreatesAMissingScratchDatabaseOnceAndThenOpensIt) {
    engine::createNamedInstance("SQLEXPRESS");
    ASSERT_TRUE(config::openScratchDatabase(g));
    EXPECT_TRUE(g.ServerConnection.isOpen());
    EXPECT_EQ(g.ServerConnectionString, "Driver=SQL Server;Server=localhost\\sqlexpress;ID utente=;Password=;DATABase=VoPaDatiTemp");
    // The data file went to the local default instance's folder, the log to the data folder.
    EXPECT_TRUE(drive.exists("Program Files/Microsoft SQL Server/MSSQL.MSSQLSERVER/MSSQL/DATA/VoPaDatiTemp.mdf"));
    EXPECT_TRUE(drive.exists("Vopa/Sedi/VoPaDatiTemp.ldf"));
    g.ServerConnection.execute("CREATE TABLE Version (id int null, Version int not null default 1 )");

    // The next opening finds it: nothing is created again and the table is still there.
    ASSERT_TRUE(config::openScratchDatabase(g));
    auto rs = g.ServerConnection.execute("SELECT count(*) AS n FROM Version");
    EXPECT_EQ(rs->field("n").toString(), "0");
    EXPECT_TRUE(script->boxes().empty());
}

TEST_F(ScratchDatabase, DataFolderFollowsTheConfiguredFolderThenTheServer) {
    g.DataFileFolder = "D:\\Dati\\\\Sedi";
    EXPECT_EQ(config::dataFolder(g), "D:\\Dati\\Sedi\\");
    g.DataFileFolder.clear();
    // No server address at all: the default folder.
    EXPECT_EQ(config::dataFolder(g), "C:\\Vopa\\Sedi\\");
    drive.writeRaw("vopa/IndirizzoServer.txt", "Driver=SQL Server;Server=(local);UID=;PWD=;");
    drive.writeRaw("vopa/NomeServer.txt", "(local)");
    EXPECT_EQ(config::dataFolder(g), "C:\\Vopa\\Sedi\\") << "no vopadati database on the server";
    data::Connection server;
    server.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
    drive.writeRaw("Dati/x", "");
    server.execute("CREATE DATABASE VoPaDatiSede ON (NAME = N'a', FILENAME = N'C:\\Dati\\VoPaDatiSede.mdf') LOG ON "
                   "(NAME = N'b', FILENAME = N'C:\\Dati\\VoPaDatiSede.ldf')");
    EXPECT_EQ(config::dataFolder(g), "C:\\Dati\\");
    EXPECT_EQ(config::serverDataFolder(), "C:\\Program Files\\Microsoft SQL Server\\MSSQL.MSSQLSERVER\\MSSQL\\DATA\\");
}

}  // namespace
