// The conformance files through the wire, as the program reaches a real server: the data layer's ODBC
// provider, unixODBC, the FreeTDS driver and vopa-server, started with `--port 0` on a fresh drive C:
// for each file. Rows and messages must be those the files expect in-process; what the driver cannot
// carry the same way is turned into the same text below (each rule says why), and what cannot be made
// the same is on the runner's list of known differences.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/Conformance.h"
#include "platform/data/Connection.h"
#include "platform/data/EngineProvider.h"
#include "platform/engine/Display.h"
#include "support/ServerProcess.h"
#include "support/TempDrive.h"

namespace fs = std::filesystem;
using namespace vopa::testing::conformance;
namespace data = vopa::data;

namespace {

const char* const kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
const char* const kSaPassword = "conformita";

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* v = std::getenv(name)) previous_ = v;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (previous_) ::setenv(name_, previous_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// The bytes written as hex digits, two a byte; nullopt when `hex` is not such a text.
std::optional<std::string> bytesOf(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned byte = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &byte) != 1 || !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
            return std::nullopt;
        bytes.push_back(static_cast<char>(byte));
    }
    return bytes;
}

// The text of one value as the in-process run shows it: the data layer's value of the column's type,
// shown by the engine's display for that type (numbers, money, dates and texts come out alike).
std::string shown(const vopa::Value& value, const data::ColumnType& type) {
    using Kind = data::ColumnType::Kind;
    // Binary data: the driver hands it over as lower-case hex digits without "0x" (its text form of
    // SQL_BINARY, SQL_VARBINARY and SQL_LONGVARBINARY), and the provider keeps that text; the engine
    // holds the bytes themselves. The bytes the digits stand for show as the engine shows its own.
    if ((type.kind == Kind::Image || type.kind == Kind::Binary || type.kind == Kind::VarBinary) &&
        value.kind() == vopa::Value::Kind::String)
        if (const std::optional<std::string> bytes = bytesOf(value.asString()))
            return vopa::engine::displayText(vopa::Value::string(*bytes), data::engineTypeOf(type));
    return vopa::engine::displayText(value, data::engineTypeOf(type));
}

// The informational messages the server sends for a statement that shows nothing else (USE 5701,
// SET LANGUAGE 5703, sp_configure 15457): they travel with the answer to the next statement.
bool isStatementInformation(const std::string& message) {
    for (const char* start : {"Changed database context to '", "Changed language setting to ", "Configuration option "})
        if (message.rfind(start, 0) == 0) return true;
    return false;
}

// The error's text and the messages that follow it, from the provider's description of the error.
std::vector<std::string> messagesOf(const std::string& text) {
    // The driver writes each diagnostic record as "[FreeTDS][SQL Server]text", and the provider joins
    // the records with line breaks: one message a record, without the driver's prefix.
    static const std::string kPrefix = "[FreeTDS][SQL Server]";
    std::vector<std::string> messages;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find("\n" + kPrefix, at);
        if (end == std::string::npos) end = text.size();
        std::string m = text.substr(at, end - at);
        if (m.rfind(kPrefix, 0) == 0) m.erase(0, kPrefix.size());
        // The driver keeps every record of one answer together, errors ranked first, so the
        // informational message of an earlier statement of the batch (USE, SET LANGUAGE) lands after the
        // error's own lines; in-process it belongs to that earlier statement, not to the error.
        if (!isStatementInformation(m)) messages.push_back(m);
        at = end + 1;
    }
    return messages;
}

class ThroughWire final : public Executor {
public:
    ThroughWire()
        : driver_("VOPA_ODBC_DRIVER", kDriver),
          options_("VOPA_ODBC_OPTIONS", "Port=" + std::to_string(server_.port()) +
                                            ";TDS_Version=7.4;ClientCharset=UTF-8;UID=sa;PWD=" + kSaPassword + ";") {}
    // The clients leave, then the server must end cleanly on SIGTERM.
    ~ThroughWire() override {
        connection_ = nullptr;
        connections_.clear();
        EXPECT_EQ(server_.stop(), 0) << "vopa-server did not end cleanly";
    }

    void connect(const std::string& name, const std::string& database) override {
        auto& c = connections_[name];
        if (!c) {
            c = std::make_unique<data::Connection>();
            c->open("Driver=SQL Server;Server=127.0.0.1;" + (database.empty() ? "" : "Database=" + database + ";"));
        }
        connection_ = c.get();
    }

    std::vector<StatementResult> execute(const std::string& batch) override {
        std::vector<StatementResult> results;
        for (const data::StatementOutcome& o : connection_->provider().executeBatch(batch)) {
            StatementResult r;
            if (o.error) {
                r.error = o.error->number;
                r.messages = messagesOf(o.error->message);
            }
            r.rowsAffected = o.rowsAffected;
            if (o.resultSet) {
                r.hasResult = true;
                r.columns = o.resultSet->columns.size();
                for (const auto& row : o.resultSet->rows) {
                    std::vector<std::string> texts;
                    for (std::size_t i = 0; i < row.size(); ++i) texts.push_back(shown(row[i], o.resultSet->columns[i].type));
                    r.rows.push_back(std::move(texts));
                }
            }
            results.push_back(std::move(r));
        }
        return results;
    }

private:
    ScopedVariable password_{"VOPA_SA_PASSWORD", kSaPassword};  // read by the server at its first start
    vopa::testing::ServerProcess server_{VOPA_SERVER_PATH};
    ScopedVariable driver_, options_;
    std::map<std::string, std::unique_ptr<data::Connection>> connections_;
    data::Connection* connection_ = nullptr;
};

class Conformance : public ::testing::TestWithParam<fs::path> {};

TEST_P(Conformance, File) {
    vopa::testing::TempDrive drive;
    ThroughWire executor;
    runFile(GetParam(), executor, &wireDifferences());
}

// A listed difference that names no statement would never be checked.
TEST(WireDifferences, EachNamesAStatementOfAFile) {
    for (const KnownDifference& d : wireDifferences()) EXPECT_TRUE(namesStatement(d.where)) << d.where;
}

INSTANTIATE_TEST_SUITE_P(Wire, Conformance, ::testing::ValuesIn(files()),
                         [](const auto& param) { return testName(param.param); });

}  // namespace
