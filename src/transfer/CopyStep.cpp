#include "CopyStep.h"

#include <algorithm>

#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "platform/data/DataError.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageService.h"
#include "util/ErrorModes.h"

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
    return config::readServerAddress(g) + "database=" + std::string(config::kTrainingDatabase);
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

std::vector<ColumnShape> columnsOf(state::GlobalState& g, const std::string& database, const std::string& table) {
    std::vector<ColumnShape> columns;
    data::Recordset rs;
    rs.open("SELECT c.COLUMN_NAME, c.DATA_TYPE, c.CHARACTER_MAXIMUM_LENGTH, c.NUMERIC_PRECISION, c.NUMERIC_SCALE, "
            "CASE WHEN EXISTS (SELECT 1 FROM [" + database + "].sys.columns s WHERE s.object_id = OBJECT_ID(N'[" +
                database + "].[dbo].[" + table + "]') AND s.name = c.COLUMN_NAME AND s.is_identity = 1) THEN 1 ELSE 0 END "
            "FROM [" + database + "].INFORMATION_SCHEMA.COLUMNS c WHERE c.TABLE_NAME = N'" + table +
                "' ORDER BY c.ORDINAL_POSITION",
            g.ServerConnection, data::CursorType::Keyset, data::LockType::ReadOnly);
    for (; !rs.eof(); rs.moveNext()) {
        ColumnShape c;
        c.name = rs.field(0).toString();
        c.type = rs.field(1).toString();
        const std::string lower = text::toLower(c.type);
        if (lower == "varchar" || lower == "nvarchar" || lower == "char" || lower == "nchar" || lower == "varbinary" ||
            lower == "binary") {
            const double length = rs.field(2).toDouble();
            c.type += length < 0 ? "(max)" : "(" + rs.field(2).toString() + ")";
        } else if (lower == "decimal" || lower == "numeric") {
            c.type += "(" + rs.field(3).toString() + ", " + rs.field(4).toString() + ")";
        }
        c.identity = rs.field(5).toDouble() == 1;
        columns.push_back(std::move(c));
    }
    return columns;
}

const ColumnShape* findColumn(const std::vector<ColumnShape>& columns, const std::string& name) {
    for (const ColumnShape& c : columns)
        if (text::equalsNoCase(c.name, name)) return &c;
    return nullptr;
}

// Makes the training table able to take the entry's rows, as the company database holds them: a table
// the training schema lacks is made with the company table's structure, a column it lacks is appended
// (NULL, of the company column's type). Returns the training table's columns.
std::vector<ColumnShape> prepareTarget(state::GlobalState& g, const CatalogueEntry& e) {
    const std::string training(config::kTrainingDatabase);
    std::vector<ColumnShape> target = columnsOf(g, training, e.table);
    std::vector<ColumnShape> source;
    bool sourceRead = false;
    auto company = [&]() -> const std::vector<ColumnShape>& {
        if (!sourceRead) source = columnsOf(g, g.CompanyDatabaseName, e.table);
        sourceRead = true;
        return source;
    };
    if (target.empty()) {
        if (company().empty()) return target;  // neither has it: the copy fails as it always has
        g.SqlText = "SELECT * INTO [" + training + "].[dbo].[" + e.table + "] FROM [" + g.CompanyDatabaseName +
                    "].[dbo].[" + e.table + "] WHERE 1 = 0";
        g.ServerConnection.execute(g.SqlText);
        return columnsOf(g, training, e.table);
    }
    bool changed = false;
    for (const std::string& column : e.insertColumns) {
        if (findColumn(target, column)) continue;
        const ColumnShape* wanted = findColumn(company(), column);
        if (!wanted) continue;  // the company lacks it too: the copy fails as it always has
        g.SqlText = "ALTER TABLE [" + training + "].[dbo].[" + e.table + "] ADD [" + wanted->name + "] " +
                    wanted->type + " NULL";
        g.ServerConnection.execute(g.SqlText);
        changed = true;
    }
    return changed ? columnsOf(g, training, e.table) : target;
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
        const std::vector<ColumnShape> target = prepareTarget(g_, e);
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
    if (training.isOpen()) training.close();
    training.open("progetti", g.ServerConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
    for (; !training.eof(); training.moveNext()) {
        const Value id = training.field("id");
        if (company.isOpen()) company.close();
        company.open("select * from progetti where id = " + id.toString(), g.SharedConnection, data::CursorType::Keyset,
                     data::LockType::Pessimistic);
        if (!company.eof()) {
            for (const char* field : kProjectFields) training.setField(field, company.field(field));
            training.update();
        }
        company.close();
    }
    training.close();
    reopen(g.ServerConnection, copyString(g));
}

void runCopyStep(state::GlobalState& g, const std::vector<CatalogueEntry>& entries, const CopyReporter& reporter,
                 const FollowingSteps& following) {
    g.CopyFailureFlag = false;
    Copy copy(g, entries, reporter);
    reopen(g.ServerConnection, copyString(g));
    g.SqlText = "sp_configure 'query timeout',0";
    g.ServerConnection.execute(g.SqlText);
    g.SharedConnection.execute(g.SqlText);
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
