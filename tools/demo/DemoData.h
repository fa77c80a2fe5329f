#pragma once
// The generator of a demo company's accounting data: a small deterministic random source, the literal
// forms of values in T-SQL text, a bulk inserter that sends multi-row INSERT statements inside explicit
// transactions, and the filling of one company database.
//
// Everything a company holds follows from the seed alone: the same seed gives the same rows, byte for
// byte, on any machine and with any standard library (no std::random distributions are used).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/Connection.h"

namespace vopa::demo {

// splitmix64: tiny, fast, and its output is fixed by its definition.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // A whole number in [low, high]; high >= low.
    std::int64_t between(std::int64_t low, std::int64_t high);
    // True with a probability of percent / 100.
    bool chance(int percent) { return between(1, 100) <= percent; }
    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) {
        return items[static_cast<std::size_t>(between(0, static_cast<std::int64_t>(N) - 1))];
    }

private:
    std::uint64_t state_;
};

// N'text' with every single quote doubled.
std::string sqlText(std::string_view text);
// A money or decimal(…,2) literal from a number of cents: 123456 -> 1234.56, -5 -> -0.05.
std::string sqlMoney(std::int64_t cents);
// A date literal in the unambiguous form 'yyyymmdd'; `day` counts from 2000-01-01 (day 0).
std::string sqlDate(std::int64_t day);
// The calendar date of a day counted from 2000-01-01.
struct CivilDate {
    int year, month, day;
};
CivilDate civilDate(std::int64_t day);
std::int64_t dayNumber(int year, int month, int day);

// `text` cut to at most `maxChars` characters (UTF-8 aware), so that it fits an nvarchar(maxChars).
std::string fit(std::string_view text, std::size_t maxChars);
// Lower-case ASCII letters and digits only: accents dropped ("Niccolò D'Angelo" -> "niccolodangelo").
std::string asciiSlug(std::string_view text);

// The name of a project's budget table: the trimmed type, then "_" and the trimmed number when there is
// one ("EU", "12" -> "EU_12"; "CEI", "" -> "CEI").
std::string budgetTableName(std::string_view type, std::string_view number);
// The chart-of-accounts table of a funder type: the type followed by "Conti".
std::string funderAccountsTableName(std::string_view type);

// The columns of a project's budget table, as "name type" pieces in their order.
const std::vector<std::string>& budgetTableColumns();

// How many rows each large table of one company receives.
struct RowPlan {
    std::int64_t contacts = 0;
    std::int64_t ledgerRows = 0;  // partitadoppia: two rows per transaction, so always even
    std::int64_t donations = 0;
    std::int64_t payslips = 0;
    std::int64_t payslipDetails = 0;  // 1, 2 or 3 per payslip in turn
    int projects = 0;
};
// Splits `companyRows` (all rows of one company, small tables included) over the tables. Small totals
// still give every table a few rows.
RowPlan planRows(std::int64_t companyRows);
// The rows the plan writes in all, fixed tables included (users, office, accounts, budgets, ...).
std::int64_t plannedTotal(const RowPlan& plan);

// Collects rows of one table and sends them as "INSERT INTO t (columns) VALUES (...),(...)" of at most
// 1000 rows, inside a transaction committed every `commitEvery` rows. `progress` (may be empty) gets a
// line "<label>: <table> <done>/<total>" at every commit and at the end.
class BulkInsert {
public:
    BulkInsert(data::Connection& connection, std::string table, std::string columns, std::int64_t expected,
               std::string label, std::function<void(const std::string&)> progress, std::int64_t commitEvery = 50000);
    ~BulkInsert();
    BulkInsert(const BulkInsert&) = delete;
    BulkInsert& operator=(const BulkInsert&) = delete;

    // One row: the values, comma-separated, without the parentheses.
    void add(std::string_view values);
    // Sends what is left and commits. Must be called once the rows are added.
    void finish();
    std::int64_t rowsAdded() const { return added_; }

    static constexpr std::int64_t kRowsPerStatement = 1000;

private:
    void flush();

    data::Connection& connection_;
    std::string table_;
    std::string head_;
    std::string statement_;
    std::int64_t expected_;
    std::string label_;
    std::function<void(const std::string&)> progress_;
    std::int64_t commitEvery_;
    std::int64_t pending_ = 0;        // rows in statement_
    std::int64_t added_ = 0;          // rows added so far
    std::int64_t sinceCommit_ = 0;    // rows sent since the transaction began
    bool inTransaction_ = false;
};

// One demo company and what makes it differ from the other.
struct CompanyProfile {
    int registryId = 0;          // id in the registry's link_programma
    std::string name;            // NomeAzienda
    std::string databaseName;    // starts with "VoPaDati"
    int homeCity = 0;            // index into the generator's city list: the head office
    std::string focus;           // a few words on what the organisation does, used in descriptions
    std::string region;          // the regional government that funds part of its projects
};

// The two demo companies.
const std::vector<CompanyProfile>& demoCompanies();

// A user of the demo companies' user table.
struct DemoUserProfile {
    std::string name;
    std::string password;  // empty: no password yet (stored as NULL)
    std::string role;
    bool administrator;
    bool disabled;
    // Administrator, A_Inserisci, A_Cancella, A_Iva, A_Bilancio, A_Personale, A_ArchivioStoria, A_PFinanza,
    // A_Synchro, A_EmettiPagamenti, A_Progetta
    std::vector<int> rights;
};
const std::vector<DemoUserProfile>& demoUsers();

// Fills an empty company database (the base schema in place, `connection` open on it) with the rows of
// `plan`, drawn from `seed`. Creates the budget tables of the projects and the funder accounts tables.
void fillCompany(data::Connection& connection, const CompanyProfile& company, const RowPlan& plan,
                 std::uint64_t seed, const std::function<void(const std::string&)>& progress);

}  // namespace vopa::demo
