#include "Provider.h"

#include "platform/text/Text.h"

namespace vopa::data {
namespace {

constexpr int kCannotConnect = 17;  // SQL Server does not exist or access denied.

}  // namespace

int ResultSet::columnIndex(std::string_view name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (text::equalsNoCase(columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

DataError fromServer(const ServerError& e) {
    if (e.number == kCannotConnect) return DataError(e.number, e.message);
    return DataError(e.number, std::string(kServerErrorPrefix) + e.message);
}

Provider::BatchResult Provider::execute(const std::string& batch) {
    BatchResult result;
    std::optional<ServerError> first;
    for (StatementOutcome& o : executeBatch(batch)) {
        if (o.error && !first) first = o.error;
        if (o.resultSet && !result.rows) result.rows = std::move(o.resultSet);
        if (o.rowsAffected >= 0 && !o.resultSet) result.recordsAffected = o.rowsAffected;
    }
    if (first) throw fromServer(*first);
    return result;
}

}  // namespace vopa::data
