#include <gtest/gtest.h>

#include "platform/engine/EngineError.h"
#include "platform/engine/Server.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/sys/SystemInfo.h"
#include "support/TempDrive.h"

using namespace vopa::engine;

namespace {

TEST(Server, NamesResolveAsTheProgramWritesThem) {
    vopa::testing::TempDrive drive;
    const std::string host = vopa::sys::computerName();
    struct Case {
        std::string name;
        const char* instance;  // nullptr: unreachable
    };
    const Case cases[] = {
        {"(local)", "MSSQLSERVER"},      {"(Local)", "MSSQLSERVER"},  {".", "MSSQLSERVER"},
        {"LOCALHOST", "MSSQLSERVER"},    {host, "MSSQLSERVER"},       {"tcp:localhost,1433", "MSSQLSERVER"},
        {"localhost\\MSSQLSERVER", "MSSQLSERVER"},
        {"localhost\\sqlexpress", nullptr},  // a named instance exists only once created
        {"ALTROPC", nullptr},            {"ALTROPC\\SQLEXPRESS", nullptr},
    };
    for (const Case& c : cases) {
        try {
            InstanceLocation loc = locateInstance(c.name);
            ASSERT_TRUE(c.instance) << c.name << " should not be reachable";
            EXPECT_EQ(loc.instanceName, c.instance) << c.name;
        } catch (const EngineError& e) {
            EXPECT_FALSE(c.instance) << c.name << ": " << e.what();
            EXPECT_EQ(e.number(), err::CannotConnect) << c.name;
        }
    }
    createNamedInstance("SQLEXPRESS");
    EXPECT_EQ(locateInstance(host + "\\SqlExpress").instanceName, "SQLEXPRESS");
    EXPECT_TRUE(drive.exists("Program Files/Microsoft SQL Server/MSSQL.SQLEXPRESS/MSSQL/DATA/master.mdf"));
}

TEST(Translation, StoresWithoutConversionOnlyWhereNothingCanBeLost) {
    auto t = [](const char* name, int length = -1, int precision = -1, int scale = -1) {
        return SqlType::fromName(name, length, precision, scale);
    };
    struct Case {
        SqlType from;
        SqlType to;
        bool same;
    };
    const Case cases[] = {
        {t("int"), t("int"), true},
        {t("smallint"), t("int"), true},
        {t("int"), t("smallint"), false},
        {t("bit"), t("int"), false},
        {t("money"), t("money"), true},
        {t("decimal", -1, 18, 2), t("decimal", -1, 19, 2), true},
        {t("decimal", -1, 18, 2), t("decimal", -1, 18, 4), false},
        {t("decimal", -1, 19, 2), t("decimal", -1, 18, 2), false},
        {t("money"), t("decimal", -1, 19, 4), true},
        {t("nvarchar", 10), t("nvarchar", 20), true},
        {t("nvarchar", 20), t("nvarchar", 10), false},
        {t("nvarchar", 10), t("varchar", 20), false},
        {t("varchar", 10), t("nvarchar", 10), true},
        {t("char", 5), t("char", 5), true},
        {t("varchar", 5), t("char", 5), false},
        {t("nvarchar", 10), t("ntext"), true},
        {t("smalldatetime"), t("datetime"), true},
        {t("datetime"), t("smalldatetime"), false},
        {t("real"), t("float"), true},
        {t("float"), t("real"), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(translate::sameRepresentation(c.from, c.to), c.same) << c.from.toString() << " -> " << c.to.toString();
}

}  // namespace
