// The answers of the request dispatcher read back token by token: the DONE flags and counts of
// multi-statement batches, the lines of errors, parameters and output parameters of RPCs, prepared
// statements, and the reset of a pooled connection.

#include <gtest/gtest.h>

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
            for (TypeInfo& c : columns) {
                r.u32("user type");
                r.u16("flags");
                c = readTypeInfo(r);
                r.bVarchar("name");
            }
            out.push_back("COLUMNS " + std::to_string(columns.size()));
        } else if (t == token::kNbcRow || t == token::kRow) {
            Bytes bitmap(t == token::kNbcRow ? (columns.size() + 7) / 8 : 0);
            for (auto& b : bitmap) b = r.u8("bitmap");
            std::string row = "ROW ";
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const bool null = !bitmap.empty() && (bitmap[i / 8] >> (i % 8)) & 1;
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
         {"DONE+more+count 1", "COLUMNS 1", "ROW 3", "DONE+count 1"}},
        {"UPDATE t SET a = a WHERE a > 100\nDELETE FROM t WHERE a = 3",
         {"DONE+more+count 0", "DONE+count 1"}},
        {"SELECT 1\n\n  SELECT * FROM nessuna\nSELECT 2",
         {"COLUMNS 1", "ROW 1", "DONE+more+count 1", "ERROR 208 line 3", "DONE+error"}},
        {"INSERT INTO t VALUES (NULL)\nSELECT COUNT(*) FROM t",
         {"ERROR 515 line 1", "INFO 3621 line 1", "DONE+more+error", "COLUMNS 1", "ROW 2", "DONE+count 1"}},
        {"SELECT 1 FROM WHERE", {"ERROR 156 line 1", "DONE+error"}},
        {"USE master\nSELECT 5\nUSE Prova", {"COLUMNS 1", "ROW 5", "DONE+count 1"}},
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
              (Lines{"COLUMNS 2", "ROW it's; --|2024-02-29 10:20:30.500", "DONEINPROC+more+count 1", "STATUS 0", "VALUE @n=42",
                     "DONEPROC"}));
    // Lines count from the client's statement, not from the declarations put before it.
    EXPECT_EQ(rpc(d, "sp_executesql", {text("SELECT @a\nSELECT * FROM nessuna"), text("@a int"),
                                       parameter("@a", TypeInfo::intN(4), Value::longInt(1))}),
              (Lines{"COLUMNS 1", "ROW 1", "DONEINPROC+more+count 1", "ERROR 208 line 2", "DONEINPROC+more+error",
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
              (Lines{"COLUMNS 1", "ROW 1", "DONEINPROC+more+count 1", "STATUS 0", "VALUE @h=2", "DONEPROC"}));
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
              (Lines{"COLUMNS 2", "ROW 0|2000-12-31", "DONE+count 1"}));
    EXPECT_EQ(rpc(d, "sp_execute", {parameter("", TypeInfo::intN(4), Value::longInt(1))}),
              (Lines{"ERROR 8179 line 1", "STATUS -6", "DONEPROC+error"}));
}

}  // namespace
