#include "Upgrades.h"

#include <cmath>

#include "StatementLists.h"
#include "company/TableChecks.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/SharedObjects.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::schema {
namespace {

using data::CursorType;
using data::LockType;
using data::Recordset;

std::string number(long v) { return std::to_string(v); }

// Runs statements `from` to `to` (inclusive) of a procedure's list on their connections, each with its
// failure skipped.
void runStatements(state::GlobalState& g, std::string_view procedure, int from = 1, int to = 1000) {
    for (const UpgradeStatement& s : upgradeStatementsOf(procedure)) {
        if (s.number < from || s.number > to) continue;
        const std::string statement = s.resolved(g.ComputerName);
        data::Connection& target =
            s.target == UpgradeStatement::Target::Server ? g.ServerConnection : g.SharedConnection;
        util::ignoreErrors([&] { target.execute(statement); });
    }
}

// Opens `query` on `connection` (keyset, pessimistic) and hands the recordset to `work`; any failure
// skips the rest of the work.
void withRecordset(data::Connection& connection, const std::string& query, const std::function<void(Recordset&)>& work) {
    util::ignoreErrors([&] {
        Recordset rs;
        rs.open(query, connection, CursorType::Keyset, LockType::Pessimistic);
        work(rs);
        if (rs.isOpen()) {
            rs.cancelUpdate();
            rs.close();
        }
    });
}

// True when `query` returns no row, or cannot be read at all (then the statements it guards run and
// fail harmlessly on their own).
bool hasNoRows(data::Connection& connection, const std::string& query) {
    bool empty = true;
    withRecordset(connection, query, [&](Recordset& rs) { empty = rs.eof(); });
    return empty;
}

void setField(Recordset& rs, const char* name, const Value& v) {
    util::ignoreErrors([&] { rs.setField(name, v); });
}

void save(Recordset& rs) {
    if (!util::ignoreErrors([&] { rs.update(); })) util::ignoreErrors([&] { rs.cancelUpdate(); });
}

// ServerConnection on VoPaDatiTemp of the local server; the text is also kept in RegistryConnectionString.
void openScratchForServerAddresses(state::GlobalState& g) {
    if (g.ServerConnection.isOpen()) util::ignoreErrors([&] { g.ServerConnection.close(); });
    g.RegistryConnectionString =
        config::addressDatabaseConnection(config::readLocalConnection(g), config::kScratchDatabase);
    util::ignoreErrors([&] { g.ServerConnection.open(g.RegistryConnectionString); });
}

// The fields of an IndirizziServers row; each read may fail on its own (a missing configuration file)
// and then leaves its field unset.
void fillServerAddressRow(state::GlobalState& g, Recordset& rs, int id) {
    setField(rs, "id", Value::longInt(id));
    setField(rs, "Indirizzo", Value::string(id == 1 ? "Server Condiviso in Rete" : "Server Locale"));
    std::string address;
    const bool addressRead = util::ignoreErrors([&] { address = config::readServerAddress(g); });
    if (id == 1) {
        setField(rs, "nomeserver", Value::string(g.ServerName));
        setField(rs, "nomeserverlocal", Value::string(g.ServerName));
        if (addressRead) setField(rs, "LeggiServer", Value::string(address));
    }
    const std::string local = config::readLocalConnection(g);
    if (id == 2) {
        const std::string localName = config::readLocalServerName(g);
        setField(rs, "nomeserver", Value::string(localName));
        setField(rs, "nomeserverlocal", Value::string(localName));
        setField(rs, "LeggiServer", Value::string(local));
    }
    setField(rs, "LeggiServerLocal", Value::string(local));
}

// The VAT account of a code: the idconto of row 1 ("A", "AR"), 2 ("V", "VR", "VD") or 4 ("C", "CR") of
// ivaTabellaContiUtili; 0 when that row does not exist.
double vatAccount(state::GlobalState& g, const std::string& code) {
    int row = code == "A" || code == "AR" ? 1 : code == "V" || code == "VR" || code == "VD" ? 2
              : code == "C" || code == "CR"                                   ? 4
                                                                               : 0;
    double account = 0;
    if (row == 0) return 0;
    withRecordset(g.SharedConnection, "SELECT * FROM ivaTabellaContiUtili", [&](Recordset& rs) {
        for (int i = 1; i < row && !rs.eof(); ++i) rs.moveNext();
        if (!rs.eof()) {
            Value v = rs.field("idconto");
            account = util::isEmptyValue(v) ? 0 : v.toDouble();
        }
    });
    return account;
}

Value accountValue(double account) { return Value::longInt(static_cast<std::int32_t>(std::llround(account))); }

}  // namespace

std::int32_t accountGroup(state::GlobalState& g, double account) {
    // No trap of its own: a failing lookup reaches the caller, whose assignment is then skipped instead
    // of writing a group 0 that no account has.
    std::int32_t group = 0;
    data::Connection own;
    own.open(g.CompanyConnectionString);
    Recordset rs;
    rs.open("SELECT  IdGruppoVopa From conti where IdConto =" + number(std::lround(account)), own, CursorType::Keyset,
            LockType::ReadOnly);
    if (!rs.eof()) {
        Value v = rs.field("IdGruppoVopa");
        if (!util::isEmptyValue(v)) group = static_cast<std::int32_t>(v.toDouble());
    }
    return group;
}

void createTranslationTable(state::GlobalState& g) {
    const std::string creation = std::string("Create Table TraduciForms (") +
                                 " IdAutonumber int not null identity(1,1)," + " NomeApp Nvarchar(255) Null," +
                                 " NomeForm Nvarchar(255) Null," + " NomeControllo NVarchar(255) null," +
                                 " IT Nvarchar(255) null," + " EN Nvarchar(255) null," + " FR Nvarchar(255) null," +
                                 " ES Nvarchar(255) null," + " PO Nvarchar(255) null," + " DE Nvarchar(255) null" + ")";
    util::ignoreErrors([&] { g.SharedConnection.execute(creation); });
}

// ---- the main upgrade and the procedures it calls -----------------------------------------------------

void runMainUpgrade(state::GlobalState& g, const UpgradeHooks& hooks) {
    openScratchForServerAddresses(g);
    runStatements(g, "main", 1, 2);
    withRecordset(g.ServerConnection, "indirizziservers", [&](Recordset& rs) {
        for (int id : {1, 2}) {
            rs.addNew();
            fillServerAddressRow(g, rs, id);
            save(rs);
        }
    });
    runStatements(g, "main", 3, 3);
    upgradeVatTables(g);
    upgradeMiscColumns(g);
    upgradeTransferAccounts(g);
    upgradeCommitments(g);
    upgradeProjectManagement(g);
    upgradeLedgerCompanionTables(g);
    upgradeAnalysisTables(g);
    upgradePeriodsAndBankReceipts(g);
    upgradeExchangeDifferences(g);
    upgradePaymentSelection(g);
    upgradeFixedAssets(g);
    upgradeProjectReports(g);
    runStatements(g, "main", 4, 4);
    if (hooks.finished) hooks.finished();
    config::resetSharedObjects(g);
}

void upgradeVatTables(state::GlobalState& g) {
    runStatements(g, "vat_tables");
    withRecordset(g.SharedConnection, "select * from ivatipotrattamento where Tipo = 2", [&](Recordset& rs) {
        if (rs.eof()) return;
        setField(rs, "Descrizione", Value::string("I - Imponibile"));
        save(rs);
    });
    const double salesAccount = vatAccount(g, "V");
    withRecordset(g.SharedConnection, "select * from IvaTabellaContiUtili where Description like '%Corrispettivi%'",
                  [&](Recordset& rs) {
                      // A row that already names its account is left as it is.
                      if (!rs.eof() && !util::isEmptyValue(rs.field("idconto"))) return;
                      if (rs.eof()) rs.addNew();
                      setField(rs, "Description", Value::string("Iva Corrispettivi"));
                      setField(rs, "idconto", accountValue(salesAccount));
                      setField(rs, "idprogetto", Value::longInt(10000001));
                      util::ignoreErrors([&] { rs.setField("idconto1", Value::longInt(accountGroup(g, salesAccount))); });
                      setField(rs, "Tasso", Value::longInt(1));
                      setField(rs, "IDPagamento", Value::longInt(1));
                      save(rs);
                  });
}

void upgradeMiscColumns(state::GlobalState& g) { runStatements(g, "misc_columns"); }

void upgradeTransferAccounts(state::GlobalState& g) {
    withRecordset(g.SharedConnection, "select * from  TabellaContiUtiliTransfersHq where id = 7 ", [&](Recordset& rs) {
        if (!rs.eof()) return;
        double account = 0;
        util::ignoreErrors([&] { account = company::configuredAccount16(g); });
        rs.addNew();
        setField(rs, "id", Value::longInt(7));
        setField(rs, "idconto", accountValue(account));
        util::ignoreErrors([&] { rs.setField("idconto1", Value::longInt(accountGroup(g, account))); });
        setField(rs, "Description", Value::string("F.di ai progetti - prestito a progetti"));
        save(rs);
    });
    static const char* const kDescriptions[35] = {
        "F.di assegnati ai progetti",
        "F.di ai progetti - Fondi ricevuti",
        "Crediti per rendiconti presentati Quote Donor",
        "Proventi Contributo Donor",
        "Progetti - Crediti Ong per oneri anticipati",
        "Progetti - Debiti V/Ong per oneri anticipati",
        "F.di ai progetti - prestito a progetti",
        "Crediti per rendiconti presentati Quote ONG",
        "Crediti per rendiconti presentati Quote di Terzi",
        "Chiusura C/Transitorio (Economico)",
        "xx",
        "Proventi per apporto ONG",
        "Proventi per apporto Altri Partners",
        "Anticipi al Personale Italia",
        "Proventi per apporto ONG - Valorizzati",
        "Fondi per Progetti - Apporto C/Parte",
        "Proventi Apporto C/Parte",
        "Proventi per progetti realizzati",
        "Proventi per progetti realizzati e chiusi",
        "Recupero spese dai progetti",
        "Debiti V/ Donor - Tranche ricevute",
        "Anticipazioni ai progetti",
        "Fondi per Progetti - Apporto Donor",
        "Fondi per Progetti - Apporto ONG",
        "Fondi per Progetti - Apporto Altri Partners",
        "Fondi per Progetti - Apporto da Privati",
        "Anticipi agli espatriati",
        "F.di ai progetti - Invio da loco a sede",
        "F.di ai progetti - Ricezione in sede da loco",
        "Fondi Progetti Propri- Debiti v/Beneficiari",
        "Fondi Progetti Propri- Crediti per perdite Sad",
        "F.di ai progetti - Invio da loco a loco",
        "Debiti V/ Donor - C/app.Incassi Donor Italia (A)",
        "Debiti V/ Donor - C/app.Incassi Donor        (D)",
        "Debiti V/ Donor - C/app.Incassi Donor Loco   (A)",
    };
    for (int id = 1; id <= 35; ++id)
        withRecordset(g.SharedConnection, "select * from  TabellaContiUtiliTransfersHq where id =  " + number(id),
                      [&](Recordset& rs) {
                          if (rs.eof()) return;  // missing rows are not created
                          setField(rs, "Description", Value::string(kDescriptions[id - 1]));
                          if (id == 11) {
                              setField(rs, "idconto", Value::longInt(0));
                              setField(rs, "idconto1", Value::longInt(0));
                          }
                          save(rs);
                      });
}

void upgradeCommitments(state::GlobalState& g) { runStatements(g, "commitments"); }

void upgradeProjectManagement(state::GlobalState& g) {
    runStatements(g, "project_management", 1, 3);
    // A PrevisionaleAnno that holds rows keeps its layout; an empty one is made again.
    if (hasNoRows(g.SharedConnection, "select * from previsionaleanno")) runStatements(g, "project_management", 4, 5);
    runStatements(g, "project_management", 6, 19);
    if (hasNoRows(g.SharedConnection, "select * from BancheSedi")) runStatements(g, "project_management", 20, 20);
    runStatements(g, "project_management", 21, 31);
    struct Flow {
        const char* sigla;
        const char* description;
        int macro;
        const char* groups;
    };
    static const Flow kFlows[14] = {
        {"A1", "Aperture Disponibilità Finanziarie Liquide in Sede", 3, "C.IV.%.1"},
        {"A2", "Aperture Disponibilità Finanziarie Liquide in Loco", 3, "C.IV.%.2"},
        {"E1", "Entrate in Sede dai Donatori", 1, "A.1.1%"},
        {"E2", "Entrate in Loco dai Donatori", 1, "A.1.1%"},
        {"E3", "Apporti ONG in sede", 4, "B.%"},
        {"E4", "Apporti Ong in loco", 1, "B.%"},
        {"E5", "Apporti Valorizzati", 1, "B.%"},
        {"E6", "Apporti Altri Cash", 1, "B.%"},
        {"IL", "Invii in loco", 3, "C.%"},
        {"IS", "Invii da loco", 3, "C.%"},
        {"SS1", "Speso in Sede", 4, "B.%"},
        {"SS2", "Speso in Sede Valorizzati", 4, "B.%"},
        {"SL1", "Speso in Loco", 4, "B.%"},
        {"SL2", "Speso in Loco Valorizzati", 4, "B.%"},
    };
    for (int id = 1; id <= 14; ++id)
        withRecordset(g.SharedConnection, "select * from projecttipiflussi where id = " + number(id), [&](Recordset& rs) {
            if (rs.eof()) {
                rs.addNew();
                setField(rs, "id", Value::longInt(id));
            }
            const Flow& f = kFlows[id - 1];
            setField(rs, "sigla", Value::string(f.sigla));
            setField(rs, "Description", Value::string(f.description));
            setField(rs, "IdMacro", Value::longInt(f.macro));
            setField(rs, "IdGruppi", Value::string(f.groups));
            save(rs);
        });
    runStatements(g, "project_management", 32, 37);
}

void upgradeLedgerCompanionTables(state::GlobalState& g) {
    // The workstation's correction table is named after the computer, made safe for a table name.
    util::sanitise(g.ComputerName);
    runStatements(g, "ledger_companion_tables");
}

void upgradeAnalysisTables(state::GlobalState& g) { runStatements(g, "analysis_tables"); }
void upgradePeriodsAndBankReceipts(state::GlobalState& g) { runStatements(g, "periods_bank_receipts"); }
void upgradeExchangeDifferences(state::GlobalState& g) { runStatements(g, "exchange_differences"); }
void upgradePaymentSelection(state::GlobalState& g) { runStatements(g, "payment_selection"); }
void upgradeFixedAssets(state::GlobalState& g) { runStatements(g, "fixed_assets"); }

void upgradeProjectReports(state::GlobalState& g) {
    runStatements(g, "project_reports");
    static const char* const kKinds[7] = {"Oneri Personale Espatriato",
                                          "Oneri Personale Locale",
                                          "Oneri Diretti in Loco - Escluso personale",
                                          "Oneri Diretti in Sede - Escluso personale",
                                          "Affitti in Loco",
                                          "Oneri di Struttura Loco",
                                          "Oneri Valorizzati - Escluso personale"};
    for (int id = 1; id <= 7; ++id)
        withRecordset(g.SharedConnection, "Select * from ProgetiTipoSpesa where id = " + number(id), [&](Recordset& rs) {
            if (!rs.eof()) return;  // an existing kind keeps its text
            rs.addNew();
            setField(rs, "id", Value::longInt(id));
            setField(rs, "Descrizione", Value::string(kKinds[id - 1]));
            save(rs);
        });
}

// ---- the other two upgrades -------------------------------------------------------------------------

void runServerAddressUpgrade(state::GlobalState& g, const UpgradeHooks& hooks) {
    openScratchForServerAddresses(g);
    runStatements(g, "server_addresses", 1, 1);
    for (int id : {1, 2})
        withRecordset(g.ServerConnection, "select * from indirizziservers where id = " + number(id), [&](Recordset& rs) {
            if (rs.eof()) rs.addNew();
            fillServerAddressRow(g, rs, id);
            save(rs);
        });
    createTranslationTable(g);
    for (int id : {33, 34, 35})
        withRecordset(g.SharedConnection, "SELECT  * From TabellaContiUtili where id = " + number(id) + " ",
                      [&](Recordset& rs) {
                          if (rs.eof() || !util::isEmptyValue(rs.field("idconto"))) return;
                          setField(rs, "idconto", Value::longInt(1));
                          setField(rs, "idconto1", Value::longInt(1));
                          save(rs);
                      });
    runStatements(g, "server_addresses", 2, 4);
    upgradeCommitments(g);
    runStatements(g, "server_addresses", 5, 11);
    if (hooks.finished) hooks.finished();
    config::resetSharedObjects(g);
}

void runSecondUpgrade(state::GlobalState& g) { runStatements(g, "second_upgrade"); }

void runAllUpgrades(state::GlobalState& g, const UpgradeHooks& hooks) {
    runMainUpgrade(g, hooks);
    runServerAddressUpgrade(g, hooks);
    runSecondUpgrade(g);
}

}  // namespace vopa::schema
