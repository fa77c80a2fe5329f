// The budget and funder accounts steps on the embedded server: a small company database with
// projects, funders and their tables, and an empty training database beside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "company/CompanyOpening.h"
#include "config/ConnectionStrings.h"
#include "platform/text/Text.h"
#include "support/ScriptedMessages.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"
#include "transfer/BudgetTables.h"
#include "util/Helpers.h"

using namespace vopa;
using vopa::testing::SmallInstallation;

namespace {

const std::string kCompany = "VoPaDatiAlfa";
const std::string kTraining(config::kTrainingDatabase);
const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

using Row = std::map<std::string, std::string>;  // lower-case column -> cell ("NULL" for a null)
using Lines = std::vector<std::string>;

std::string cell(const Value& v) {
    if (v.isNull()) return "NULL";
    if (v.isNumeric() || v.kind() == Value::Kind::Boolean) return util::numberText(v.toDouble());
    return v.toString();
}

std::vector<Row> rowsOf(const std::string& database, const std::string& query) {
    data::Connection c;
    c.open(kServer + "DATABase=" + database);
    auto rs = c.execute(query);
    std::vector<Row> rows;
    for (; !rs->eof(); rs->moveNext()) {
        Row row;
        for (int i = 0; i < rs->fieldCount(); ++i) row[text::toLower(rs->fieldName(i))] = cell(rs->field(i));
        rows.push_back(row);
    }
    return rows;
}

Lines lines(const std::string& database, const std::string& query) { return SmallInstallation::rows(database, query); }

// The columns of a budget table, in the training table's order.
std::vector<std::string> budgetColumns() {
    std::vector<std::string> columns = {"ID", "IDConto", "IDValuta", "Numeroconto", "Nomeconto", "IDTipoConto", "ContoReport"};
    for (std::string stem : {"Expenses", "euroexpenses", "Budget"})
        for (int n = 1; n <= 6; ++n) {
            columns.push_back(stem + "_1_" + std::to_string(n));
            columns.push_back(stem + "_2_" + std::to_string(n));
        }
    columns.push_back("Budgetapproved");
    columns.push_back("Budgetproposal");
    for (int n = 1; n <= 5; ++n) columns.push_back("Revision" + std::to_string(n));
    for (int n = 1; n <= 5; ++n) columns.push_back("BudgetRevised" + std::to_string(n));
    for (const char* c : {"PContribution", "O_Contribution", "QuotaTerzi", "QuotaOng", "QuotaAltri"}) columns.push_back(c);
    return columns;
}

bool isTextColumn(const std::string& c) { return c == "Numeroconto" || c == "Nomeconto" || c == "ContoReport"; }

// A company budget table as the suite keeps it, its columns in another order than the training
// table's: nullable quotas, a revision and the contribution flags held as text.
void createCompanyBudgetTable(const std::string& name, int contoReportLength = 255) {
    std::vector<std::string> columns = budgetColumns();
    std::reverse(columns.begin(), columns.end());
    std::string sql = "CREATE TABLE " + util::identifier(name) + " (";
    for (const std::string& c : columns) {
        std::string type = "money";
        if (c == "ID" || c == "IDConto" || c == "IDValuta" || c == "IDTipoConto") type = "int";
        if (isTextColumn(c)) type = "varchar(" + std::to_string(c == "ContoReport" ? contoReportLength : 255) + ")";
        if (c == "Revision2" || c == "PContribution" || c == "O_Contribution") type = "varchar(20)";
        if (c.rfind("Quota", 0) == 0) type = "decimal(9, 2)";
        sql += (c == columns.front() ? "" : ", ") + c + " " + type + " NULL";
    }
    SmallInstallation::run(kCompany, sql + ")");
}

void insertRow(const std::string& database, const std::string& table, const std::map<std::string, std::string>& values) {
    std::string columns, literals;
    for (const auto& [c, v] : values) {
        columns += (columns.empty() ? "" : ", ") + c;
        literals += (literals.empty() ? "" : ", ") + v;
    }
    SmallInstallation::run(database, "INSERT INTO " + util::identifier(table) + " (" + columns + ") VALUES (" + literals + ")");
}

// Every column of a budget row with a value of its own: no two columns (nor two rows) share one.
std::map<std::string, std::string> distinctBudgetRow(int row) {
    std::map<std::string, std::string> values;
    int i = 0;
    for (const std::string& c : budgetColumns()) {
        ++i;
        const std::string n = std::to_string(i * 10 + row);
        values[c] = isTextColumn(c) ? "'" + c + "_" + std::to_string(row) + "'" : (c == "Revision2" ? "'" + n + "'" : n);
    }
    values["IDConto"] = std::to_string(500 + row);
    values["QuotaTerzi"] = std::to_string(row) + ".25";
    return values;
}

std::string unquoted(const std::string& literal) {
    return literal.size() >= 2 && literal.front() == '\'' ? literal.substr(1, literal.size() - 2) : literal;
}

class BudgetTables : public ::testing::Test {
protected:
    void SetUp() override {
        g.ComputerName = "PC_PROVA";
        double id = 1;
        company::openCompany(id, g);
        SmallInstallation::run("master", "CREATE DATABASE " + kTraining);
        g.ServerConnectionString = kServer + "database=" + kTraining + ";";
        g.ServerConnection.open(g.ServerConnectionString);
        SmallInstallation::run(kCompany, "CREATE TABLE progetti (id int NULL, Type varchar(20) NULL, Number varchar(20) NULL)\n"
                                         "CREATE TABLE finanziatore (id int NULL, Type varchar(20) NULL)");
    }

    // Every test but those that expect a message ends without one.
    void TearDown() override {
        EXPECT_TRUE(!quiet || messages->texts().empty()) << ::testing::PrintToString(messages->texts());
    }

    void addProject(int id, const std::string& type, const std::string& number) {
        insertRow(kCompany, "progetti", {{"id", std::to_string(id)}, {"Type", type}, {"Number", number}});
    }

    bool quiet = true;

    vopa::testing::TempDrive drive;
    vopa::testing::ScriptedMessages messages;
    SmallInstallation installation{{{1, "Alfa Sud", kCompany}}};
    state::GlobalState g;
};

TEST_F(BudgetTables, NameFollowsTypeAndNumber) {
    const struct {
        const char* type;
        const char* number;
        const char* expected;
    } projects[] = {{"'EU'", "'12'", "EU_12"}, {"'EU'", "''", "EU"},   {"'  EU '", "' 7  '", "EU_7"},
                    {"'EU'", "NULL", "EU"},    {"'EU'", "'0'", "EU"},  // a zero counter counts as no number
                    {"'EU '", "' '", "EU"}};
    for (int id = 1; id <= 6; ++id) addProject(id, projects[id - 1].type, projects[id - 1].number);
    for (int id = 1; id <= 6; ++id) EXPECT_EQ(transfer::budgetTableName(id, g), projects[id - 1].expected) << "project " << id;
    EXPECT_EQ(transfer::budgetTableName(0, g), "");
    EXPECT_EQ(transfer::budgetTableName(99, g), "");
}

TEST_F(BudgetTables, CreationMakesTheSixtyColumnsInOrder) {
    transfer::createBudgetTable("EU_12", g);
    const std::vector<Row> columns =
        rowsOf(kTraining, "SELECT COLUMN_NAME, DATA_TYPE, IS_NULLABLE, ORDINAL_POSITION FROM INFORMATION_SCHEMA.COLUMNS "
                          "WHERE TABLE_NAME = 'EU_12' ORDER BY ORDINAL_POSITION");
    const std::vector<std::string> expected = budgetColumns();
    ASSERT_EQ(columns.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string& c = expected[i];
        std::string type = "money";
        if (c == "ID" || c == "IDConto" || c == "IDValuta" || c == "IDTipoConto" || c.ends_with("Contribution")) type = "int";
        if (isTextColumn(c)) type = "varchar";
        if (c.rfind("Quota", 0) == 0) type = "decimal";
        EXPECT_EQ(columns[i], (Row{{"column_name", c}, {"data_type", type},
                                   {"is_nullable", c.rfind("Quota", 0) == 0 ? "NO" : "YES"},
                                   {"ordinal_position", std::to_string(i + 1)}}));
    }
    // The quotas default to 0.
    SmallInstallation::run(kTraining, "INSERT INTO EU_12 (ID) VALUES (1)");
    EXPECT_EQ(lines(kTraining, "SELECT QuotaTerzi, QuotaOng, QuotaAltri FROM EU_12"), Lines{"0.00|0.00|0.00"});
}

TEST_F(BudgetTables, EveryColumnArrivesInItsOwnColumn) {
    addProject(1, "'EU'", "'12'");
    createCompanyBudgetTable("EU_12");
    for (int row = 1; row <= 2; ++row) insertRow(kCompany, "EU_12", distinctBudgetRow(row));

    std::vector<std::string> tables;
    transfer::runBudgetStep(g, {100, {}, [&](const std::string& t) { tables.push_back(t); }, {}});

    EXPECT_EQ(tables, std::vector<std::string>{"EU_12"});
    const std::vector<Row> training = rowsOf(kTraining, "SELECT * FROM EU_12 ORDER BY IDConto");
    ASSERT_EQ(training.size(), 2u);
    for (int row = 1; row <= 2; ++row)
        for (const auto& [column, literal] : distinctBudgetRow(row))
            EXPECT_EQ(training[row - 1].at(text::toLower(column)), unquoted(literal)) << column << " of row " << row;
    EXPECT_FALSE(g.ServerConnection.isOpen()) << "the step ends with the reset routine";
}

TEST_F(BudgetTables, CompanyCorrectionsAndSixthHalfYear) {
    addProject(1, "'EU'", "'12'");
    createCompanyBudgetTable("EU_12");
    std::map<std::string, std::string> values;
    for (const std::string& c : budgetColumns()) values[c] = isTextColumn(c) ? "'x'" : "7";
    for (const char* c : {"Expenses_1_5", "Expenses_1_6", "Expenses_2_6", "euroexpenses_1_6", "Budget_2_5", "Budget_2_6",
                          "BudgetRevised3", "Revision4", "O_Contribution", "QuotaOng", "QuotaAltri"})
        values[c] = "NULL";
    values["Revision2"] = "'n.d.'";
    values["PContribution"] = "'si'";
    values["QuotaTerzi"] = "3.5";
    insertRow(kCompany, "EU_12", values);
    values["IDConto"] = "8";
    values["Revision2"] = "'12.5'";  // a numeric text stays as it is
    values["PContribution"] = "'1'";
    insertRow(kCompany, "EU_12", values);

    transfer::runBudgetStep(g);

    struct Case {
        const char* column;
        const char* training;
        const char* companyAfter;
    };
    const Case first[] = {
        {"Expenses_1_5", "NULL", "NULL"}, {"Expenses_1_6", "0", "NULL"},   {"Expenses_2_6", "0", "NULL"},
        {"euroexpenses_1_6", "0", "NULL"}, {"Budget_2_5", "NULL", "NULL"}, {"Budget_2_6", "0", "NULL"},
        {"BudgetRevised3", "0", "0"},      {"Revision2", "0", "0"},        {"Revision4", "0", "0"},
        {"PContribution", "0", "0"},       {"O_Contribution", "0", "0"},   {"QuotaOng", "0", "0"},
        {"QuotaTerzi", "3.5", "3.5"},      {"QuotaAltri", "0", "0"},       {"BudgetRevised1", "7", "7"},
        {"Budgetapproved", "7", "7"},      {"Expenses_2_5", "7", "7"},
    };
    const Row training = rowsOf(kTraining, "SELECT * FROM EU_12 WHERE IDConto = 7").at(0);
    const Row company = rowsOf(kCompany, "SELECT * FROM EU_12 WHERE IDConto = 7").at(0);
    for (const Case& c : first) {
        EXPECT_EQ(training.at(text::toLower(c.column)), c.training) << c.column << " in the training row";
        EXPECT_EQ(company.at(text::toLower(c.column)), c.companyAfter) << c.column << " in the company row";
    }
    const Row second = rowsOf(kTraining, "SELECT Revision2, PContribution FROM EU_12 WHERE IDConto = 8").at(0);
    EXPECT_EQ(second, (Row{{"revision2", "12.5"}, {"pcontribution", "1"}}));
    EXPECT_EQ(SmallInstallation::scalar(kCompany, "SELECT Revision2 FROM EU_12 WHERE IDConto = 8"), "12.5");
}

// Two projects of one table fill it once; a project without a company table gets none.
TEST_F(BudgetTables, SameTableOfTwoProjectsIsMergedWithoutLosingRows) {
    addProject(1, "'EU'", "'12'");
    addProject(2, "' EU'", "'12 '");
    addProject(3, "'EU'", "'99'");
    createCompanyBudgetTable("EU_12");
    // Two rows of one account and one without account: all three are rows of their own.
    insertRow(kCompany, "EU_12", {{"IDConto", "5"}, {"Nomeconto", "'a'"}, {"Budgetapproved", "1"}});
    insertRow(kCompany, "EU_12", {{"IDConto", "5"}, {"Nomeconto", "'b'"}, {"Budgetapproved", "2"}});
    insertRow(kCompany, "EU_12", {{"IDConto", "NULL"}, {"Nomeconto", "'c'"}, {"Budgetapproved", "3"}});
    insertRow(kCompany, "EU_12", {{"IDConto", "7"}, {"Nomeconto", "'d'"}, {"Budgetapproved", "4"}});
    // The training database already has the table, with an old row of account 7.
    transfer::createBudgetTable("EU_12", g);
    insertRow(kTraining, "EU_12", {{"IDConto", "7"}, {"Nomeconto", "'vecchio'"}, {"Budgetapproved", "9"}});

    transfer::runBudgetStep(g);

    const std::string query = "SELECT IDConto, Nomeconto, Budgetapproved FROM EU_12 ORDER BY Nomeconto";
    EXPECT_EQ(lines(kTraining, query), (Lines{"5|a|1.0000", "5|b|2.0000", "NULL|c|3.0000", "7|d|4.0000"}));
    EXPECT_FALSE(SmallInstallation::hasTable(kTraining, "EU_99"));
}

TEST_F(BudgetTables, FailuresAreShownForTheFirstProjectOnly) {
    addProject(1, "'EU'", "'12'");
    addProject(2, "'EU'", "'13'");
    for (const char* name : {"EU_12", "EU_13"}) {
        createCompanyBudgetTable(name);
        insertRow(kCompany, name, {{"IDConto", "1"}, {"Nomeconto", "'uno'"}});
        insertRow(kCompany, name, {{"IDConto", "2"}, {"Nomeconto", "'due'"}});
    }
    // Tables of the same names in other letter case: the exact-case test misses them, their creation fails.
    transfer::createBudgetTable("eu_12", g);
    transfer::createBudgetTable("eu_13", g);

    transfer::runBudgetStep(g);

    quiet = false;
    ASSERT_EQ(messages->texts().size(), 1u);
    EXPECT_NE(messages->texts()[0].find("EU_12"), std::string::npos) << messages->texts()[0];
    for (const char* name : {"EU_12", "EU_13"})
        EXPECT_EQ(lines(kTraining, std::string("SELECT IDConto, Nomeconto FROM ") + name + " ORDER BY IDConto"),
                  (Lines{"1|uno", "2|due"})) << name << " is still filled";
}

TEST_F(BudgetTables, ARowThatCannotBeSavedDoesNotStopTheOthers) {
    addProject(1, "'EU'", "'12'");
    createCompanyBudgetTable("EU_12", 300);
    insertRow(kCompany, "EU_12", {{"IDConto", "1"}, {"ContoReport", "'breve'"}});
    insertRow(kCompany, "EU_12", {{"IDConto", "2"}, {"ContoReport", "'" + std::string(300, 'x') + "'"}});
    insertRow(kCompany, "EU_12", {{"IDConto", "3"}, {"ContoReport", "'breve'"}});

    transfer::runBudgetStep(g);

    EXPECT_EQ(lines(kTraining, "SELECT IDConto FROM EU_12 ORDER BY IDConto"), (Lines{"1", "3"}));
    quiet = false;
    EXPECT_EQ(messages->texts().size(), 1u) << "the refused row is reported";
}

// Funder accounts.

void createCompanyFunderTable(const std::string& name, int categoryLength = 20) {
    SmallInstallation::run(kCompany, "CREATE TABLE " + util::identifier(name) + " (id int NULL, category varchar(" +
                                         std::to_string(categoryLength) +
                                         ") NULL, number varchar(20) NULL, budgetitem varchar(40) NULL, idtipoconto int "
                                         "NULL, idgruppovopa int NULL, description varchar(100) NULL, Seleziona bit NULL)");
}

void addFunderAccount(const std::string& table, const std::string& id, const std::string& category, const std::string& number) {
    insertRow(kCompany, table, {{"id", id}, {"category", category}, {"number", number}, {"budgetitem", "'voce " + unquoted(category) + "'"},
                                {"idtipoconto", "3"}, {"idgruppovopa", "4"}, {"description", "' descr '"}, {"Seleziona", "1"}});
}

class FunderAccounts : public BudgetTables {
protected:
    void addFunder(int id, const std::string& type) {
        insertRow(kCompany, "finanziatore", {{"id", std::to_string(id)}, {"Type", type}});
    }
    transfer::Progress recording(int maximum) {
        return {maximum, [this](int v) { values.push_back(v); }, {}, [this](const std::string& n) { notes.push_back(n); }};
    }
    std::vector<int> values;
    std::vector<std::string> notes;
};

TEST_F(FunderAccounts, OneFunderCopiesItsTableWithNewIds) {
    addFunder(1, "'EU'");
    createCompanyFunderTable("EUConti");
    // id, category, number, budgetitem, idtipoconto, idgruppovopa, description, Seleziona
    SmallInstallation::run(kCompany, "INSERT INTO EUConti VALUES (101, ' A1 ', ' 12 ', ' voce ', 3, 4, ' descr ', 1), "
                                     "(0, '', ' 13 ', '', 0, NULL, ' ', NULL), (NULL, 'B', '14', 'x', 5, 6, 'd', 1), "
                                     "(205, 'C', NULL, 'y', 7, 8, 'e', 0)");
    g.ServerConnection.close();  // as the budget step leaves it

    transfer::runFunderAccountsStep(g, recording(100));

    EXPECT_EQ(values, (std::vector<int>{0, 50, 1}));
    EXPECT_EQ(lines(kTraining, "SELECT * FROM EUConti ORDER BY id"),
              (Lines{"1|A1|12|voce|3|4|descr|0", "2|NULL||NULL|0|0|NULL|0", "3|B||x|5|6|d|0", "4|C|NULL|y|7|8|e|0"}));
    ASSERT_TRUE(g.ServerConnection.isOpen()) << "left open for the build";
    EXPECT_EQ(g.ServerConnection.execute("SELECT DB_NAME()")->field(0).toString(), kTraining);
    EXPECT_TRUE(notes.empty());
}

TEST_F(FunderAccounts, ProgressNeverPassesTheMaximum) {
    struct Case {
        int funders;
        int maximum;
        std::vector<int> expected;  // empty: only the bounds are checked
    };
    const Case cases[] = {
        {1, 30, {0, 30, 1}}, {2, 100, {0, 50, 100}}, {3, 100, {0, 33, 67, 100}}, {7, 50, {}}, {130, 100, {}},
    };
    int nextId = 1;
    for (const Case& c : cases) {
        SmallInstallation::run(kCompany, "DELETE FROM finanziatore");
        for (int i = 0; i < c.funders; ++i) addFunder(nextId++, i % 2 ? "'ONG'" : "'ong'");
        values.clear();
        transfer::runFunderAccountsStep(g, recording(c.maximum));
        SCOPED_TRACE(std::to_string(c.funders) + " funders, maximum " + std::to_string(c.maximum));
        if (!c.expected.empty()) {
            EXPECT_EQ(values, c.expected);
            continue;
        }
        ASSERT_EQ(values.size(), static_cast<std::size_t>(c.funders) + 1);
        EXPECT_EQ(values.front(), 0);
        EXPECT_EQ(values.back(), c.maximum);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    }
}

TEST_F(FunderAccounts, ExistingTrainingTableIsEmptiedFirst) {
    addFunder(1, "'EU'");
    createCompanyFunderTable("EUConti");
    addFunderAccount("EUConti", "11", "'nuovo'", "'1'");
    SmallInstallation::run(kTraining, transfer::funderAccountsCreation("EUConti"));
    insertRow(kTraining, "EUConti", {{"category", "'vecchio'"}});

    EXPECT_EQ(transfer::copyFunderAccountsTable("EUConti", g), 1);

    EXPECT_EQ(lines(kTraining, "SELECT category FROM EUConti"), Lines{"nuovo"});
    EXPECT_EQ(transfer::copyFunderAccountsTable("USAIDConti", g), 0) << "the company has no such table";
    EXPECT_FALSE(SmallInstallation::hasTable(kTraining, "USAIDConti"));
}

// "ong" in any case, a funder without a type and the catalogue's own tables leave the training tables
// as they are; a trailing blank is part of the type.
TEST_F(FunderAccounts, OngAndTheCataloguesTablesAreSkippedATrailingBlankIsKept) {
    for (const char* type : {"'ong'", "'ONG'", "'Ong'", "'EU '", "''", "NULL", "'base'"}) addFunder(1, type);
    for (const char* table : {"ongConti", "EUConti", "EU Conti", "baseconti"}) createCompanyFunderTable(table);
    addFunderAccount("ongConti", "1", "'ong'", "'1'");
    addFunderAccount("EUConti", "1", "'senza spazio'", "'1'");
    addFunderAccount("EU Conti", "1", "'con spazio'", "'1'");
    addFunderAccount("EU Conti", "2", "'altro'", "'2'");
    addFunderAccount("baseconti", "1", "'base'", "'1'");
    SmallInstallation::run(kCompany, "CREATE TABLE conti (IdConto int NULL, NomeConto varchar(50) NULL)\n"
                                     "INSERT INTO conti VALUES (1, 'Cassa')");
    // The catalogue's copies, with their own rows.
    SmallInstallation::run(kTraining, "CREATE TABLE ongconti (id int NULL, category varchar(20) NULL)\n"
                                      "INSERT INTO ongconti VALUES (40, 'catalogo')\n"
                                      "CREATE TABLE conti (IdConto int NULL, NomeConto varchar(50) NULL)\n"
                                      "INSERT INTO conti VALUES (1, 'Cassa'), (2, 'Banca')\n"
                                      "CREATE TABLE baseconti (ID int NULL, Category varchar(20) NULL)\n"
                                      "INSERT INTO baseconti VALUES (30, 'catalogo')");

    transfer::runFunderAccountsStep(g, recording(100));

    EXPECT_EQ(lines(kTraining, "SELECT * FROM ongconti"), Lines{"40|catalogo"});
    EXPECT_EQ(lines(kTraining, "SELECT id, category FROM [EU Conti] ORDER BY id"), (Lines{"1|con spazio", "2|altro"}));
    EXPECT_FALSE(SmallInstallation::hasTable(kTraining, "EUConti"));
    EXPECT_EQ(SmallInstallation::count(kTraining, "SELECT * FROM conti"), 2);
    EXPECT_EQ(lines(kTraining, "SELECT * FROM baseconti"), Lines{"30|catalogo"});
}

// Three funders of one type fill its table once.
TEST_F(FunderAccounts, ARowThatDoesNotFitIsLeftOutAndNoted) {
    addFunder(1, "'EU'");
    addFunder(2, "'EU'");
    addFunder(3, "'eu'");
    createCompanyFunderTable("EUConti", 50);
    addFunderAccount("EUConti", "1", "'prima'", "'1'");
    addFunderAccount("EUConti", "2", "'" + std::string(30, 'x') + "'", "'2'");
    addFunderAccount("EUConti", "3", "'terza'", "'3'");

    transfer::runFunderAccountsStep(g, recording(100));

    EXPECT_EQ(lines(kTraining, "SELECT number FROM EUConti ORDER BY id"), (Lines{"1", "3"}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("EUConti"), std::string::npos) << notes[0];
}

// Names people really give projects and funders (a quote, a bracket, guillemets, accents) reach their
// tables as names: each table is made and filled, and a name cannot end a statement early.
TEST_F(FunderAccounts, NamesWithQuotesBracketsAndAccentsReachTheirTables) {
    const std::vector<std::string> types = {"L'Aquilone", "conti]x", "«Città» d'Àrte", "a';DROP TABLE x--"};
    int id = 0;
    for (const std::string& type : types) {
        ++id;
        addProject(id, util::literal(type), "''");
        createCompanyBudgetTable(type);
        insertRow(kCompany, type, {{"IDConto", std::to_string(id)}, {"Budgetapproved", "7"}});
        addFunder(id, util::literal(type));
        createCompanyFunderTable(type + "Conti");
        addFunderAccount(type + "Conti", std::to_string(id), "'c'", "'1'");
    }

    transfer::runBudgetStep(g);
    g.ServerConnection.open(g.ServerConnectionString);  // the budget step's reset closes it
    transfer::runFunderAccountsStep(g, recording(100));

    id = 0;
    for (const std::string& type : types) {
        ++id;
        EXPECT_EQ(lines(kTraining, "SELECT IDConto, Budgetapproved FROM " + util::identifier(type)),
                  Lines{std::to_string(id) + "|7.0000"}) << type;
        EXPECT_EQ(lines(kTraining, "SELECT category FROM " + util::identifier(type + "Conti")), Lines{"c"}) << type;
    }
    EXPECT_EQ(SmallInstallation::count(kCompany, "SELECT * FROM finanziatore"), static_cast<int>(types.size()));
}

}  // namespace
