#include "Command.h"

namespace vopa::data {

std::shared_ptr<Recordset> Command::execute(std::int64_t* recordsAffected) {
    if (!activeConnection || !activeConnection->isOpen())
        throw DataError(3709, "The connection cannot be used to perform this operation. It is either closed or invalid "
                              "in this context.");
    return activeConnection->execute(commandText, recordsAffected);
}

}  // namespace vopa::data
