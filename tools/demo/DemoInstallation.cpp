#include "DemoInstallation.h"

#include "DemoData.h"
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

}  // namespace

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
    for (const UserSpec& spec : demoUsers()) result.users.push_back({spec.name, spec.password, spec.role});

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
        say("Filling " + company.databaseName + " with about " + std::to_string(plannedTotal(plan)) + " rows");
        step("filling the database " + company.databaseName,
             [&] { fillCompany(g.SharedConnection, company, plan, options.seed, options.progress); });
        result.companies.push_back({company.registryId, company.name, company.databaseName});
    }
    for (const std::string& text : kept.texts) say("message of the schema procedures: " + text);
    return result;
}

}  // namespace vopa::demo
