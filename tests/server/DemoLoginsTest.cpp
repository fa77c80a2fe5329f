// The demo installation's server logins: with them the program's own connection texts reach
// vopa-server through the FreeTDS ODBC driver and sign in, the login given by VOPA_ODBC_OPTIONS.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DemoInstallation.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "platform/data/Connection.h"
#include "platform/files/Files.h"
#include "support/ServerProcess.h"
#include "support/TempDrive.h"

namespace {

const char* const kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

TEST(DemoLogins, TheProgramsConnectionTextsSignInThroughTheServer) {
    vopa::testing::TempDrive drive;
    vopa::demo::DemoOptions options;
    options.rows = 0;
    vopa::demo::createDemoInstallation(options);
    const std::string address = vopa::files::readFirstLine(vopa::config::kServerAddressFile);
    const std::vector<vopa::demo::DemoLogin> logins = vopa::demo::createServerLogins();
    ASSERT_EQ(logins.size(), 1u) << "the demo's rows and files name no login: one is made up";
    EXPECT_TRUE(logins[0].madeUp);
    EXPECT_EQ(vopa::files::readFirstLine(vopa::config::kServerAddressFile), address) << "the address file is kept";

    // A registry row that names a login and its password gets that login instead.
    {
        vopa::data::Connection registry;
        registry.open(vopa::config::registryConnection(address));
        registry.execute("UPDATE link_programma SET nRoot = N'contabile', Npassw = N'Conti-1' WHERE id = 2");
        registry.close();
    }
    const std::vector<vopa::demo::DemoLogin> named = vopa::demo::createServerLogins();
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].name + "/" + named[0].password, "contabile/Conti-1");
    EXPECT_FALSE(named[0].madeUp);

    ::setenv("VOPA_SA_PASSWORD", "Sa-Demo-1", 1);
    vopa::testing::ServerProcess server(VOPA_SERVER_PATH);
    ::setenv("VOPA_ODBC_DRIVER", kDriver, 1);
    // Pointing the program at the server is giving its address files the server's address (which the
    // embedded engine also takes for this machine); the login comes from VOPA_ODBC_OPTIONS.
    std::string pointed = address;
    const std::size_t at = pointed.find("(local)");
    ASSERT_NE(at, std::string::npos) << address;
    pointed.replace(at, 7, "127.0.0.1," + std::to_string(server.port()));
    const std::string reach = "TDS_Version=7.4;ClientCharset=UTF-8;";
    struct Case {
        const char* what;
        std::string credentials;
        bool signsIn;
    };
    const Case cases[] = {
        {"the made-up login", "UID=" + logins[0].name + ";PWD=" + logins[0].password + ";", true},
        {"a wrong password", "UID=" + logins[0].name + ";PWD=x" + logins[0].password + ";", false},
        {"the registry's login", "UID=contabile;PWD=Conti-1;", true},
    };
    for (const Case& c : cases) {
        ::setenv("VOPA_ODBC_OPTIONS", (reach + c.credentials).c_str(), 1);
        vopa::data::Connection registry;
        bool opened = true;
        try {
            registry.open(vopa::config::registryConnection(pointed));
        } catch (const std::exception& e) {
            opened = false;
            if (c.signsIn) ADD_FAILURE() << c.what << ": " << e.what();
        }
        EXPECT_EQ(opened, c.signsIn) << c.what;
        if (!opened) continue;
        auto rs = registry.execute("SELECT COUNT(*) AS n FROM link_programma");
        EXPECT_EQ(rs->field("n").toString(), "2") << c.what;
        registry.close();
    }
    ::unsetenv("VOPA_ODBC_DRIVER");
    ::unsetenv("VOPA_ODBC_OPTIONS");
    ::unsetenv("VOPA_SA_PASSWORD");
}

}  // namespace
