#include "TableChecks.h"

#include <functional>

#include "config/ConnectionStrings.h"
#include "config/ConfigFiles.h"
#include "platform/text/Text.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::company {
namespace {

// Opens `connectionString` and asks `matches` of every listed table; false when the database cannot
// be reached.
bool anyTable(const std::function<std::string()>& connectionString,
              const std::function<bool(const data::TableEntry&)>& matches) {
    bool found = false;
    util::ignoreErrors([&] {
        data::Connection own;
        own.open(connectionString());
        for (const data::TableEntry& t : own.tables())
            if (matches(t)) {
                found = true;
                break;
            }
        own.close();
    });
    return found;
}

bool tableOrLink(const data::TableEntry& t) { return t.type == "TABLE" || t.type == "LINK"; }

}  // namespace

bool tableExists(const std::string& name, state::GlobalState& g) {
    return anyTable(
        [&] { return config::addressDatabaseConnection(config::readServerAddress(g), g.CompanyDatabaseName); },
        [&](const data::TableEntry& t) { return tableOrLink(t) && text::toLower(t.name) == text::toLower(name); });
}

bool companySchemaHas(const std::string& name, state::GlobalState& g) {
    return anyTable([&] { return g.CompanyConnectionString; },
                    [&](const data::TableEntry& t) { return t.type == "TABLE" && text::equalsNoCase(t.name, name); });
}

bool trainingSchemaHas(const std::string& name, state::GlobalState& g) {
    return anyTable([&] { return g.ServerConnectionString; },
                    [&](const data::TableEntry& t) { return t.type == "TABLE" && text::equalsNoCase(t.name, name); });
}

bool trainingBudgetTableExists(const std::string& budgetTableName, state::GlobalState& g) {
    if (budgetTableName.empty()) return false;
    return anyTable(
        [&] { return config::addressDatabaseConnection(config::readServerAddress(g), config::kTrainingDatabase); },
        [&](const data::TableEntry& t) { return tableOrLink(t) && t.name == budgetTableName; });
}

double configuredAccount16(state::GlobalState& g) {
    data::Recordset rs;
    rs.open("SELECT  * From TabellaContiUtili where id = 16 ", g.SharedConnection, data::CursorType::Keyset,
            data::LockType::Pessimistic);
    double result = 0;
    if (!rs.eof()) {
        rs.moveFirst();
        Value account = rs.field("idconto");
        if (!util::isEmptyValue(account)) result = account.toDouble();
    }
    rs.close();
    return result;
}

}  // namespace vopa::company
