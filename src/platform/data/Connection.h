#pragma once
// A database connection as the program uses it: open with a connection text, execute statement
// texts, close. The provider is chosen from the text: "Driver=SQL Server" goes to the embedded engine
// (or to a real server through ODBC when VOPA_ODBC_DRIVER names a driver); "Provider=Microsoft.Jet..."
// to the local Access file stand-in.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Provider.h"

namespace vopa::data {

class Recordset;

enum class ObjectState { Closed = 0, Open = 1 };

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens with `connectionString` (or the one set before when empty). Throws DataError; a failed
    // open leaves the connection closed. Opening an open connection is error 3705.
    void open(const std::string& connectionString = {}, const std::string& user = {},
              const std::string& password = {}, int options = -1);
    // Closes; closing a closed connection is error 3704.
    void close();
    bool isOpen() const { return provider_ != nullptr; }
    ObjectState state() const { return isOpen() ? ObjectState::Open : ObjectState::Closed; }

    const std::string& connectionString() const { return connectionString_; }
    void setConnectionString(const std::string& text);

    // Runs a statement text (a batch). Returns the rows of its first result set as a read-only
    // recordset, or a closed one when it returned none. Throws DataError (the first error).
    std::shared_ptr<Recordset> execute(const std::string& text, std::int64_t* recordsAffected = nullptr,
                                       int options = -1);

    // The database's tables with their types ("TABLE", "VIEW", "SYSTEM TABLE", "LINK"), as the
    // catalog and the schema listing of the database show them.
    std::vector<TableEntry> tables();

    int commandTimeout = 30;
    int connectionTimeout = 15;

    // The provider of the open connection; throws 3704 when closed.
    Provider& provider();

private:
    std::string connectionString_;
    std::unique_ptr<Provider> provider_;
};

}  // namespace vopa::data
