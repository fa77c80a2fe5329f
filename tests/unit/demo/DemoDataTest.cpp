// The pieces of the demo data generator that need no server: literals, dates, names of the per-project
// and per-funder tables, the split of rows over the tables, and the random source.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <tuple>

#include "DemoData.h"

using namespace vopa::demo;

TEST(DemoLiterals, TextAndMoney) {
    const struct {
        const char* text;
        const char* literal;
    } texts[] = {
        {"abc", "N'abc'"}, {"", "N''"}, {"D'Angelo", "N'D''Angelo'"},
        {"Sant'Agata de' Goti", "N'Sant''Agata de'' Goti'"}, {"''", "N''''''"}, {"Città", "N'Città'"},
    };
    for (const auto& t : texts) EXPECT_EQ(sqlText(t.text), t.literal) << t.text;

    const struct {
        std::int64_t cents;
        const char* literal;
    } amounts[] = {
        {0, "0.00"},        {5, "0.05"},       {-5, "-0.05"},       {100, "1.00"},
        {-100, "-1.00"},    {123456, "1234.56"}, {1000000007, "10000000.07"},
        {INT64_MIN, "-92233720368547758.08"},
    };
    for (const auto& a : amounts) EXPECT_EQ(sqlMoney(a.cents), a.literal) << a.cents;
}

TEST(DemoLiterals, CalendarDays) {
    const struct {
        std::int64_t day;
        int year, month, dayOfMonth;
        const char* literal;
    } days[] = {
        {0, 2000, 1, 1, "'20000101'"},     {-1, 1999, 12, 31, "'19991231'"}, {59, 2000, 2, 29, "'20000229'"},
        {60, 2000, 3, 1, "'20000301'"},    {366, 2001, 1, 1, "'20010101'"},  {6940, 2019, 1, 1, "'20190101'"},
        {9131, 2024, 12, 31, "'20241231'"}, {-21915, 1940, 1, 1, "'19400101'"},
    };
    for (const auto& d : days) {
        const CivilDate c = civilDate(d.day);
        EXPECT_EQ(std::tuple(c.year, c.month, c.day, sqlDate(d.day)),
                  std::tuple(d.year, d.month, d.dayOfMonth, d.literal))
            << d.day;
        EXPECT_EQ(dayNumber(d.year, d.month, d.dayOfMonth), d.day);
    }
    // Consecutive days are consecutive dates: the day after the last of a month is the 1st.
    for (std::int64_t day = -30000; day < 30000; ++day) {
        const CivilDate c = civilDate(day), n = civilDate(day + 1);
        const bool sameMonth = n.year == c.year && n.month == c.month && n.day == c.day + 1;
        const bool nextMonth = n.day == 1 && ((n.year == c.year && n.month == c.month + 1) ||
                                              (n.year == c.year + 1 && n.month == 1 && c.month == 12));
        ASSERT_TRUE(sameMonth || nextMonth) << day;
        ASSERT_EQ(dayNumber(c.year, c.month, c.day), day);
    }
}

TEST(DemoLiterals, FittingAndSlugs) {
    const struct {
        const char* text;
        std::size_t max;
        const char* fitted;
    } fits[] = {
        {"Città", 4, "Citt"}, {"Città", 5, "Città"}, {"Niccolò", 6, "Niccol"}, {"abc", 0, ""},
        {"", 3, ""},          {"Forlì!", 5, "Forlì"},
    };
    for (const auto& f : fits) EXPECT_EQ(fit(f.text, f.max), f.fitted) << f.text << " " << f.max;

    const struct {
        const char* text;
        const char* slug;
    } slugs[] = {
        {"Niccolò D'Angelo", "niccolodangelo"}, {"Città di Castello", "cittadicastello"},
        {"Crédit Agricole", "creditagricole"},  {"ÀÈÌÒÙ", "aeiou"},
        {"Cantù 22063", "cantu22063"},          {"€ 5, Forlì", "5forli"},
    };
    for (const auto& s : slugs) EXPECT_EQ(asciiSlug(s.text), s.slug) << s.text;
}

TEST(DemoTables, BudgetAndFunderTableNames) {
    const struct {
        const char* type;
        const char* number;
        const char* name;
    } names[] = {
        {"EU", "12", "EU_12"}, {"EU", "", "EU"},        {" EU ", " 12 ", "EU_12"},
        {"CEI", "   ", "CEI"}, {"Regione", "2301", "Regione_2301"},
    };
    for (const auto& n : names) EXPECT_EQ(budgetTableName(n.type, n.number), n.name) << n.type << "/" << n.number;
    EXPECT_EQ(funderAccountsTableName("Regione"), "RegioneConti");
}

TEST(DemoTables, BudgetTableColumnsInTheirOrder) {
    const std::vector<std::string>& c = budgetTableColumns();
    ASSERT_EQ(c.size(), 60u);
    const struct {
        std::size_t position;
        const char* column;
    } expected[] = {
        {0, "ID int NULL"}, {3, "Numeroconto varchar(255) NULL"}, {6, "ContoReport varchar(255) NULL"},
        {7, "Expenses_1_1 money NULL"}, {8, "Expenses_2_1 money NULL"}, {9, "Expenses_1_2 money NULL"},
        {18, "Expenses_2_6 money NULL"}, {19, "euroexpenses_1_1 money NULL"}, {31, "Budget_1_1 money NULL"},
        {42, "Budget_2_6 money NULL"}, {43, "Budgetapproved money NULL"}, {44, "Budgetproposal money NULL"},
        {45, "Revision1 money NULL"}, {50, "BudgetRevised1 money NULL"}, {55, "PContribution int NULL"},
        {56, "O_Contribution int NULL"}, {57, "QuotaTerzi decimal(9, 2) not NULL default 0"},
        {59, "QuotaAltri decimal(9, 2) not NULL default 0"},
    };
    for (const auto& e : expected) EXPECT_EQ(c[e.position], e.column) << e.position;
}

TEST(DemoPlan, RowsAreSplitOverTheTables) {
    for (std::int64_t rows : {0LL, 1000LL, 12000LL, 600000LL, 6000000LL}) {
        const RowPlan p = planRows(rows);
        SCOPED_TRACE(rows);
        EXPECT_EQ(p.ledgerRows % 2, 0);
        EXPECT_GE(p.ledgerRows, 40);
        EXPECT_GE(p.contacts, 30);
        EXPECT_GE(p.donations, 10);
        EXPECT_GE(p.payslips, 6);
        EXPECT_GE(p.projects, 6);
        EXPECT_LE(p.projects, 40);
        // One, two or three detail rows per payslip in turn.
        std::int64_t details = 0;
        for (std::int64_t i = 0; i < p.payslips; ++i) details += i % 3 + 1;
        EXPECT_EQ(p.payslipDetails, details);
        if (rows >= 12000) {
            // The scale is the total, give or take the odd ledger row.
            EXPECT_LE(plannedTotal(p), rows);
            EXPECT_GE(plannedTotal(p), rows - 1);
            EXPECT_GT(p.ledgerRows, p.contacts);
            EXPECT_GT(p.contacts, p.donations);
            EXPECT_GT(p.donations, p.payslipDetails);
        }
    }
    EXPECT_EQ(planRows(6000000).projects, 30);
}

TEST(DemoRandom, FixedSequenceAndBounds) {
    // splitmix64's published first outputs for the seed 0: the data of a seed never changes.
    Random zero(0);
    EXPECT_EQ(zero.next(), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(zero.next(), 0x6E789E6AA1B965F4ULL);
    EXPECT_EQ(zero.next(), 0x06C45D188009454FULL);

    Random r(42);
    std::set<std::int64_t> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::int64_t v = r.between(-3, 3);
        ASSERT_GE(v, -3);
        ASSERT_LE(v, 3);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 7u);
    EXPECT_EQ(Random(7).between(5, 5), 5);
}

TEST(DemoUsers, NamesAndPasswordsSurviveTheSignInNormalisation) {
    // The sign-in lower-cases what is typed and turns blanks and punctuation into "_": a demo user must
    // be typed exactly as printed. Password column: nvarchar(12); user name: nvarchar(25).
    const std::string allowed = "abcdefghijklmnopqrstuvwxyz0123456789";
    int administrators = 0, withoutPassword = 0, disabled = 0;
    for (const DemoUserProfile& u : demoUsers()) {
        SCOPED_TRACE(u.name);
        EXPECT_EQ(u.name.find_first_not_of(allowed), std::string::npos);
        EXPECT_EQ(u.password.find_first_not_of(allowed), std::string::npos);
        EXPECT_LE(u.password.size(), 12u);
        EXPECT_LE(u.name.size(), 25u);
        EXPECT_EQ(u.rights.size(), 11u);
        administrators += u.administrator;
        withoutPassword += u.password.empty();
        disabled += u.disabled;
    }
    EXPECT_EQ(administrators, 1);
    EXPECT_EQ(withoutPassword, 1);
    EXPECT_EQ(disabled, 1);
    EXPECT_TRUE(demoUsers().front().administrator);
}
