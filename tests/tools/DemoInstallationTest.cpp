// The demo installation on the embedded engine: configuration files, registry, two company databases
// with users and data; the same seed gives the same data; an existing installation is replaced only
// when asked.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DemoData.h"
#include "DemoInstallation.h"
#include "platform/data/Connection.h"
#include "platform/data/Recordset.h"
#include "platform/engine/Display.h"
#include "platform/text/Text.h"
#include "schema/StatementLists.h"
#include "support/RowTexts.h"
#include "support/TempDrive.h"

using namespace vopa;
using demo::createDemoInstallation;
using demo::DemoOptions;

namespace {

const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

std::vector<std::string> rows(data::Connection& c, const std::string& query) { return vopa::testing::rowTexts(c, query); }

std::string one(data::Connection& c, const std::string& query) {
    const std::vector<std::string> r = rows(c, query);
    return r.empty() ? "<no row>" : r.front();
}

std::int64_t count(data::Connection& c, const std::string& query) { return std::stoll(one(c, query)); }

std::unique_ptr<data::Connection> openDatabase(const std::string& database) {
    auto c = std::make_unique<data::Connection>();
    c->open(kServer + "DATABase=" + database);
    return c;
}

DemoOptions small(std::int64_t rows, std::uint64_t seed = 1) {
    DemoOptions o;
    o.rows = rows;
    o.seed = seed;
    return o;
}

}  // namespace

TEST(DemoInstallation, SmallInstallationHasRegistryCompaniesUsersAndData) {
    vopa::testing::TempDrive drive;
    EXPECT_FALSE(demo::installationExists());
    std::vector<std::string> progress;
    DemoOptions options = small(2000);
    options.progress = [&](const std::string& line) { progress.push_back(line); };
    const demo::DemoInstallation made = createDemoInstallation(options);
    EXPECT_TRUE(demo::installationExists());
    EXPECT_FALSE(progress.empty());

    // The suite's folder.
    const struct {
        const char* file;
        const char* content;
    } files[] = {
        {"vopa/IndirizzoServer.txt", "Driver=SQL Server;Server=(local);UID=;PWD=;"},
        {"vopa/NomeServer.txt", "(local)"},
        {"vopa/Leggi_ServerLocal.txt", "Driver=SQL Server;Server=(local);ID utente=;Password=;"},
        {"vopa/NomeServerLocal.txt", "(local)"},
    };
    for (const auto& f : files) EXPECT_EQ(drive.readRaw(f.file), f.content) << f.file;
    EXPECT_TRUE(drive.exists("Vopa/Sedi/VoPaDatiAzienda.mdf"));
    EXPECT_TRUE(drive.exists("Vopa/Files"));

    // The registry lists both companies, in the order returned, and no terminal.
    auto registry = openDatabase("VoPaDatiAzienda");
    const std::vector<std::string> companies =
        rows(*registry, "SELECT id, NomeAzienda, dbname, qen_sql, IndirizzoMdf, Stringa_connessione_sql FROM "
                        "link_programma ORDER BY id");
    ASSERT_EQ(companies.size(), 2u);
    ASSERT_EQ(made.companies.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const demo::DemoCompany& c = made.companies[i];
        EXPECT_EQ(companies[i], std::to_string(c.id) + "|" + c.name + "|" + c.databaseName +
                                    "|Qen_locale_sql.mdb|C:\\Vopa\\Sedi\\|");
        EXPECT_EQ(c.databaseName.rfind("VoPaDati", 0), 0u) << c.databaseName;
    }
    EXPECT_NE(made.companies[0].databaseName, made.companies[1].databaseName);
    EXPECT_EQ(count(*registry, "SELECT COUNT(*) FROM link_programmaTerminale"), 0);

    // The users the tool prints: administrator first, then the one without a password, then the disabled one.
    ASSERT_EQ(made.users.size(), 3u);

    const std::int64_t companyRows[] = {options.rows * 3 / 5, options.rows - options.rows * 3 / 5};
    for (std::size_t i = 0; i < 2; ++i) {
        const demo::DemoCompany& company = made.companies[i];
        SCOPED_TRACE(company.databaseName);
        auto db = openDatabase(company.databaseName);
        EXPECT_GE(count(*db, "SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLES"), 355);
        EXPECT_EQ(rows(*db, "SELECT id, NomeAzienda, dbname FROM link_programma"),
                  std::vector<std::string>{"1|" + company.name + "|" + company.databaseName});
        EXPECT_EQ(one(*db, "SELECT IdSede FROM sede"), "1");

        // Users, with their rights and states.
        const std::string rights =
            "Administrator, A_Inserisci, A_Cancella, A_Iva, A_Bilancio, A_Personale, A_ArchivioStoria, A_PFinanza, "
            "A_Synchro, A_EmettiPagamenti, A_Progetta, Disabilita";
        const auto user = [&](const demo::DemoUser& u) {
            return one(*db, "SELECT ISNULL(PaswUtente, N'<null>'), " + rights +
                                " FROM AbilitazioneAccessi WHERE NomeUtente = N'" + u.name + "'");
        };
        EXPECT_EQ(count(*db, "SELECT COUNT(*) FROM AbilitazioneAccessi"), 3);
        EXPECT_EQ(user(made.users[0]), made.users[0].password + "|1|1|1|1|1|1|1|1|1|1|1|0");
        const std::string noPassword = user(made.users[1]);
        EXPECT_EQ(noPassword.substr(0, 7), "<null>|");
        EXPECT_NE(noPassword.find("|1"), std::string::npos) << "some rights";
        EXPECT_EQ(noPassword.substr(noPassword.size() - 2), "|0");
        const std::string disabledUser = user(made.users[2]);
        EXPECT_EQ(disabledUser.substr(0, made.users[2].password.size() + 3), made.users[2].password + "|0|");
        EXPECT_EQ(disabledUser.substr(disabledUser.size() - 2), "|1");

        // The large tables hold what the plan gives them.
        const demo::RowPlan plan = demo::planRows(companyRows[i]);
        const struct {
            const char* table;
            std::int64_t rows;
        } sizes[] = {{"contatti", plan.contacts},          {"partitadoppia", plan.ledgerRows},
                     {"DonazioniIncassi", plan.donations}, {"bustetesta", plan.payslips},
                     {"bustedettaglio", plan.payslipDetails}, {"progetti", plan.projects}};
        for (const auto& s : sizes)
            EXPECT_EQ(count(*db, std::string("SELECT COUNT(*) FROM ") + s.table), s.rows) << s.table;

        // Double entry: two rows per transaction, debits equal credits in euro and in the currency.
        EXPECT_EQ(count(*db, "SELECT COUNT(DISTINCT NumeroTransazione) FROM partitadoppia") * 2, plan.ledgerRows);
        EXPECT_EQ(one(*db, "SELECT SUM(EuroDepositi) - SUM(EuroPrelievi), SUM(ImportoDepositi) - SUM(ImportoPrelievi) "
                           "FROM partitadoppia"),
                  "0.00|0.00");
        // Rows that must not exist, and rows that must: a ledger row on both sides, a ledger or donation row
        // naming a contact that does not exist; foreign currencies, and Italian texts arriving whole
        // (accents and apostrophes).
        const std::pair<const char*, bool> rowsFound[] = {
            {"partitadoppia WHERE EuroDepositi <> 0 AND EuroPrelievi <> 0", false},
            {"partitadoppia WHERE IDContatto IS NOT NULL AND IDContatto NOT IN (SELECT IdContatto FROM contatti)",
             false},
            {"DonazioniIncassi WHERE idContatto NOT IN (SELECT IdContatto FROM contatti)", false},
            {"partitadoppia WHERE IsoValuta <> N'EUR'", true},
            {"contatti WHERE NomeSocietà LIKE N'%''%'", true},
            {"contatti WHERE Città LIKE N'%à%' OR Città LIKE N'%ì%' OR Città LIKE N'%ù%' OR Città LIKE N'%''%'",
             true},
        };
        for (const auto& [where, found] : rowsFound)
            EXPECT_EQ(count(*db, std::string("SELECT COUNT(*) FROM ") + where) > 0, found) << where;
        // A payslip's cost is charged in full, its percentages add up to 100.
        EXPECT_EQ(one(*db, "SELECT SUM(ImponibileInps) FROM bustetesta"),
                  one(*db, "SELECT CAST(SUM(ImportoDepositi) AS decimal(18,2)) FROM bustedettaglio"));
        EXPECT_EQ(count(*db, "SELECT CAST(SUM(PercentualeProgetto) AS int) FROM bustedettaglio"), 100 * plan.payslips);

        // Each project has its budget table, named Type_Number (the type alone without a number), with a
        // row per budgeted account (the build's test compares its sixty columns).
        const std::vector<std::string> projects = rows(*db, "SELECT Type, ISNULL(Number, N'') FROM progetti ORDER BY ID");
        int withoutNumber = 0;
        for (const std::string& p : projects) {
            const std::size_t bar = p.find('|');
            const std::string name = demo::budgetTableName(p.substr(0, bar), p.substr(bar + 1));
            withoutNumber += p.substr(bar + 1).empty();
            EXPECT_EQ(name, p.substr(bar + 1).empty() ? p.substr(0, bar) : p.substr(0, bar) + "_" + p.substr(bar + 1));
            EXPECT_GT(count(*db, "SELECT COUNT(*) FROM [" + name + "] WHERE IDConto IS NOT NULL"), 0) << name;
            EXPECT_EQ(count(*db, "SELECT COUNT(*) FROM [" + name + "] WHERE QuotaTerzi + QuotaOng + QuotaAltri <> 100"),
                      0)
                << name;
        }
        EXPECT_EQ(withoutNumber, 1);

        // Each funder type has its accounts table; the organisation's own ("ong") is ongconti.
        const std::vector<std::string> types = rows(*db, "SELECT DISTINCT Type FROM finanziatore");
        bool ong = false;
        for (const std::string& type : types) {
            const std::string table = text::toLower(type) == "ong" ? "ongconti" : demo::funderAccountsTableName(type);
            ong = ong || table == "ongconti";
            EXPECT_GT(count(*db, "SELECT COUNT(*) FROM [" + table + "]"), 0) << table;
        }
        EXPECT_TRUE(ong);
        EXPECT_GE(types.size(), 4u);
    }
}

TEST(DemoInstallation, SameSeedSameDataOtherSeedOtherData) {
    // The generator alone, on databases that hold only the tables it fills: the same seed on two drives
    // gives the same rows, another seed other rows.
    const auto generated = [](std::uint64_t seed) {
        vopa::testing::TempDrive drive;
        auto master = openDatabase("master");
        master->execute("CREATE DATABASE Generata");
        auto db = openDatabase("Generata");
        const std::set<std::string> filled = {
            "link_programma", "sede",          "elencosedi", "AbilitazioneAccessi", "valute",
            "stati",          "tipoanagrafica", "tipi_di_conto", "conti",             "finanziatore",
            "ongconti",       "contatti",      "progetti",   "partitadoppia",       "DonazioniIncassi",
            "bustetesta",     "bustedettaglio"};
        for (const schema::TableSpec& t : schema::baseSchema())
            if (filled.count(t.name)) db->execute(t.createStatement());
        demo::fillCompany(*db, demo::demoCompanies()[1], demo::planRows(1500), seed, {});
        std::vector<std::string> all;
        for (const char* query : {"SELECT * FROM partitadoppia ORDER BY IDTransazione",
                                  "SELECT * FROM contatti ORDER BY IdAutoNumber", "SELECT * FROM bustedettaglio ORDER BY id",
                                  "SELECT * FROM [Regione] ORDER BY ID"})
            for (std::string& r : rows(*db, query)) all.push_back(std::move(r));
        return all;
    };
    const std::vector<std::string> first = generated(7);
    ASSERT_GT(first.size(), 1000u);
    EXPECT_EQ(generated(7), first);
    EXPECT_NE(generated(8), first);
}

TEST(DemoInstallation, ExistingInstallationIsReplacedOnlyWithForce) {
    vopa::testing::TempDrive drive;
    createDemoInstallation(small(300));
    const std::string ledger = "SELECT * FROM partitadoppia ORDER BY IDTransazione";
    std::vector<std::string> before;
    {
        auto db = openDatabase("VoPaDatiNordSud");
        before = rows(*db, ledger);
        db->execute("INSERT INTO valute (Id, Descrizione, IdSede) VALUES (99, N'PROVA', 1)");
    }
    const std::string marker = "SELECT COUNT(*) FROM valute WHERE Descrizione = N'PROVA'";

    // Refused (the words of the refusal are checked where the tool prints them).
    EXPECT_THROW(createDemoInstallation(small(300, 2)), demo::DemoError);
    {
        auto db = openDatabase("VoPaDatiNordSud");
        EXPECT_EQ(count(*db, marker), 1);
        auto registry = openDatabase("VoPaDatiAzienda");
        EXPECT_EQ(count(*registry, "SELECT COUNT(*) FROM link_programma"), 2);
    }

    // Replaced by an installation with the same seed: the marker is gone, the ledger is the same again.
    DemoOptions force = small(300, 1);
    force.force = true;
    const demo::DemoInstallation again = createDemoInstallation(force);
    EXPECT_EQ(again.companies.size(), 2u);
    auto db = openDatabase("VoPaDatiNordSud");
    EXPECT_EQ(count(*db, marker), 0);
    EXPECT_GE(before.size(), 40u);
    EXPECT_EQ(rows(*db, ledger), before);
    EXPECT_EQ(count(*db, "SELECT COUNT(*) FROM AbilitazioneAccessi"), 3);
    auto registry = openDatabase("VoPaDatiAzienda");
    EXPECT_EQ(count(*registry, "SELECT COUNT(*) FROM link_programma"), 2);
    auto master = openDatabase("master");
    EXPECT_EQ(count(*master, "SELECT COUNT(*) FROM master.dbo.sysdatabases WHERE name IN ('VoPaDatiAzienda', "
                             "'VoPaDatiNordSud', 'VoPaDatiAquilone')"),
              3);
}

TEST(DemoInstallation, BulkInsertCommitsInStepsAndReportsProgress) {
    vopa::testing::TempDrive drive;
    auto master = openDatabase("master");
    master->execute("CREATE DATABASE Prova");
    auto db = openDatabase("Prova");
    db->execute("CREATE TABLE t (n int NULL, s nvarchar(20) NULL)");

    std::vector<std::string> lines;
    {
        demo::BulkInsert b(*db, "t", "n, s", 2500, "Prova", [&](const std::string& l) { lines.push_back(l); }, 1000);
        for (int i = 1; i <= 2500; ++i) b.add(std::to_string(i) + "," + demo::sqlText("D'Angelo " + std::to_string(i)));
        b.finish();
        EXPECT_EQ(b.rowsAdded(), 2500);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"Prova: t 1000/2500", "Prova: t 2000/2500", "Prova: t 2500/2500"}));
    EXPECT_EQ(one(*db, "SELECT COUNT(*), SUM(n), MAX(s) FROM t"), "2500|3126250|D'Angelo 999");
    EXPECT_EQ(one(*db, "SELECT @@TRANCOUNT"), "0");

    // The rows of an insert abandoned before its end are given back, also those already sent.
    {
        demo::BulkInsert b(*db, "t", "n, s", 1500, "Prova", {}, 2000);
        for (int i = 1; i <= 1500; ++i) b.add(std::to_string(i) + ",NULL");
    }
    EXPECT_EQ(one(*db, "SELECT COUNT(*), @@TRANCOUNT FROM t"), "2500|0");
}
