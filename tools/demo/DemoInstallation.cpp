#include "DemoInstallation.h"

#include "DemoData.h"

#include <algorithm>
#include <map>
#include <random>

#include "platform/text/Text.h"
#include "transfer/Catalogue.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "platform/data/Connection.h"
#include "platform/data/DataError.h"
#include "platform/files/Files.h"
#include "platform/sys/SystemInfo.h"
#include "platform/ui/MessageService.h"
#include "schema/SchemaSteps.h"
#include "state/GlobalState.h"
#include "util/Helpers.h"

namespace vopa::demo {

namespace {

// Nobody can answer a box while the installation is made: the schema procedures' messages are kept
// and handed to the progress callback, every question is answered No.
class KeptMessages final : public ui::MessageService {
public:
    KeptMessages() : previous_(ui::installMessageService(this)) {}
    ~KeptMessages() override { ui::installMessageService(previous_); }
    KeptMessages(const KeptMessages&) = delete;
    KeptMessages& operator=(const KeptMessages&) = delete;

    ui::Answer show(const ui::MessageBox& box) override {
        texts.push_back(box.text);
        return box.buttons == ui::Buttons::YesNo ? ui::Answer::No : ui::Answer::Ok;
    }
    [[noreturn]] void endProgram(const ui::MessageBox& box) override { throw DemoError(box.text); }

    std::vector<std::string> texts;

private:
    ui::MessageService* previous_;
};

// The configuration files of the suite's folder: the server and the local server are this machine's
// default instance, reached without a login.
// Tables real company databases hold that the base schema does not make (the copy takes them over with
// their structure), with a few rows each.
const char* const kCompanyOnlyTables[] = {
    "CREATE TABLE Banca (IDBanca int identity(1,1) NOT NULL, NomeBanca nvarchar(50) NULL, FidoCassa money NULL, "
    "FidoSbf money NULL, FidoAF money NULL, FidoAC money NULL, DisponibilitàSbf money NULL, DisponibilitàAF money NULL, "
    "DisponibilitàAC money NULL, ValutaSbf int NULL, ValutaAF int NULL, ValutaAC int NULL, DataConsuntivo datetime NULL, "
    "SaldoCC money NULL, SaldoSBF money NULL, SaldoAf money NULL, SaldoAc money NULL)",
    "INSERT INTO Banca (NomeBanca, FidoCassa, DisponibilitàSbf, DataConsuntivo, SaldoCC) VALUES "
    "(N'Banca Popolare dell''Alto Adige', 25000.50, 1200.75, '20240131', 48211.37), "
    "(N'Cassa di Risparmio di Città di Castello', 10000, 0, '20240229', -1520.08)",
    "CREATE TABLE baseconti (ID int identity(1,1) NOT NULL, Category nvarchar(20) NULL, Number nvarchar(20) NULL, "
    "BudgetItem nvarchar(40) NULL, Description nvarchar(100) NULL, IdTipoConto int NULL, IdGruppoVopa int NULL, "
    "ComodoAutoNumberSede int NULL, idSedeLocale int NULL, Seleziona bit NULL)",
    "INSERT INTO baseconti (Category, Number, BudgetItem, Description, IdTipoConto, IdGruppoVopa, Seleziona) VALUES "
    "(N'A', N'1.1', N'Personale', N'Spese per il personale espatriato', 1, 3, 0), "
    "(N'B', N'2.4', N'Attrezzature', N'Acquisto di attrezzature e forniture', 1, 4, 1)",
    "CREATE TABLE TmpBilancioTmp (ID int identity(1,1) NOT NULL, IDTipoConto int NULL, NomeConto nvarchar(255) NULL, "
    "IdChiave int NULL, IDConto int NULL, IDContatto int NULL, IdValuta int NULL, ParzialeConto money NULL, "
    "ProgressivoConto money NULL, ProgressivoMastro money NULL, ParzialeEuroConto money NULL, "
    "ProgressivoEuroConto money NULL, ProgressivoEuroMastro money NULL, IdGruppoVopa int NULL, Apertura money NULL, "
    "MovDare money NULL, MovAvere money NULL, Saldo money NULL, idprogettoRendiconto int NULL, idSedeCompetenza int NULL)",
    "CREATE TABLE CubiBItem (id int identity(1,1) NOT NULL, IDConto int NULL, IDContatto int NULL, IdValuta int NULL, "
    "idprogettoRendiconto int NULL, idprogetto int NULL, idSedeCompetenza int NULL, IdChiave int NULL, IdMastro int NULL, "
    "Gruppo1 nvarchar(50) NULL, Gruppo2 nvarchar(50) NULL, Gruppo3 nvarchar(50) NULL, Gruppo4 nvarchar(50) NULL, "
    "Gruppo5 nvarchar(50) NULL, Gruppo6 nvarchar(50) NULL, Gruppo7 nvarchar(50) NULL, Gruppo8 nvarchar(50) NULL, "
    "Gruppo9 nvarchar(50) NULL, Gruppo10 nvarchar(50) NULL, Gruppo11 nvarchar(50) NULL, Gruppo12 nvarchar(50) NULL, "
    "Livello0 nvarchar(50) NULL, Livello1 nvarchar(50) NULL, ParzialeConto money NULL, ProgressivoConto money NULL, "
    "ParzialeEuroConto money NULL, ProgressivoEuroConto money NULL, ProgressivoEuroMastro money NULL, Apertura money NULL, "
    "MovDare money NULL, MovAvere money NULL, Saldo money NULL, NomeConto nvarchar(255) NULL, IDTipoConto int NULL)",
};

// Gives a company database what real ones hold beyond the base schema: the tables above, and the
// columns the copy reads that the base schema leaves out (ComodoAutoNumber of many tables, TassoCambio
// of PartitaDoppiaValuta).
void completeCompanyStructure(data::Connection& company) {
    for (const char* statement : kCompanyOnlyTables) company.execute(statement);
    // The columns of every table, read once (the catalog lists the whole database each time it is read).
    std::map<std::string, std::vector<std::string>> columns;
    auto rs = company.execute("SELECT TABLE_NAME, COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS");
    for (; rs && rs->isOpen() && !rs->eof(); rs->moveNext())
        columns[text::toLower(rs->field(0).toString())].push_back(text::toLower(rs->field(1).toString()));
    for (const transfer::CatalogueEntry& e : transfer::catalogue()) {
        if (e.insertColumns.empty()) continue;
        std::vector<std::string>& present = columns[text::toLower(e.table)];
        if (present.empty()) continue;
        for (const std::string& column : e.insertColumns) {
            if (std::find(present.begin(), present.end(), text::toLower(column)) != present.end()) continue;
            const char* type = text::equalsNoCase(column, "TassoCambio") ? "float" : "int";
            company.execute("ALTER TABLE [" + e.table + "] ADD [" + column + "] " + type + " NULL");
            present.push_back(text::toLower(column));
        }
    }
}

void writeConfigurationFiles() {
    files::writeTextFile(config::kServerAddressFile, kDemoServerAddress);
    files::writeTextFile(config::kServerNameFile, "(local)");
    files::writeTextFile(config::kLocalConnectionFile, "Driver=SQL Server;Server=(local);ID utente=;Password=;");
    files::writeTextFile(config::kLocalServerNameFile, "(local)");
    files::createFolder("C:\\Vopa\\Sedi");
    files::createFolder("C:\\Vopa\\Files");
}

std::vector<std::string> demoDatabaseNames() {
    std::vector<std::string> names = {kRegistryDatabase};
    for (const CompanyProfile& c : demoCompanies()) names.push_back(c.databaseName);
    return names;
}

// Drops the demo's databases and removes files left in the data folder under their names.
void dropDemoDatabases(data::Connection& master) {
    for (const std::string& name : demoDatabaseNames()) {
        master.execute("IF EXISTS (SELECT name FROM master.dbo.sysdatabases WHERE name = N'" + name +
                       "') DROP DATABASE [" + name + "]");
        for (const char* suffix : {".mdf", ".ldf"}) {
            const std::string file = std::string(kDemoDataFolder) + name + suffix;
            if (files::fileExists(file)) files::deleteFile(file);
        }
    }
}

// The company registry: one row per demo company, no terminal rows (the program adds its own).
void createRegistry(data::Connection& master) {
    const std::string name = kRegistryDatabase;
    master.execute("CREATE DATABASE [" + name + "] ON (NAME = N'" + name + "_dat', FILENAME = N'" + kDemoDataFolder +
                   name + ".mdf') LOG ON (NAME = N'" + name + "_log', FILENAME = N'" + kDemoDataFolder + name + ".ldf')");
    data::Connection registry;
    registry.open(config::registryConnection(kDemoServerAddress));
    registry.execute(
        "CREATE TABLE link_programma (id int identity(1,1) primary key, NomeAzienda varchar(255) NULL, "
        "Stringa_connessione_sql nvarchar(255) NULL, qen_access nvarchar(255) NULL, qen_sql nvarchar(255) NULL, "
        "wzzip nvarchar(255) NULL, wzunzip nvarchar(50) NULL, Nserver nvarchar(50) NULL, dbname nvarchar(50) NULL, "
        "nRoot nvarchar(50) NULL, Npassw nvarchar(50) NULL, IndirizzoMdf nvarchar(255) NULL, Ultimo smallint NULL)");
    registry.execute("CREATE TABLE link_programmaTerminale (Nometerminale nvarchar(50) NULL, Ultimo int NULL)");
    for (const CompanyProfile& c : demoCompanies()) {
        registry.execute(
            "INSERT INTO link_programma (NomeAzienda, Stringa_connessione_sql, qen_access, qen_sql, Nserver, dbname, "
            "nRoot, Npassw, IndirizzoMdf, Ultimo) VALUES (" +
            sqlText(c.name) + ", N'', N'Qen_locale_sql.mdb', N'Qen_locale_sql.mdb', N'(local)', " +
            sqlText(c.databaseName) + ", N'', N'', " + sqlText(kDemoDataFolder) + ", 0)");
    }
    registry.close();
}

// Runs one step; a failure becomes a DemoError that says which step failed and how to start over.
template <typename Step>
void step(const std::string& what, Step&& run) {
    try {
        run();
    } catch (const DemoError&) {
        throw;
    } catch (const std::exception& e) {
        throw DemoError("The demo installation under " + files::driveRoot('C').string() + " failed while " + what +
                        ": " + e.what() + " (run again with --force to start over)");
    }
}

// A password of letters and digits, which needs no quoting in a connection text.
std::string randomPassword() {
    static const char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string password;
    for (int i = 0; i < 20; ++i) password.push_back(kAlphabet[pick(random)]);
    return password;
}

// "[name]" with "]" doubled.
std::string bracketed(const std::string& name) {
    std::string out = "[";
    for (char c : name) {
        out.push_back(c);
        if (c == ']') out.push_back(']');
    }
    return out + "]";
}

}  // namespace

std::vector<DemoLogin> createServerLogins() {
    if (!installationExists())
        throw DemoError("There is no installation under " + files::driveRoot('C').string() + " to make server logins for");
    std::vector<DemoLogin> logins;
    const auto add = [&](const std::string& name, const std::string& password) {
        if (name.empty()) return;
        for (const DemoLogin& l : logins)
            if (text::equalsNoCase(l.name, name)) return;
        logins.push_back({name, password, false});
    };
    std::string address;
    step("reading the server address file", [&] { address = files::readFirstLine(config::kServerAddressFile); });
    add(config::userInAddress(address), config::passwordInAddress(address));
    step("reading the logins of the company registry", [&] {
        data::Connection registry;
        registry.open(config::registryConnection(address));
        auto rs = registry.execute("SELECT nRoot, Npassw FROM link_programma ORDER BY id");
        for (; rs && rs->isOpen() && !rs->eof(); rs->moveNext()) {
            const Value user = rs->field(0), password = rs->field(1);
            if (user.isNull() || user.isEmpty()) continue;
            add(user.toString(), password.isNull() || password.isEmpty() ? std::string() : password.toString());
        }
        registry.close();
    });
    if (logins.empty()) logins.push_back({"vopa", randomPassword(), true});
    step("creating the server logins", [&] {
        data::Connection master;
        master.open(address + (address.empty() || address.back() == ';' ? "" : ";") + "DATABase=master");
        for (const DemoLogin& l : logins) {
            // The registry's passwords are kept as the suite wrote them, so the server's policy is off.
            const std::string options = " WITH PASSWORD = " + sqlText(l.password) + ", CHECK_POLICY = OFF";
            master.execute("IF EXISTS (SELECT name FROM sys.sql_logins WHERE name = " + sqlText(l.name) +
                           ") ALTER LOGIN " + bracketed(l.name) + options + " ELSE CREATE LOGIN " + bracketed(l.name) +
                           options);
        }
        master.close();
    });
    return logins;
}

bool installationExists() { return files::fileExists(config::kServerAddressFile); }

DemoInstallation createDemoInstallation(const DemoOptions& options) {
    if (options.rows < 0) throw DemoError("The number of rows must not be negative");
    if (installationExists() && !options.force)
        throw DemoError("An installation already exists under " + files::driveRoot('C').string() +
                        "; use --force to replace it");
    const auto say = [&](const std::string& line) {
        if (options.progress) options.progress(line);
    };

    KeptMessages kept;
    step("writing the configuration files in C:\\vopa", writeConfigurationFiles);
    {
        data::Connection master;
        step("connecting to the embedded server", [&] { master.open(std::string(kDemoServerAddress) + "DATABase=master"); });
        if (options.force) step("dropping the old demo databases", [&] { dropDemoDatabases(master); });
        say("Creating the company registry " + std::string(kRegistryDatabase));
        step("creating the company registry", [&] { createRegistry(master); });
        master.close();
    }

    DemoInstallation result;
    for (const DemoUserProfile& user : demoUsers()) result.users.push_back({user.name, user.password, user.role});

    // The first company is the larger one.
    const std::vector<CompanyProfile>& companies = demoCompanies();
    const std::int64_t firstRows = options.rows * 3 / 5;
    for (std::size_t i = 0; i < companies.size(); ++i) {
        const CompanyProfile& company = companies[i];
        const std::int64_t rows = i == 0 ? firstRows : options.rows - firstRows;
        const RowPlan plan = planRows(rows);
        state::GlobalState g;
        g.ComputerName = sys::computerName();
        util::sanitise(g.ComputerName);
        say("Creating " + company.databaseName + " (" + company.name + "): schema and upgrades");
        step("creating the database " + company.databaseName, [&] {
            schema::createCompanyDatabase(kDemoServerAddress, company.databaseName, kDemoDataFolder, g);
        });
        step("completing the structure of " + company.databaseName,
             [&] { completeCompanyStructure(g.SharedConnection); });
        say("Filling " + company.databaseName + " with about " + std::to_string(plannedTotal(plan)) + " rows");
        step("filling the database " + company.databaseName,
             [&] { fillCompany(g.SharedConnection, company, plan, options.seed, options.progress); });
        // A company database in use has its keys and indexes: the program gives them at every build.
        say("Keys and indexes of " + company.databaseName);
        step("giving " + company.databaseName + " its keys and indexes", [&] { schema::runIndexPass(g); });
        result.companies.push_back({company.registryId, company.name, company.databaseName});
    }
    for (const std::string& text : kept.texts) say("message of the schema procedures: " + text);
    return result;
}

}  // namespace vopa::demo
