// The answers of the request dispatcher read back token by token: the DONE flags and counts of
// multi-statement batches, the lines of errors, the wire type of each stored type, parameters of every
// type and output parameters of RPCs, prepared statements, and the reset of a pooled connection.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/engine/Server.h"
#include "server/RequestDispatch.h"
#include "server/tds/Protocol.h"
#include "support/TempDrive.h"

using namespace vopa;
using namespace vopa::tds;

namespace {

std::string flags(std::uint16_t status) {
    std::string s;
    if (status & done::kMore) s += "+more";
    if (status & done::kError) s += "+error";
    if (status & done::kCount) s += "+count";
    return s;
}

// The tokens of an answer, one line each: "DONE+more+count 2", "ERROR 208 line 3", "ROW 1|x", ...
std::vector<std::string> tokens(const Bytes& answer) {
    std::vector<std::string> out;
    Reader r(answer, "answer");
    std::vector<TypeInfo> columns;
    while (!r.atEnd()) {
        const std::uint8_t t = r.u8("token");
        if (t == token::kDone || t == token::kDoneProc || t == token::kDoneInProc) {
            const std::uint16_t status = r.u16("status");
            r.u16("command");
            const std::uint64_t count = r.u64("count");
            out.push_back(std::string(t == token::kDone ? "DONE" : t == token::kDoneProc ? "DONEPROC" : "DONEINPROC") +
                          flags(status) + ((status & done::kCount) ? " " + std::to_string(count) : ""));
        } else if (t == token::kError || t == token::kInfo) {
            r.u16("length");
            const std::uint32_t number = r.u32("number");
            r.u8("state");
            r.u8("class");
            r.usVarchar("text");
            r.bVarchar("server");
            r.bVarchar("procedure");
            const std::uint32_t line = r.u32("line");
            out.push_back((t == token::kError ? "ERROR " : "INFO ") + std::to_string(number) + " line " + std::to_string(line));
        } else if (t == token::kEnvChange) {
            const std::uint16_t length = r.u16("length");
            const std::uint8_t type = r.u8("type");
            if (type == env::kDatabase) {
                out.push_back("ENV database " + r.bVarchar("new"));
                r.bVarchar("old");
            } else {
                r.skip(length - 1u, "env");
                out.push_back("ENV " + std::to_string(type));
            }
        } else if (t == token::kReturnStatus) {
            out.push_back("STATUS " + std::to_string(static_cast<std::int32_t>(r.u32("status"))));
        } else if (t == token::kReturnValue) {
            r.u16("ordinal");
            const std::string name = r.bVarchar("name");
            r.u8("status");
            r.u32("user type");
            r.u16("flags");
            const TypeInfo type = readTypeInfo(r);
            out.push_back("VALUE " + name + "=" + readValue(r, type).toString());
        } else if (t == token::kColMetadata) {
            columns.assign(r.u16("count"), TypeInfo{});
            std::string line = "COLUMNS";
            for (TypeInfo& c : columns) {
                r.u32("user type");
                r.u16("flags");
                c = readTypeInfo(r);
                if (c.isLob())
                    for (int parts = r.u8("table name parts"); parts > 0; --parts) r.usVarchar("table name");
                r.bVarchar("name");
                char type[24];
                std::snprintf(type, sizeof type, " %02X/%d", static_cast<unsigned>(c.type), static_cast<int>(c.maxLength));
                line += type;
            }
            out.push_back(line);
        } else if (t == token::kNbcRow || t == token::kRow) {
            Bytes bitmap(t == token::kNbcRow ? (columns.size() + 7) / 8 : 0);
            for (auto& b : bitmap) b = r.u8("bitmap");
            std::string row = "ROW ";
            for (std::size_t i = 0; i < columns.size(); ++i) {
                bool null = !bitmap.empty() && (bitmap[i / 8] >> (i % 8)) & 1;
                // text, ntext and image: a text pointer and a timestamp before the value, none for NULL.
                if (!null && columns[i].isLob()) {
                    const std::uint8_t pointer = r.u8("text pointer length");
                    null = pointer == 0;
                    if (!null) r.skip(pointer + 8u, "text pointer and timestamp");
                }
                row += (i ? "|" : "") + (null ? std::string("NULL") : readValue(r, columns[i]).toString());
            }
            out.push_back(row);
        } else {
            out.push_back("? " + std::to_string(t));
            break;
        }
    }
    return out;
}

using Lines = std::vector<std::string>;

RpcParameter parameter(const std::string& name, TypeInfo type, Value value, std::uint8_t status = 0) {
    return RpcParameter{name, status, type, std::move(value)};
}
RpcParameter text(const std::string& value) { return parameter("", TypeInfo::nVarChar(4000), Value::string(value)); }

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() {
        engine::Session setup(engine::ConnectOptions{"(local)", "", "sa", ""});
        setup.execute("CREATE DATABASE Prova");
        setup.execute("CREATE TABLE Prova.dbo.t (a int NOT NULL)");
    }
    server::RequestDispatcher connect() {
        return server::RequestDispatcher(engine::ConnectOptions{"(local)", "Prova", "sa", ""}, version::k74, "PC");
    }
    Lines batch(server::RequestDispatcher& d, const std::string& sql) { return tokens(d.batch(SqlBatch{{}, sql})); }
    Lines rpc(server::RequestDispatcher& d, const std::string& procedure, std::vector<RpcParameter> parameters) {
        RpcRequest request;
        request.calls.push_back(RpcCall{procedure, std::nullopt, 0, std::move(parameters)});
        return tokens(d.rpc(request));
    }

    vopa::testing::TempDrive drive_;
};

TEST_F(DispatchTest, BatchStatementsEndInDonesWithMoreAndCountSetRight) {
    auto d = connect();
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"DECLARE @x int", {"DONE"}},
        {"INSERT INTO t VALUES (1), (2)", {"DONE+count 2"}},
        {"INSERT INTO t VALUES (3)\nSELECT a FROM t WHERE a = 3\nSET DATEFORMAT dmy",
         {"DONE+more+count 1", "COLUMNS 26/4", "ROW 3", "DONE+count 1"}},
        {"UPDATE t SET a = a WHERE a > 100\nDELETE FROM t WHERE a = 3",
         {"DONE+more+count 0", "DONE+count 1"}},
        {"SELECT 1\n\n  SELECT * FROM nessuna\nSELECT 2",
         {"COLUMNS 26/4", "ROW 1", "DONE+more+count 1", "ERROR 208 line 3", "DONE+error"}},
        {"INSERT INTO t VALUES (NULL)\nSELECT COUNT(*) FROM t",
         {"ERROR 515 line 1", "INFO 3621 line 1", "DONE+more+error", "COLUMNS 26/4", "ROW 2", "DONE+count 1"}},
        {"SELECT 1 FROM WHERE", {"ERROR 156 line 1", "DONE+error"}},
        {"USE master\nSELECT 5\nUSE Prova", {"COLUMNS 26/4", "ROW 5", "DONE+count 1"}},
        {"USE master", {"ENV database master", "INFO 5701 line 1", "DONE"}},
        // What the usual drivers send once connected.
        {"set quoted_identifier on\nset arithabort off\nset numeric_roundabort off\nset ansi_warnings on\n"
         "set ansi_padding on\nset ansi_nulls on\nset concat_null_yields_null on\nset cursor_close_on_commit off\n"
         "set implicit_transactions off\nset language us_english\nset dateformat mdy\nset datefirst 7\n"
         "set transaction isolation level read committed\nSET TEXTSIZE 2147483647\nSET NOCOUNT OFF\n"
         "SET ANSI_NULL_DFLT_ON ON\nSET LOCK_TIMEOUT -1",
         {"INFO 5703 line 1", "DONE"}},
    };
    for (const auto& [sql, expected] : cases) EXPECT_EQ(batch(d, sql), expected) << sql;
}

// Each stored type as the wire describes it (type and maximum length) and its value, then a row of
// NULLs (a bitmap of three bytes).
TEST_F(DispatchTest, EachStoredTypeGoesOutAsItsWireType) {
    auto d = connect();
    ASSERT_EQ(batch(d, "CREATE TABLE tipi (a bit, b tinyint, c smallint, d int, e bigint, f real, g float, h smallmoney,"
                       " i money, j decimal(19,2), k numeric(5,3), l datetime, m smalldatetime, n date, o char(4),"
                       " p varchar(10), q text, r nchar(3), s nvarchar(20), t ntext, u binary(3), v varbinary(10),"
                       " w image, x varchar(max))\n"
                       "INSERT INTO tipi VALUES (1, 255, -32768, -2147483648, 9223372036854775807, 1.5, -2.25,"
                       " -214748.3648, 922337203685477.5807, -12345678901234567.89, 12.345, '2024-02-29T23:59:59.997',"
                       " '2024-02-29T10:20:00', '2024-02-29', 'ab', 'caff\xC3\xA8', 'lungo testo', N'\xE2\x82\xAC',"
                       " N'citt\xC3\xA0 \xC4\xB3 \xE2\x82\xAC', N'note', 0x0A0B, 0x00FF10, 0xCAFE, 'senza limite')\n"
                       "INSERT INTO tipi DEFAULT VALUES"),
              (Lines{"DONE+more+count 1", "DONE+count 1"}));
    const std::string binaries("\x0A\x0B\0|\0\xFF\x10|\xCA\xFE", 10);
    std::string nulls = "ROW NULL";
    for (int i = 1; i < 24; ++i) nulls += "|NULL";
    EXPECT_EQ(batch(d, "SELECT * FROM tipi ORDER BY a DESC"),
              (Lines{"COLUMNS 68/1 26/1 26/2 26/4 26/8 6D/4 6D/8 6E/4 6E/8 6A/9 6C/5 6F/8 6F/4 28/3 AF/4 A7/10 23/2147483647 "
                     "EF/6 E7/40 63/2147483646 AD/3 A5/10 22/2147483647 A7/65535",
                     "ROW True|255|-32768|-2147483648|9223372036854775807|1.5|-2.25|-214748.3648|922337203685477.5807|"
                     "-12345678901234567.89|12.345|2024-02-29 23:59:59.997|2024-02-29 10:20:00|2024-02-29|ab  |caff\xC3\xA8|"
                     "lungo testo|\xE2\x82\xAC  |citt\xC3\xA0 \xC4\xB3 \xE2\x82\xAC|note|" + binaries + "|senza limite",
                     nulls, "DONE+count 2"}));
}

// A value of each type given as a parameter is declared and assigned as that value, never as text
// that could end the statement.
TEST_F(DispatchTest, ParametersOfEveryTypeKeepTheirValues) {
    auto d = connect();
    struct Case {
        const char* declared;
        TypeInfo type;
        Value value;
        std::string shown;
    };
    const Value when = Value::date(DateTime::fromParts(2009, 3, 5, 13, 45, 30, 500));
    const Case cases[] = {
        {"tinyint", TypeInfo::intN(1), Value::byte(255), "255"},
        {"smallint", TypeInfo::intN(2), Value::integer(-32768), "-32768"},
        {"int", TypeInfo::intN(4), Value::longInt(2147483647), "2147483647"},
        {"bigint", TypeInfo::intN(8), Value::bigInt(-9007199254740993), "-9007199254740993"},
        {"int", TypeInfo::intN(4), Value::null(), "NULL"},
        {"bit", TypeInfo::bit(), Value::boolean(true), "True"},
        {"real", TypeInfo::floatN(4), Value::single(1.5f), "1.5"},
        {"float", TypeInfo::floatN(8), Value::dbl(-0.125), "-0.125"},
        {"decimal(12,3)", TypeInfo::decimal(12, 3), Value::decimal({-123456789125, 3}), "-123456789.125"},
        {"money", TypeInfo::money(), Value::currency({9223372036854775807}), "922337203685477.5807"},
        {"smallmoney", TypeInfo::smallMoney(), Value::currency({-2147483648}), "-214748.3648"},
        {"datetime", TypeInfo::dateTime(), when, "2009-03-05 13:45:30.500"},
        {"smalldatetime", TypeInfo::dateTime(), when, "2009-03-05 13:46:00"},
        {"datetime2(7)", TypeInfo::dateTime(), when, "2009-03-05 13:45:30.500"},
        {"date", TypeInfo::date(), Value::date(DateTime::fromParts(2009, 3, 5, 0, 0, 0, 0)), "2009-03-05"},
        {"char(6)", TypeInfo::fixedChar(6), Value::string("Citt\xC3\xA0"), "Citt\xC3\xA0 "},
        {"varchar(60)", TypeInfo::varChar(60), Value::string("O'Brien'); DROP TABLE t; --"), "O'Brien'); DROP TABLE t; --"},
        {"nvarchar(20)", TypeInfo::nVarChar(20), Value::string("\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD"),
         "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD"},
        {"nchar(3)", TypeInfo::nChar(3), Value::string("\xE2\x82\xAC" "a"), "\xE2\x82\xAC" "a "},
        {"binary(3)", TypeInfo::binary(3), Value::string("\x0A\x0B"), std::string("\x0A\x0B\0", 3)},
        {"varbinary(10)", TypeInfo::varBinary(10), Value::string(std::string("\0\xFF\x10", 3)),
         std::string("\0\xFF\x10", 3)},
    };
    for (const Case& k : cases) {
        const Lines answer = rpc(d, "sp_executesql", {text("SELECT @v"), text(std::string("@v ") + k.declared),
                                                      parameter("@v", k.type, k.value)});
        ASSERT_GE(answer.size(), 2u) << k.declared;
        EXPECT_EQ(answer[1], "ROW " + k.shown) << k.declared << ": " << answer[0];
    }
}

TEST_F(DispatchTest, ExecuteSqlBindsParametersAndReturnsOutputValues) {
    auto d = connect();
    const RpcParameter output = parameter("@n", TypeInfo::intN(4), Value::null(), rpc::kByRef);
    EXPECT_EQ(rpc(d, "sp_executesql",
                  {text("INSERT INTO t VALUES (@a)\nSET @n = @a * 2"), text("@a int, @n int OUTPUT"),
                   parameter("@a", TypeInfo::intN(4), Value::longInt(7)), output}),
              (Lines{"DONEINPROC+more+count 1", "STATUS 0", "VALUE @n=14", "DONEPROC"}));
    EXPECT_EQ(rpc(d, "sp_executesql",
                  {text("SET @n = @a + 1\nSELECT @s AS s, @d AS d"), text("@a int, @n int OUTPUT, @s nvarchar(20), @d datetime2(7)"),
                   parameter("@a", TypeInfo::intN(4), Value::longInt(41)), output,
                   parameter("@s", TypeInfo::nVarChar(20), Value::string("it's; --")),
                   parameter("@d", TypeInfo::dateTime(), Value::date(DateTime::fromParts(2024, 2, 29, 10, 20, 30, 500)))}),
              (Lines{"COLUMNS E7/40 6F/8", "ROW it's; --|2024-02-29 10:20:30.500", "DONEINPROC+more+count 1", "STATUS 0", "VALUE @n=42",
                     "DONEPROC"}));
    // Lines count from the client's statement, not from the declarations put before it.
    EXPECT_EQ(rpc(d, "sp_executesql", {text("SELECT @a\nSELECT * FROM nessuna"), text("@a int"),
                                       parameter("@a", TypeInfo::intN(4), Value::longInt(1))}),
              (Lines{"COLUMNS 26/4", "ROW 1", "DONEINPROC+more+count 1", "ERROR 208 line 2", "DONEINPROC+more+error",
                     "STATUS 0", "DONEPROC+error"}));
    EXPECT_EQ(rpc(d, "sp_executesql", {text("SELECT @a"), text("@a int")}),
              (Lines{"ERROR 8178 line 1", "STATUS -6", "DONEPROC+error"}));
}

TEST_F(DispatchTest, PreparedStatementsRunByHandleUntilUnprepared) {
    auto d = connect();
    const RpcParameter handle = parameter("@h", TypeInfo::intN(4), Value::null(), rpc::kByRef);
    EXPECT_EQ(rpc(d, "sp_prepare", {handle, text("@a int"), text("INSERT INTO t VALUES (@a)")}),
              (Lines{"STATUS 0", "VALUE @h=1", "DONEPROC"}));
    const auto run = [&](int h, int a) {
        return rpc(d, "sp_execute", {parameter("", TypeInfo::intN(4), Value::longInt(h)),
                                     parameter("@a", TypeInfo::intN(4), Value::longInt(a))});
    };
    EXPECT_EQ(run(1, 10), (Lines{"DONEINPROC+more+count 1", "STATUS 0", "DONEPROC"}));
    EXPECT_EQ(rpc(d, "sp_prepexec", {handle, text("@a int"), text("SELECT COUNT(*) FROM t WHERE a = @a"),
                                     parameter("@a", TypeInfo::intN(4), Value::longInt(10))}),
              (Lines{"COLUMNS 26/4", "ROW 1", "DONEINPROC+more+count 1", "STATUS 0", "VALUE @h=2", "DONEPROC"}));
    EXPECT_EQ(rpc(d, "sp_unprepare", {parameter("", TypeInfo::intN(4), Value::longInt(1))}),
              (Lines{"STATUS 0", "DONEPROC"}));
    EXPECT_EQ(run(1, 11), (Lines{"ERROR 8179 line 1", "STATUS -6", "DONEPROC+error"}));
}

TEST_F(DispatchTest, AResetGivesTheNextUserAFreshSession) {
    auto d = connect();
    const RpcParameter handle = parameter("@h", TypeInfo::intN(4), Value::null(), rpc::kByRef);
    rpc(d, "sp_prepare", {handle, text(""), text("SELECT 1")});
    batch(d, "USE master\nSET DATEFORMAT dmy\nBEGIN TRANSACTION");
    EXPECT_EQ(tokens(d.reset()), Lines{"ENV 18"});
    EXPECT_EQ(d.currentDatabase(), "Prova");
    EXPECT_EQ(batch(d, "SELECT @@TRANCOUNT, CAST('2000-12-31' AS datetime)"),
              (Lines{"COLUMNS 26/4 6F/8", "ROW 0|2000-12-31", "DONE+count 1"}));
    EXPECT_EQ(rpc(d, "sp_execute", {parameter("", TypeInfo::intN(4), Value::longInt(1))}),
              (Lines{"ERROR 8179 line 1", "STATUS -6", "DONEPROC+error"}));
}

}  // namespace
