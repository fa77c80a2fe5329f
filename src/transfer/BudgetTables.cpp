#include "BudgetTables.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "Catalogue.h"
#include "company/TableChecks.h"
#include "config/SharedObjects.h"
#include "platform/text/Text.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"
#include "util/LockRetry.h"

namespace vopa::transfer {
namespace {

// Recordsets of the budget step among the 24 shared ones (the first, SharedRecordset, is the row
// lookup), and the funder recordset in the second group.
constexpr std::size_t kProjectRecordset = 1;
constexpr std::size_t kBudgetSourceRecordset = 2;
constexpr std::size_t kFunderRecordset = 0;

// Blanks removed at both ends; other white space stays.
std::string trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// A table name as a statement carries it: unchanged when it is a plain identifier, in brackets when
// it holds a blank or another character an identifier cannot have (a funder type "EU " gives the table
// "EU Conti", which only a bracketed name reaches).
std::string tableReference(const std::string& name) {
    bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name.front()));
    for (unsigned char c : name)
        if (!(std::isalnum(c) || c == '_' || c == '@' || c == '#' || c == '$' || c >= 0x80)) plain = false;
    return plain ? name : util::identifier(name);
}

// The catalogue copies these tables with their own ids; a budget or funder table of the same name
// (a project type "conti" without number, a funder type "base" or an empty one) must not empty or
// overwrite them.
bool copiedByCatalogue(const std::string& name) {
    static const std::set<std::string> names = [] {
        std::set<std::string> lower;
        for (const CatalogueEntry& entry : catalogue()) lower.insert(text::toLower(entry.table));
        return lower;
    }();
    return names.count(text::toLower(name)) != 0;
}

// A number, or a text that reads as one; null, dates and other texts are not.
bool isNumericValue(const Value& v) {
    if (v.isNumeric() || v.kind() == Value::Kind::Boolean) return true;
    if (v.kind() != Value::Kind::String) return false;
    std::string t = trimBlanks(v.asString());
    if (!t.empty() && t.front() == '+') t.erase(t.begin());
    Decimal parsed;
    return !t.empty() && Decimal::parse(t, parsed);
}

// The column names Stem_1_1, Stem_2_1, Stem_1_2, ... Stem_2_6.
std::vector<std::string> halfYearColumns(const std::string& stem) {
    std::vector<std::string> columns;
    for (int n = 1; n <= 6; ++n)
        for (int side = 1; side <= 2; ++side)
            columns.push_back(stem + "_" + std::to_string(side) + "_" + std::to_string(n));
    return columns;
}

// The budget step's error mode: a failure is shown until the first project is done, then skipped.
class StepErrors {
public:
    template <typename Step>
    bool operator()(Step&& step) const {
        return reporting_ ? util::showErrors(step) : util::ignoreErrors(step);
    }
    void silence() { reporting_ = false; }

private:
    bool reporting_ = true;
};

// Fills the training row being edited (`target`) from the company row (`source`), correcting the
// company row's revisions and contribution flags on the way. Each assignment fails on its own.
void assignBudgetRow(data::Recordset& source, data::Recordset& target, const StepErrors& attempt) {
    auto copy = [&](const std::string& column) {
        attempt([&] { target.setField(column, source.field(column)); });
    };
    auto copyOrZero = [&](const std::string& column) {
        attempt([&] {
            Value v = source.field(column);
            target.setField(column, v.isNull() ? Value::longInt(0) : v);
        });
    };
    // Non-numeric company values become 0; the company row is saved when the source moves on.
    auto zeroUnlessNumeric = [&](const std::string& column) {
        attempt([&] {
            if (!isNumericValue(source.field(column))) source.setField(column, Value::longInt(0));
        });
    };
    std::vector<std::string> revisions;
    for (int n = 1; n <= 5; ++n) {
        revisions.push_back("BudgetRevised" + std::to_string(n));
        revisions.push_back("Revision" + std::to_string(n));
    }

    for (const char* column : {"id", "idconto", "numeroconto", "nomeconto", "IdTipoConto", "IdValuta", "ContoReport"})
        copy(column);
    // The sixth half-year arrives as 0 when the company has nothing there; the others as they are.
    for (const char* stem : {"Expenses", "euroexpenses", "Budget"})
        for (const std::string& column : halfYearColumns(stem))
            column.ends_with("_6") ? copyOrZero(column) : copy(column);
    copy("Budgetproposal");
    for (const std::string& column : revisions) zeroUnlessNumeric(column);
    for (const char* column : {"PContribution", "O_Contribution"}) zeroUnlessNumeric(column);
    for (const char* column : {"PContribution", "O_Contribution"}) copy(column);
    // The quotas are not null in the training table: a company null that the quota fixes could not
    // correct arrives as 0 instead of refusing the whole row.
    for (const char* column : {"QuotaOng", "QuotaTerzi", "QuotaAltri"}) copyOrZero(column);
    copy("BudgetApproved");
    for (const std::string& column : revisions) copy(column);
    copy("BudgetApproved");
}

// Carries one budget table (present in the company database) into the training database. Training
// rows are matched by idconto: the k-th company row of an idconto overwrites the k-th training row of
// that idconto, or is added when there is none, so a second pass over the same table changes nothing
// and company rows that share an idconto (or have none) are all kept.
void copyBudgetTable(const std::string& name, state::GlobalState& g, const StepErrors& attempt) {
    const std::string table = tableReference(name);
    if (!company::trainingBudgetTableExists(name, g)) attempt([&] { createBudgetTable(name, g); });

    for (const char* fix : {" set QuotaTerzi=0 where QuotaTerzi is null", " set QuotaOng =0 where QuotaOng is null",
                            " set QuotaAltri=0 where QuotaAltri is null"}) {
        attempt([&] { g.SharedConnection.execute("update " + table + fix); });
    }

    data::Recordset& source = g.SharedRecordsets[kBudgetSourceRecordset];
    data::Recordset& target = g.SharedRecordset;
    if (!attempt([&] { source.open(table, g.SharedConnection, data::CursorType::Keyset, data::LockType::Pessimistic); }) ||
        !source.isOpen())
        return;

    std::map<std::string, int> rowsOfAccount;  // company rows of each idconto met so far ("" = null)
    while (!source.eof()) {
        Value account;
        attempt([&] { account = source.field("idconto"); });
        const std::string key = account.isNull() || account.isEmpty() ? std::string() : account.toString();
        const int earlier = rowsOfAccount[key]++;

        const std::string query =
            "select * from " + table + (key.empty() ? " where idconto is null" : " where idconto = " + key);
        if (attempt([&] {
                target.open(query, g.ServerConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
            }) &&
            target.isOpen()) {
            attempt([&] {
                for (int i = 0; i < earlier && !target.eof(); ++i) target.moveNext();
                if (target.eof()) target.addNew();
            });
            assignBudgetRow(source, target, attempt);
            util::updateWithLockRetryReporting(target);
            // A row that could not be saved is dropped here, so that the next lookup finds the
            // recordset closed.
            util::ignoreErrors([&] {
                target.cancelUpdate();
                target.close();
            });
        }
        // Moving on saves the company row's corrections; a row that refuses them moves on unchanged.
        if (!attempt([&] { source.moveNext(); }) &&
            !util::ignoreErrors([&] {
                source.cancelUpdate();
                source.moveNext();
            }))
            break;
    }
    util::ignoreErrors([&] {
        source.cancelUpdate();
        source.close();
    });
}

}  // namespace

void Progress::setValue(int v) const {
    if (value) value(std::clamp(v, 0, std::max(maximum, 0)));
}

void Progress::setTable(const std::string& name) const {
    if (table) table(name);
}

void Progress::addNote(const std::string& text) const {
    if (note) note(text);
}

std::string budgetTableName(double projectId, state::GlobalState& g) {
    if (util::isEmptyValue(Value::dbl(projectId))) return {};
    data::Recordset rs;
    rs.open("Select * from Progetti where id = " + util::numberText(projectId), g.SharedConnection,
            data::CursorType::Keyset, data::LockType::Pessimistic);
    std::string name;
    while (rs.isOpen() && !rs.eof()) {
        if (rs.field("id").toDouble() == projectId) {
            const Value number = rs.field("Number");
            name = trimBlanks(rs.field("Type").toString());
            if (!util::isEmptyValue(number)) name += "_" + trimBlanks(number.toString());
            break;
        }
        rs.moveNext();
    }
    if (rs.isOpen()) rs.close();
    return name;
}

std::string budgetTableCreation(const std::string& name) {
    std::string sql = "CREATE TABLE " + tableReference(name) + " (";
    for (const char* piece : {" ID int NULL,", " IDConto int NULL,", " IDValuta int NULL,", " Numeroconto varchar(255) NULL,",
                              " Nomeconto varchar(255) NULL,", " IDTipoConto int NULL,", " ContoReport varchar(255) NULL,"})
        sql += piece;
    std::vector<std::string> money;
    for (const char* stem : {"Expenses", "euroexpenses", "Budget"})
        for (const std::string& column : halfYearColumns(stem)) money.push_back(column);
    money.push_back("Budgetapproved");
    money.push_back("Budgetproposal");
    for (const char* stem : {"Revision", "BudgetRevised"})
        for (int n = 1; n <= 5; ++n) money.push_back(stem + std::to_string(n));
    for (const std::string& column : money) sql += " " + column + " money NULL,";
    sql += " PContribution int NULL,";
    sql += " O_Contribution int NULL,";
    sql += " QuotaTerzi decimal(9, 2) not NULL default 0,";
    sql += " QuotaOng decimal(9, 2) not NULL default 0,";
    sql += " QuotaAltri decimal(9, 2) not NULL default 0";
    sql += " )";
    return sql;
}

void createBudgetTable(const std::string& name, state::GlobalState& g) {
    g.ServerConnection.execute(budgetTableCreation(name));
}

void runBudgetStep(state::GlobalState& g, const Progress& progress) {
    StepErrors attempt;
    data::Recordset& projects = g.SharedRecordsets[kProjectRecordset];
    bool anyProject = false;
    attempt([&] {
        projects.open("select * from progetti ", g.SharedConnection, data::CursorType::Keyset, data::LockType::ReadOnly);
        anyProject = projects.isOpen() && !projects.eof();
    });
    if (anyProject) {
        std::set<std::string> done;  // tables already carried over in this step, lower case
        while (!projects.eof()) {
            std::string name;
            attempt([&] { name = budgetTableName(projects.field("id").toDouble(), g); });
            if (!name.empty() && !copiedByCatalogue(name) && company::tableExists(name, g)) {
                if (done.insert(text::toLower(name)).second) progress.setTable(name);
                copyBudgetTable(name, g, attempt);
            }
            attempt.silence();
            if (!util::ignoreErrors([&] { projects.moveNext(); })) break;
        }
    }
    config::resetSharedObjects(g);
}

std::string funderAccountsCreation(const std::string& name) {
    return "create table " + tableReference(name) + " (" + "id INT identity(1,1) not null , " +
           "category varchar(20) NULL, " + "number varchar(20) NULL, " + "budgetitem varchar(40) NULL, " +
           "idtipoconto INT NULL default '0', " + "idgruppovopa INT NULL default '0', " +
           "description varchar(100) NULL, " + "Seleziona bit NULL default '0') ";
}

int copyFunderAccountsTable(const std::string& name, state::GlobalState& g,
                            const std::function<void(const std::string&)>& note) {
    data::Connection companySide;
    if (!util::ignoreErrors([&] { companySide.open(g.CompanyConnectionString); })) return 0;
    int written = 0;
    if (company::companySchemaHas(name, g)) {
        const std::string table = tableReference(name);
        data::Connection trainingSide;
        data::Recordset source;
        data::Recordset target;
        const std::optional<std::string> failure = util::failureOf([&] {
            trainingSide.open(g.ServerConnectionString);
            trainingSide.execute(company::trainingSchemaHas(name, g) ? "delete from " + table : funderAccountsCreation(name));
            source.open("Select * from " + table, companySide, data::CursorType::Keyset, data::LockType::ReadOnly);
            target.open("Select * from " + table, trainingSide, data::CursorType::Keyset, data::LockType::Pessimistic);
        });
        if (failure) {
            if (note) note("Tabella " + name + " non copiata: " + *failure);
        } else if (source.isOpen() && target.isOpen()) {
            auto filled = [&](const char* column) -> std::optional<Value> {
                if (!source.hasField(column)) return std::nullopt;
                Value v = source.field(column);
                if (util::isEmptyValue(v)) return std::nullopt;
                return v;
            };
            auto trimmed = [](const Value& v) { return v.isNull() ? v : Value::string(trimBlanks(v.toString())); };
            while (!source.eof()) {
                const std::optional<std::string> rowFailure = util::failureOf([&] {
                    target.addNew();
                    if (auto v = filled("category")) target.setField("category", trimmed(*v));
                    target.setField("Number", util::isEmptyValue(source.field("id")) ? Value::string("")
                                                                                      : trimmed(source.field("Number")));
                    if (auto v = filled("Description")) target.setField("Description", trimmed(*v));
                    if (auto v = filled("BudgetItem")) target.setField("BudgetItem", trimmed(*v));
                    if (auto v = filled("IdTipoConto")) target.setField("IdTipoConto", *v);
                    if (auto v = filled("IdGruppoVopa")) target.setField("IdGruppoVopa", *v);
                    target.setField("Seleziona", Value::longInt(0));
                    util::updateWithLockRetry(target);
                });
                if (rowFailure) {
                    // One row that does not fit the training table is left out; the others still go.
                    util::ignoreErrors([&] { target.cancelUpdate(); });
                    if (note) note("Riga di " + name + " non copiata: " + *rowFailure);
                } else {
                    ++written;
                }
                if (!util::ignoreErrors([&] { source.moveNext(); })) break;
            }
        }
        util::ignoreErrors([&] { source.close(); });
        util::ignoreErrors([&] {
            target.cancelUpdate();
            target.close();
        });
        util::ignoreErrors([&] { trainingSide.close(); });
    }
    util::ignoreErrors([&] { companySide.close(); });
    return written;
}

void runFunderAccountsStep(state::GlobalState& g, const Progress& progress) {
    data::Recordset& funders = g.SecondGroupRecordsets[kFunderRecordset];
    util::ignoreErrors([&] {
        funders.open("Select * from finanziatore", g.CompanyConnectionString, data::CursorType::Keyset,
                     data::LockType::Pessimistic);
    });
    // Left open on the training database for the build that follows.
    util::ignoreErrors([&] {
        if (!g.ServerConnection.isOpen()) g.ServerConnection.open(g.ServerConnectionString);
    });
    if (!funders.isOpen() || funders.eof()) {
        g.closeSecondRecordsetGroup();
        return;
    }

    const auto count = funders.recordCount();
    double running = 0;
    progress.setValue(0);
    double increment = 1;
    if (count == 1)
        progress.setValue(50);
    else
        increment = static_cast<double>(progress.maximum) / static_cast<double>(count);

    std::set<std::string> done;  // tables copied in this step, lower case: a second funder of a type adds nothing
    while (!funders.eof()) {
        Value type;
        util::ignoreErrors([&] { type = funders.field("Type"); });
        // The type is taken as written: "EU " is not "EU" and gives the table "EU Conti". A funder
        // without a type names no table of its own ("Conti" would be the chart of accounts).
        const std::string typeText = type.toString();
        if (!type.isNull() && !trimBlanks(typeText).empty() && text::toLower(typeText) != "ong") {
            const std::string name = typeText + "Conti";
            if (!copiedByCatalogue(name) && done.insert(text::toLower(name)).second) {
                progress.setTable(name);
                util::ignoreErrors([&] { copyFunderAccountsTable(name, g, progress.note); });
            }
        }
        if (!util::ignoreErrors([&] { funders.moveNext(); })) break;
        running = std::min(running + increment, static_cast<double>(progress.maximum));
        progress.setValue(static_cast<int>(std::lround(running)));
    }
    g.closeSecondRecordsetGroup();
}

}  // namespace vopa::transfer
