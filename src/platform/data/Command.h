#pragma once
// A command object bound to a connection: command type and time-out, and execution of its text.

#include <memory>
#include <string>

#include "Connection.h"
#include "Recordset.h"

namespace vopa::data {

enum class CommandType { Text = 1, Table = 2, StoredProcedure = 4, Unknown = 8 };

class Command {
public:
    Connection* activeConnection = nullptr;
    CommandType commandType = CommandType::Unknown;
    int commandTimeout = 30;
    std::string commandText;

    // Runs commandText on the active connection (3709 when there is none or it is closed).
    std::shared_ptr<Recordset> execute(std::int64_t* recordsAffected = nullptr);
};

}  // namespace vopa::data
