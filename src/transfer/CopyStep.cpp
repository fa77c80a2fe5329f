#include "CopyStep.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "platform/data/DataError.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageService.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::transfer {
namespace {

using util::ignoreErrors;

// The project fields the refresh takes from the company row, in order.
const char* const kProjectFields[] = {
    "id", "IdFinanziatore", "Type", "Number", "Description", "titolobreve", "iddatestart", "IdDateProroga",
    "iddateend", "Report", "projectlocation", "kindofproject", "mese1", "mese2", "mese3", "mese4", "primoreport",
    "Revision", "idconto", "iddate", "idconto1", "idconto2", "idconto3", "idconto4", "idconto5", "idconto6",
    "idconto7", "IDConto8", "IDConto9", "idsede", "chiuso", "IdValutaReport", "IDConto10", "ComodoAutoNumberSede",
    "idsedelocale", "idDataBilancio", "InfoEuro", "QuotaOng", "QuotaTerzi", "QuotaVal", "mesiExtra",
};

std::string copyString(state::GlobalState& g) { return config::readServerAddress(g); }
std::string trainingCopyString(state::GlobalState& g) {
    return config::addressDatabaseConnection(config::readServerAddress(g), config::kTrainingDatabase);
}

void reopen(data::Connection& c, const std::string& connectionString) {
    if (c.isOpen()) ignoreErrors([&] { c.close(); });
    c.open(connectionString);
}

// A table's columns as a database lists them: name and the type text a column definition takes.
struct ColumnShape {
    std::string name;
    std::string type;
    bool identity = false;
};

// The columns of every table of a database, read in one query: the catalog views
// list a whole database each time they are named, so they are read once per copy, not once per table.
using TableColumns = std::map<std::string, std::vector<ColumnShape>>;  // by lower-case table name

TableColumns columnsOf(state::GlobalState& g, const std::string& database) {
    // Identity columns, by table, in a query of their own (one pass over the catalog, not one per column).
    std::map<std::string, std::string> identities;
    {
        data::Recordset rs;
        rs.open("SELECT o.name, c.name FROM " + util::identifier(database) + ".sys.columns c JOIN " +
                    util::identifier(database) + ".sys.objects o ON o.object_id = c.object_id WHERE c.is_identity = 1",
                g.ServerConnection, data::CursorType::Keyset, data::LockType::ReadOnly);
        for (; !rs.eof(); rs.moveNext())
            identities[text::toLower(rs.field(0).toString())] = text::toLower(rs.field(1).toString());
    }
    TableColumns tables;
    data::Recordset rs;
    rs.open("SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, NUMERIC_PRECISION, NUMERIC_SCALE "
            "FROM " + util::identifier(database) + ".INFORMATION_SCHEMA.COLUMNS ORDER BY TABLE_NAME, ORDINAL_POSITION",
            g.ServerConnection, data::CursorType::Keyset, data::LockType::ReadOnly);
    for (; !rs.eof(); rs.moveNext()) {
        ColumnShape c;
        const std::string table = text::toLower(rs.field(0).toString());
        c.name = rs.field(1).toString();
        c.type = rs.field(2).toString();
        const std::string lower = text::toLower(c.type);
        if (lower == "varchar" || lower == "nvarchar" || lower == "char" || lower == "nchar" || lower == "varbinary" ||
            lower == "binary") {
            const double length = rs.field(3).toDouble();
            c.type += length < 0 ? "(max)" : "(" + rs.field(3).toString() + ")";
        } else if (lower == "decimal" || lower == "numeric") {
            c.type += "(" + rs.field(4).toString() + ", " + rs.field(5).toString() + ")";
        }
        auto identity = identities.find(table);
        c.identity = identity != identities.end() && identity->second == text::toLower(c.name);
        tables[table].push_back(std::move(c));
    }
    return tables;
}

// A type text as the catalog gives it: a type name and its length, precision or scale in parentheses.
// Anything else is not pasted into a statement.
bool plainTypeName(const std::string& type) {
    for (unsigned char c : type)
        if (!(std::isalnum(c) || c == '(' || c == ')' || c == ',' || c == ' ')) return false;
    return !type.empty();
}

const ColumnShape* findColumn(const std::vector<ColumnShape>& columns, const std::string& name) {
    for (const ColumnShape& c : columns)
        if (text::equalsNoCase(c.name, name)) return &c;
    return nullptr;
}

// Makes the training table able to take the entry's rows, as the company database holds them: a table
// the training schema lacks is made with the company table's structure, a column it lacks is appended
// (NULL, of the company column's type). Returns the training table's columns.
const std::vector<ColumnShape>& prepareTarget(state::GlobalState& g, const CatalogueEntry& e, TableColumns& training,
                                              const TableColumns& company) {
    const std::string trainingName(config::kTrainingDatabase);
    const std::string key = text::toLower(e.table);
    static const std::vector<ColumnShape> none;
    auto source = company.find(key);
    auto target = training.find(key);
    if (target == training.end()) {
        if (source == company.end()) return none;  // neither has it: the copy fails as it always has
        g.SqlText = "SELECT * INTO " + util::identifier(trainingName) + ".[dbo]." + util::identifier(e.table) + " FROM " +
                    util::identifier(g.CompanyDatabaseName) + ".[dbo]." + util::identifier(e.table) + " WHERE 1 = 0";
        g.ServerConnection.execute(g.SqlText);
        // SELECT INTO gives the new table the company table's columns, identity included.
        return training[key] = source->second;
    }
    for (const std::string& column : e.insertColumns) {
        if (findColumn(target->second, column) || source == company.end()) continue;
        const ColumnShape* wanted = findColumn(source->second, column);
        if (!wanted) continue;  // the company lacks it too: the copy fails as it always has
        if (!plainTypeName(wanted->type)) continue;  // not a type this program makes: the copy fails as it would
        g.SqlText = "ALTER TABLE " + util::identifier(trainingName) + ".[dbo]." + util::identifier(e.table) + " ADD " +
                    util::identifier(wanted->name) + " " + wanted->type + " NULL";
        g.ServerConnection.execute(g.SqlText);
        target->second.push_back({wanted->name, wanted->type, false});
    }
    return target->second;
}

void identity(state::GlobalState& g, const std::string& table, bool on) {
    g.SqlText = identitySwitch(table, on);
    ignoreErrors([&] { g.ServerConnection.execute(g.SqlText); });
}

class Copy {
public:
    Copy(state::GlobalState& g, const std::vector<CatalogueEntry>& entries, const CopyReporter& reporter)
        : g_(g), entries_(entries), reporter_(reporter) {
        for (const CatalogueEntry& e : entries_)
            if (e.position > 0) ++count_;
    }

    void runGroup(int group);
    void setProgress(int twelfths) {
        // Single-precision arithmetic, as the bar has always been advanced: maximum / 12 * k.
        const float value = static_cast<float>(reporter_.maximum) / 12.0f * static_cast<float>(twelfths);
        if (reporter_.progress) reporter_.progress(static_cast<int>(value));
    }

private:
    void copyEntry(const CatalogueEntry& e, bool& trapped);
    void failed(const CatalogueEntry& e, const std::runtime_error& error);

    state::GlobalState& g_;
    const std::vector<CatalogueEntry>& entries_;
    const CopyReporter& reporter_;
    int count_ = 0;
    int done_ = 0;
    bool shapesRead_ = false;
    TableColumns trainingShapes_;
    TableColumns companyShapes_;
};

void Copy::failed(const CatalogueEntry& e, const std::runtime_error& error) {
    if (reporter_.failure) reporter_.failure(e.table, error.what());
    switch (e.mode) {
        case ErrorMode::Silent: break;
        case ErrorMode::Message: ui::messages().message(std::string(error.what()) + "\r\n" + g_.SqlText); break;
        case ErrorMode::MessageAndFlag:
            ui::messages().message(std::string(error.what()) + "\r\n" + g_.SqlText);
            g_.CopyFailureFlag = true;
            break;
    }
}

void Copy::copyEntry(const CatalogueEntry& e, bool& trapped) {
    if (e.hasFlag("switch_only")) {
        identity(g_, e.table, true);
        return;
    }
    if (e.hasFlag("not_executed")) {
        identity(g_, e.table, true);
        identity(g_, e.table, false);
        return;
    }
    if (reporter_.table) reporter_.table(e.table, ++done_, count_);
    // Identity values are copied only when the statement names the identity column; otherwise the
    // switch would make the server refuse the statement, and the training table numbers the rows.
    bool switchIdentity = e.identitySwitch();
    try {
        if (!shapesRead_) {
            trainingShapes_ = columnsOf(g_, std::string(config::kTrainingDatabase));
            companyShapes_ = columnsOf(g_, g_.CompanyDatabaseName);
            shapesRead_ = true;
        }
        const std::vector<ColumnShape>& target = prepareTarget(g_, e, trainingShapes_, companyShapes_);
        for (const ColumnShape& c : target)
            if (c.identity && std::none_of(e.insertColumns.begin(), e.insertColumns.end(), [&](const std::string& name) {
                    return text::equalsNoCase(name, c.name);
                }))
                switchIdentity = false;
    } catch (const std::runtime_error& error) {
        if (util::isInternalError(error)) throw;
        if (reporter_.failure) reporter_.failure(e.table, error.what());
    }
    if (switchIdentity) identity(g_, e.table, true);
    if (e.hasFlag("prepare_dizionario")) {
        g_.SqlText = "alter table dizionario add IdAutonumber int not null  identity(1,1)";
        ignoreErrors([&] { g_.SharedConnection.execute(g_.SqlText); });
    }
    auto execute = [&] {
        g_.SqlText = copyStatement(e, g_.CompanyDatabaseName);
        g_.ServerConnection.execute(g_.SqlText);
    };
    if (!trapped) {
        // After the double-entry table's first failure the group catches nothing more.
        execute();
    } else if (e.hasFlag("retry_once")) {
        try {
            execute();
        } catch (const std::runtime_error& error) {
            if (util::isInternalError(error)) throw;
            if (reporter_.failure) reporter_.failure(e.table, error.what());
            trapped = false;
            execute();
        }
    } else {
        try {
            execute();
        } catch (const std::runtime_error& error) {
            if (util::isInternalError(error)) throw;
            failed(e, error);
        }
    }
    if (switchIdentity) identity(g_, e.table, false);
    if (e.hasFlag("refresh_projects_after")) {
        if (trapped)
            try {
                refreshProjects(g_);
            } catch (const std::runtime_error& error) {
                if (util::isInternalError(error)) throw;
                failed(e, error);
            }
        else
            refreshProjects(g_);
    }
}

void Copy::runGroup(int group) {
    bool trapped = true;
    for (const CatalogueEntry& e : entries_)
        if (e.group == group) copyEntry(e, trapped);
}

}  // namespace

void refreshProjects(state::GlobalState& g) {
    reopen(g.ServerConnection, trainingCopyString(g));
    data::Recordset& training = g.SharedRecordset;
    data::Recordset& company = g.SharedRecordsets[1];
    // Whatever happens, the two recordsets are closed and the copy connection is back on the server, so
    // that a failure here leaves no row locked for the statements that follow.
    auto cleanUp = [&] {
        for (data::Recordset* rs : {&company, &training})
            if (rs->isOpen()) ignoreErrors([&] {
                rs->cancelUpdate();
                rs->close();
            });
    };
    try {
        if (training.isOpen()) training.close();
        training.open("progetti", g.ServerConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
        // Inside the walk every statement fails on its own, and the other projects are still refreshed: a
        // field that cannot be assigned keeps its copied value, a project whose company row cannot be
        // read or whose save is refused keeps its copied row.
        while (!training.eof()) {
            bool found = false;
            ignoreErrors([&] {
                if (company.isOpen()) company.close();
                // The id enters the statement as a number; a project without one has no company row.
                const Value id = training.field("id");
                if (!id.isNumeric()) return;
                company.open("select * from progetti where id = " + util::numberText(id.toDouble()), g.SharedConnection,
                             data::CursorType::Keyset, data::LockType::Pessimistic);
                found = !company.eof();
            });
            if (found) {
                for (const char* field : kProjectFields)
                    ignoreErrors([&] { training.setField(field, company.field(field)); });
                // A refused save is cancelled, so that the move to the next row does not send it again.
                if (!ignoreErrors([&] { training.update(); })) ignoreErrors([&] { training.cancelUpdate(); });
            }
            ignoreErrors([&] { company.close(); });
            // A row the recordset cannot leave would be met again and again: the walk ends there.
            if (!ignoreErrors([&] { training.moveNext(); })) break;
        }
    } catch (...) {
        cleanUp();
        ignoreErrors([&] { reopen(g.ServerConnection, copyString(g)); });
        throw;
    }
    cleanUp();
    reopen(g.ServerConnection, copyString(g));
}

void runCopyStep(state::GlobalState& g, const std::vector<CatalogueEntry>& entries, const CopyReporter& reporter,
                 const FollowingSteps& following) {
    g.CopyFailureFlag = false;
    Copy copy(g, entries, reporter);
    reopen(g.ServerConnection, copyString(g));
    const std::string noTimeout = "sp_configure 'query timeout',0";
    g.ServerConnection.execute(noTimeout);
    g.SharedConnection.execute(noTimeout);
    copy.runGroup(1);
    if (g.CopyFailureFlag) {
        g.ServerConnection.close();
        return;
    }
    for (int k = 1; k <= 10; ++k) {
        copy.setProgress(k);
        copy.runGroup(k + 1);
    }
    reopen(g.ServerConnection, trainingCopyString(g));
    copy.setProgress(10);
    if (following.budget) following.budget(g);
    copy.setProgress(11);
    if (following.funderAccounts) following.funderAccounts(g);
}

}  // namespace vopa::transfer
