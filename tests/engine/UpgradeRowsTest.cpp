// The rows the schema upgrades write on a company that already holds data, read back from the embedded
// engine: each seeded row is either one an upgrade must rewrite or a neighbour it must leave alone, and
// every check is made again after a second run, which must change nothing more.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "config/SharedObjects.h"
#include "schema/StatementLists.h"
#include "schema/Upgrades.h"
#include "support/ScriptedMessages.h"
#include "support/RowTexts.h"
#include "support/TempDrive.h"

using namespace vopa;

namespace {

const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";
const std::string kLocal = "Driver=SQL Server;Server=(local);ID utente=;Password=;";

using Rows = std::vector<std::string>;

Rows rows(data::Connection& c, const std::string& query) { return vopa::testing::rowTexts(c, query); }

enum class Db { Company, Scratch };

struct Check {
    const char* what;
    Db db;
    std::string query;
    Rows expected;
};

// Accounts the upgrades look up: the configured account 16 and the group of each account in `conti`.
const Rows kAccounts = {
    "INSERT INTO TabellaContiUtili (ID, Description, IDConto) VALUES (16, 'Conto 16', 4401)",
    "INSERT INTO conti (IdConto, IdGruppoVopa) VALUES (4401, 77)",
    "INSERT INTO conti (IdConto, IdGruppoVopa) VALUES (3002, 42)",
};

// The seeded company for the full upgrade run.
// The VAT account table with the layout the upgrade creates (ID may be NULL).
const char* const kVatAccountsAsUpgraded =
    "CREATE TABLE [IvaTabellaContiUtili]([ID] [int] NULL,[Description] [nvarchar](50) NULL,[IDConto] [int] NULL,"
    "[IdProgetto] [int] NULL,[ComodoAutoNumberSede] [int] NULL,[idSedeLocale] [int] NULL,[idconto1] [int] NULL,"
    "[Tasso] [money] NULL,[idpagamento] [int] NULL)";

const std::string kTakingsRow = "SELECT ID, Description, IDConto, IdProgetto, idconto1, Tasso, idpagamento "
                                "FROM IvaTabellaContiUtili WHERE Description LIKE '%Corrispettivi%'";

// The purchase and sales rows of the VAT accounts; the second names the sales VAT account.
const char* const kPurchaseAndSalesVat =
    "INSERT INTO IvaTabellaContiUtili (ID, Description, IDConto) VALUES (1, 'Iva Acquisti', 3001), (2, 'Iva Vendite', 3002)";

const Rows kCompanySeed = {
    // Accounts 33-35 get 1 only where the account is empty (NULL or 0); 32 and 36 are outside the range.
    "INSERT INTO TabellaContiUtili (ID, IDConto, IDConto1) VALUES (32, NULL, NULL), (33, NULL, 8), (34, 0, NULL), "
    "(35, 57, 9), (36, NULL, NULL)",
    // Transfer accounts: row 7 missing, row 11 between two neighbours with accounts, row 36 out of range.
    "INSERT INTO TabellaContiUtiliTransfersHq (id, IDConto, IDConto1, Description) VALUES (10, 100, 5, 'vecchia 10'), "
    "(11, 110, 6, 'vecchia 11'), (12, 120, 7, 'vecchia 12'), (36, 360, 8, 'mia 36')",
    "INSERT INTO IvaTipoTrattamento (Sigla, Tipo, Descrizione) VALUES ('U', 1, 'Uno'), ('D', 2, 'Due'), "
    "('T', 3, 'Tre')",
    // The takings row has an empty (0) account.
    kPurchaseAndSalesVat,
    "INSERT INTO IvaTabellaContiUtili (ID, Description, IDConto, IdProgetto, idconto1, Tasso, idpagamento) "
    "VALUES (3, 'Corrispettivi vecchi', 0, 5, 6, 2, 3)",
    "INSERT INTO valute (Id, Descrizione, IdSede) VALUES (1001, 'EUR', 4), (1002, 'USD', NULL)",
    "INSERT INTO valuteLoco (Id, Descrizione, IdSede) VALUES (1002, 'USD', 4)",
    "INSERT INTO FornitoriImpegniSpesi (IDImpegno, IDValuta, IDImpegnoDettaglio) VALUES (1, NULL, NULL), (2, 0, 5), "
    "(3, 1002, 6)",
    "INSERT INTO FornitoriImpegniProgetti (IDImpegno, IdValuta) VALUES (1, NULL), (2, 0), (3, 1003)",
    "INSERT INTO ClientiImpegniProgettiTesta (IDImpegno, IdPagamento) VALUES (1, NULL), (2, 3)",
    "INSERT INTO ClientiImpegniSpesi (IDImpegno, IDImpegnoDettaglio) VALUES (1, NULL), (2, 4)",
    "INSERT INTO Periodi (id, Descrizione, Multipli) VALUES (2, 'Mio mensile', 10), (6, 'Casuale', 12)",
    "INSERT INTO partitadoppia (Description, ImportoDepositi, ImportoPrelievi, EuroDepositi, EuroPrelievi) VALUES "
    "('zero', 0, 0, 0, 0), ('euro', 0, 0, 0, 5), ('nulla', NULL, 0, 0, 0)",
    "INSERT INTO IvaSezionale (id, idSede, descrizione) VALUES (1, NULL, 'Dezionale Iva'), (2, 3, 'Mio sezionale')",
    "INSERT INTO DonazioniIncassi (idContatto, DataDonazione, datareport) VALUES (1, '2009-03-01', NULL), "
    "(2, '2009-03-01', '2009-05-05')",
    "INSERT INTO ProventiPartners (IdProgetto, Tasso) VALUES (1, 0), (2, 2.5)",
    "INSERT INTO CambiFissi (IdValuta, Dividi) VALUES (1, NULL), (2, 0)",
    "INSERT INTO bustetesta (IdBusta, ImponibileInps) VALUES (1, NULL), (2, 12.5)",
    "INSERT INTO ProjectTipiFlussi (ID, IdMacro, idGruppi, Sigla, Description) VALUES (5, 9, 'Z', 'XX', 'mia'), "
    "(15, 2, 'Q', 'ZZ', 'quindici')",
    "INSERT INTO ProgetiTipoSpesa (ID, Descrizione) VALUES (3, 'Mio testo'), (9, 'Nove')",
};

// The scratch database's server table as an earlier run left it: a stale row 1 and a foreign row 3.
const Rows kScratchSeed = {
    "CREATE TABLE IndirizziServers (Id int not null, Indirizzo nvarchar(50) not null, NomeServer nvarchar(500) not null, "
    "LeggiServer nvarchar(500) not null, NomeServerLocal nvarchar(500) not null, LeggiServerLocal nvarchar(500) not null)",
    "INSERT INTO IndirizziServers VALUES (1, 'Vecchio', 'x', 'x', 'x', 'x')",
    "INSERT INTO IndirizziServers VALUES (3, 'Altro', 'y', 'y', 'y', 'y')",
};

const std::string kServers =
    "SELECT Id, Indirizzo, NomeServer, LeggiServer, NomeServerLocal, LeggiServerLocal FROM IndirizziServers ORDER BY Id";
const std::string kRow1 = "1|Server Condiviso in Rete|SERVER-RETE|" + kServer + "|SERVER-RETE|" + kLocal;
const std::string kRow2 = "2|Server Locale|PC-LOCALE\\sqlexpress|" + kLocal + "|PC-LOCALE\\sqlexpress|" + kLocal;

const std::vector<Check> kCompanyChecks = {
    {"accounts 33-35", Db::Company, "SELECT ID, IDConto, IDConto1 FROM TabellaContiUtili WHERE ID > 16 ORDER BY ID",
     {"32|NULL|NULL", "33|1|1", "34|1|1", "35|57|9", "36|NULL|NULL"}},
    {"transfer accounts", Db::Company, "SELECT id, IDConto, IDConto1, Description FROM TabellaContiUtiliTransfersHq ORDER BY id",
     {"7|4401|77|F.di ai progetti - prestito a progetti", "10|100|5|Chiusura C/Transitorio (Economico)", "11|0|0|xx",
      "12|120|7|Proventi per apporto ONG", "36|360|8|mia 36"}},
    {"VAT treatment type 2", Db::Company, "SELECT Tipo, Descrizione FROM IvaTipoTrattamento ORDER BY Tipo",
     {"1|Uno", "2|I - Imponibile", "3|Tre"}},
    {"VAT takings row", Db::Company,
     "SELECT ID, Description, IDConto, IdProgetto, idconto1, Tasso, idpagamento FROM IvaTabellaContiUtili ORDER BY ID",
     {"1|Iva Acquisti|3001|NULL|NULL|NULL|NULL", "2|Iva Vendite|3002|NULL|NULL|NULL|NULL",
      "3|Iva Corrispettivi|3002|10000001|42|1.0000|1"}},
    {"currencies", Db::Company, "SELECT Id, IdSede FROM valute ORDER BY Id", {"1001|1", "1002|1"}},
    {"local currencies", Db::Company, "SELECT Id, IdSede FROM valuteLoco", {"1002|4"}},
    {"supplier commitments spent", Db::Company,
     "SELECT IDImpegno, IDValuta, IDImpegnoDettaglio FROM FornitoriImpegniSpesi ORDER BY IDImpegno",
     {"1|1001|0", "2|1001|5", "3|1002|6"}},
    {"supplier commitment details", Db::Company, "SELECT IDImpegno, IdValuta FROM FornitoriImpegniProgetti ORDER BY IDImpegno",
     {"1|1001", "2|1001", "3|1003"}},
    {"customer commitment heads", Db::Company,
     "SELECT IDImpegno, IdPagamento FROM ClientiImpegniProgettiTesta ORDER BY IDImpegno", {"1|1", "2|3"}},
    {"customer commitments spent", Db::Company,
     "SELECT IDImpegno, IDImpegnoDettaglio FROM ClientiImpegniSpesi ORDER BY IDImpegno", {"1|0", "2|4"}},
    {"periods", Db::Company, "SELECT id, Descrizione, Multipli FROM Periodi ORDER BY id",
     {"1|Settimanale|52", "2|Mio mensile|10", "3|Trimestrale|4", "4|Semestrale|2", "5|Annuale|1", "6|Casuale|365",
      "7|Giornaliero|365", "8|Quadrimestrale|3", "9|Bimestrale|6"}},
    {"empty ledger rows", Db::Company, "SELECT Description FROM partitadoppia ORDER BY Description", {"euro", "nulla"}},
    {"VAT registers", Db::Company, "SELECT id, idSede, descrizione FROM IvaSezionale ORDER BY id",
     {"1.0000|1.0000|Sezionale Iva", "2.0000|3.0000|Mio sezionale"}},
    {"donation report dates", Db::Company, "SELECT idContatto, datareport FROM DonazioniIncassi ORDER BY idContatto",
     {"1|2009-03-01 00:00:00", "2|2009-05-05 00:00:00"}},
    {"partner rates", Db::Company, "SELECT IdProgetto, Tasso FROM ProventiPartners ORDER BY IdProgetto",
     {"1|1.000000", "2|2.500000"}},
    {"fixed rates", Db::Company, "SELECT IdValuta, Dividi FROM CambiFissi ORDER BY IdValuta", {"1|1", "2|0"}},
    {"pay slips", Db::Company, "SELECT IdBusta, ImponibileInps FROM bustetesta ORDER BY IdBusta", {"1|0.00", "2|12.50"}},
    {"project flow kinds", Db::Company,
     "SELECT ID, Sigla, Description, IdMacro, idGruppi FROM ProjectTipiFlussi WHERE ID IN (1, 5, 14, 15) ORDER BY ID",
     {"1|A1|Aperture Disponibilità Finanziarie Liquide in Sede|3|C.IV.%.1", "5|E3|Apporti ONG in sede|4|B.%",
      "14|SL2|Speso in Loco Valorizzati|4|B.%", "15|ZZ|quindici|2|Q"}},
    {"project flow count", Db::Company, "SELECT count(*) FROM ProjectTipiFlussi", {"15"}},
    {"project expense kinds", Db::Company, "SELECT ID, Descrizione FROM ProgetiTipoSpesa ORDER BY ID",
     {"1|Oneri Personale Espatriato", "2|Oneri Personale Locale", "3|Mio testo",
      "4|Oneri Diretti in Sede - Escluso personale", "5|Affitti in Loco", "6|Oneri di Struttura Loco",
      "7|Oneri Valorizzati - Escluso personale", "9|Nove"}},
    {"server table", Db::Scratch, kServers, {kRow1, kRow2}},
};

// Companies that differ from the one above in a row a condition looks at; each runs one procedure on a
// database holding only the tables those procedures read.
const std::set<std::string> kVariantTables = {"tabellacontiutili", "conti", "TabellaContiUtiliTransfersHq",
                                              "IvaTabellaContiUtili", "IvaTipoTrattamento"};

struct Variant {
    const char* name;
    Rows seed;
    std::function<void(state::GlobalState&)> upgrade;
    Check check;
};

const std::vector<Variant> kVariants = {
    {"TransferRow7Kept",
     {"INSERT INTO TabellaContiUtiliTransfersHq (id, IDConto, IDConto1, Description) VALUES (7, 700, 70, 'vecchia 7')"},
     schema::upgradeTransferAccounts,
     {"an existing row 7 keeps its accounts", Db::Company,
      "SELECT id, IDConto, IDConto1, Description FROM TabellaContiUtiliTransfersHq",
      {"7|700|70|F.di ai progetti - prestito a progetti"}}},
    {"TakingsRowWithAccountKept",
     {kPurchaseAndSalesVat,
      "INSERT INTO IvaTabellaContiUtili (ID, Description, IDConto, IdProgetto, idconto1, Tasso, idpagamento) "
      "VALUES (3, 'Corrispettivi miei', 555, 5, 6, 2, 3)"},
     schema::upgradeVatTables,
     {"a takings row with an account is left as it is", Db::Company,
      "SELECT ID, Description, IDConto, IdProgetto, idconto1, Tasso, idpagamento FROM IvaTabellaContiUtili WHERE ID = 3",
      {"3|Corrispettivi miei|555|5|6|2.0000|3"}}},
    // A company whose VAT account table has the layout the upgrade creates (ID may be NULL), without a
    // takings row: one is added.
    {"TakingsRowAdded",
     {"DROP TABLE IvaTabellaContiUtili", kVatAccountsAsUpgraded, kPurchaseAndSalesVat},
     schema::upgradeVatTables,
     {"the missing takings row is added", Db::Company,
      kTakingsRow,
      {"NULL|Iva Corrispettivi|3002|10000001|42|1.0000|1"}}},
    // The account group cannot be looked up (no chart of accounts): the group is left unset, not 0.
    {"TakingsRowWithoutGroup",
     {"DROP TABLE conti", "DROP TABLE IvaTabellaContiUtili", kVatAccountsAsUpgraded, kPurchaseAndSalesVat},
     schema::upgradeVatTables,
     {"the takings row is added without a group", Db::Company,
      kTakingsRow,
      {"NULL|Iva Corrispettivi|3002|10000001|NULL|1.0000|1"}}},
    // The server-address upgrade rewrites rows 1 and 2 in place and deletes nothing.
    {"ServerRowsRewrittenInPlace",
     {}, [](state::GlobalState& g) { schema::runServerAddressUpgrade(g); },
     {"server table", Db::Scratch, kServers, {kRow1, kRow2, "3|Altro|y|y|y|y"}}},
};

class UpgradeRows : public ::testing::Test {
protected:
    void SetUp() override {
        drive.writeLocalInstallation();
        // Names that differ from each other and from the connection texts, so a field filled from the
        // wrong source shows.
        drive.writeRaw("vopa/NomeServer.txt", "SERVER-RETE");
        drive.writeRaw("vopa/NomeServerLocal.txt", "PC-LOCALE\\sqlexpress");
        g.ComputerName = "PC_01";
        server.open(kServer);
        server.execute("CREATE DATABASE VoPaDatiTemp");
        scratch.open(kServer + "DATABase=VoPaDatiTemp;");
        for (const std::string& s : kScratchSeed) scratch.execute(s);
    }

    // A company database with the base schema (or only the tables named in `only`), the accounts and
    // `seed`, open as the upgrades expect it.
    void makeCompany(const std::string& name, const Rows& seed, const std::set<std::string>& only = {}) {
        server.execute("CREATE DATABASE " + name);
        const std::string text = kServer + "DATABase=" + name + ";";
        data::Connection company;
        company.open(text);
        for (const schema::TableSpec& t : schema::baseSchema())
            if (only.empty() || only.count(t.name)) company.execute(t.createStatement());
        for (const Rows* part : {&kAccounts, &seed})
            for (const std::string& s : *part) company.execute(s);
        company.close();
        if (g.SharedConnection.isOpen()) g.SharedConnection.close();
        g.CompanyDatabaseName = name;
        g.CompanyConnectionString = text;
        g.SharedConnection.open(text);
        ASSERT_TRUE(config::openScratchDatabase(g));
    }

    void expectRows(const Check& c, const std::string& when) {
        data::Connection& target = c.db == Db::Scratch ? scratch : g.SharedConnection;
        EXPECT_EQ(rows(target, c.query), c.expected) << c.what << " " << when;
    }

    vopa::testing::TempDrive drive;
    vopa::testing::ScriptedMessages script;
    state::GlobalState g;
    data::Connection server;
    data::Connection scratch;
};

TEST_F(UpgradeRows, FullUpgradeRewritesTheSelectedRowsAndLeavesTheirNeighbours) {
    makeCompany("VoPaDatiRighe", kCompanySeed);
    for (const char* when : {"after the first run", "after the second run"}) {
        schema::runAllUpgrades(g);
        for (const Check& c : kCompanyChecks) expectRows(c, when);
    }
    EXPECT_TRUE(script->boxes().empty());
}

TEST_F(UpgradeRows, ConditionsOnRowsThatAlreadyExist) {
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        makeCompany(std::string("VoPaDati") + v.name, v.seed, kVariantTables);
        for (const char* when : {"after the first run", "after the second run"}) {
            v.upgrade(g);
            expectRows(v.check, when);
        }
    }
    EXPECT_TRUE(script->boxes().empty());
}

}  // namespace
