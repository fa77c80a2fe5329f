#include "Connection.h"

#include <cstdlib>

#include "ConnectionString.h"
#include "EngineProvider.h"
#include "Interruption.h"
#include "OdbcProvider.h"
#include "Recordset.h"
#include "platform/jet/AccessFile.h"
#include "platform/text/Text.h"

namespace vopa::data {
namespace {

// The local Access file: held open, never read.
class JetProvider final : public Provider {
public:
    explicit JetProvider(const std::string& file) try : file_(file) {
    } catch (const std::runtime_error& e) {
        throw DataError(errors::DataSourceNotFound, e.what());
    }
    std::vector<StatementOutcome> executeBatch(const std::string&) override { refuse(); }
    std::int64_t insertRow(const ResultSet&, const std::vector<std::pair<std::string, Value>>&) override { refuse(); }
    void updateRow(const ResultSet&, std::int64_t, const std::vector<std::pair<std::string, Value>>&) override {
        refuse();
    }
    void deleteRow(const ResultSet&, std::int64_t) override { refuse(); }
    std::vector<Value> readRow(const ResultSet&, std::int64_t) override { refuse(); }
    std::vector<TableEntry> listTables() override { return {}; }

private:
    [[noreturn]] static void refuse() {
        throw DataError(errors::DataSourceNotFound,
                        "The local Access file is held for the suite's other programs; this program does not read it.");
    }
    jet::AccessFile file_;
};

bool isSqlServerDriver(const std::string& driver) {
    return text::equalsNoCase(driver, "SQL Server") || text::equalsNoCase(driver, "SQL Native Client") ||
           text::equalsNoCase(driver, "SQL Server Native Client 10.0") || text::equalsNoCase(driver, "FreeTDS");
}

}  // namespace

std::unique_ptr<Provider> openProvider(const std::string& connectionString, const std::string& user,
                                       const std::string& password) {
    ConnectionString cs(connectionString);
    const std::string provider = cs.provider();
    if (text::toLower(provider).rfind("microsoft.jet.oledb", 0) == 0)
        return std::make_unique<JetProvider>(cs.dataSource());
    if (isSqlServerDriver(cs.driver()) || text::equalsNoCase(provider, "SQLOLEDB")) {
        const char* odbc = std::getenv("VOPA_ODBC_DRIVER");
        if (odbc && *odbc) return std::make_unique<OdbcProvider>(odbc, cs, user, password);
        return std::make_unique<EngineProvider>(cs, user, password);
    }
    if (!provider.empty())
        throw DataError(errors::NoProvider, "Provider cannot be found. It may not be properly installed.");
    throw DataError(errors::DataSourceNotFound,
                    "[Microsoft][ODBC Driver Manager] Data source name not found and no default driver specified");
}

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::setConnectionString(const std::string& text) {
    if (isOpen()) throw DataError(errors::ObjectOpen, "Operation is not allowed when the object is open.");
    connectionString_ = text;
}

void Connection::open(const std::string& connectionString, const std::string& user, const std::string& password,
                      int) {
    if (isOpen()) throw DataError(errors::ObjectOpen, "Operation is not allowed when the object is open.");
    if (!connectionString.empty()) connectionString_ = connectionString;
    checkInterruption();
    provider_ = openProvider(connectionString_, user, password);
}

void Connection::close() {
    if (!isOpen()) throw DataError(errors::ObjectClosed, "Operation is not allowed when the object is closed.");
    provider_.reset();
}

std::vector<TableEntry> Connection::tables() { return provider().listTables(); }

Provider& Connection::provider() {
    if (!provider_) throw DataError(errors::ObjectClosed, "Operation is not allowed when the object is closed.");
    return *provider_;
}

std::shared_ptr<Recordset> Connection::execute(const std::string& text, std::int64_t* recordsAffected, int) {
    checkInterruption();
    Provider::BatchResult result = provider().execute(text);
    if (recordsAffected) *recordsAffected = result.recordsAffected;
    auto rs = std::make_shared<Recordset>();
    if (result.rows) rs->attach(std::move(*result.rows), this);
    return rs;
}

}  // namespace vopa::data
