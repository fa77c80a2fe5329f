#include "BuildDriver.h"

#include <algorithm>

#include "company/CompanyOpening.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/SharedObjects.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageService.h"
#include "schema/SchemaSteps.h"
#include "schema/Upgrades.h"
#include "BuildReport.h"
#include "transfer/BudgetTables.h"
#include "transfer/CopyStep.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::build {
namespace {

using util::ignoreErrors;

const std::string kTraining(config::kTrainingDatabase);

void closeQuietly(data::Connection& c) {
    if (c.isOpen()) ignoreErrors([&] { c.close(); });
}

// The statements the build adds to the company database beside the upgrades.
const char* const kInlineStatements[] = {
    "alter table contatti add Sesso nvarchar(1) NULL",
    "Create table ProgettiSedi ( idAutonumber int not null identity(1,1), idProgetto int not null , idSede int not null )",
    "alter table partitadoppiavaluta add IsoValuta nvarchar(5) null",
    "alter table partitadoppiavaluta add IdStato int not null default 0",
    "alter table finanziatore add ComodoAutoNumber int  null ",
    "alter table Elencosedidipendenze add IdDipendenza int  null ",
    " alter TABLE UnSubItem add  idGruppo int not NULL default 0",
    " update UnSubItem set  idGruppo = 0 where idGruppo is null",
};

// The folder of the old training database's data file, from the server's list of databases: its file
// name up to and including the last backslash (empty when there is none).
std::string oldDatabaseFolder(state::GlobalState& g, const std::string& name) {
    data::Recordset& rs = g.SharedRecordset;
    if (rs.isOpen()) ignoreErrors([&] { rs.close(); });
    rs.open("SELECT * FROM master.dbo.sysdatabases WHERE name = " + util::unicodeLiteral(name), g.ServerConnection,
            data::CursorType::Keyset, data::LockType::ReadOnly);
    std::string folder;
    if (!rs.eof()) {
        const std::string file = rs.field("FileName").toString();
        const std::size_t slash = file.rfind('\\');
        if (!file.empty() && slash != std::string::npos) folder = file.substr(0, slash + 1);
    }
    rs.close();
    return folder;
}

class Build {
public:
    Build(BuildObserver& observer, const BuildOptions& options, state::GlobalState& g)
        : observer_(observer), options_(options), g_(g) {}

    BuildResult run();

private:
    void step(const std::string& name) { observer_.stepStarted(name); }
    void upgradeCompany();
    void recreateTrainingDatabase(const std::string& name);
    void finish();

    BuildObserver& observer_;
    const BuildOptions& options_;
    state::GlobalState& g_;
    std::vector<std::string> incomplete_;
};

void Build::upgradeCompany() {
    step("Aggiornamento database azienda");
    schema::runAllUpgrades(g_);
    for (const char* statement : kInlineStatements) {
        g_.SqlText = statement;
        ignoreErrors([&] { g_.SharedConnection.execute(g_.SqlText); });
    }
    g_.ServerConnectionString.clear();
    config::resetSharedObjects(g_);
    step("Indici database azienda");
    schema::runIndexPass(g_);
    observer_.progress(options_.progressMaximum / 2, options_.progressMaximum);
}

void Build::recreateTrainingDatabase(const std::string& name) {
    step("Eliminazione database training");
    const std::string folder = oldDatabaseFolder(g_, name);
    g_.SqlText = config::dropDatabaseStatement(name);
    g_.ServerConnection.execute(g_.SqlText);
    // Files the server left behind with the database; with no folder the names are relative ones.
    for (const char* extension : {".mdf", ".ldf"}) {
        const std::string file = folder + name + extension;
        if (files::fileExists(file)) files::deleteFile(file);
    }
    step("Creazione database training");
    // A creation that fails ends the build here, before any table is made in a database that does not
    // exist; the options are reported and the build goes on (the database exists all the same).
    for (const data::DataError& option : schema::createDatabase(name, g_, [this] { company::readDataFileFolder(g_); }))
        observer_.note(std::string("Opzione non impostata: ") + option.what());
    g_.ServerConnectionString = trainingString(g_);
    step("Creazione tabelle");
    schema::runSchemaStep(g_);
    closeQuietly(g_.ServerConnection);
    step("Copia tabelle");
    if (options_.copy) options_.copy(g_, observer_, options_.progressMaximum, incomplete_);
}

void Build::finish() {
    observer_.animation(false);
    config::resetSharedObjects(g_);
}

BuildResult Build::run() {
    // Building from the training database would drop the very database the rows are copied from.
    if (text::equalsNoCase(g_.CompanyDatabaseName, kTraining)) {
        ui::messages().message("Il database aperto è " + kTraining +
                               ": non si può creare il database di training da sé stesso.\n"
                               "Aprire l'azienda di cui fare la copia e ritentare.");
        return {BuildOutcome::Refused, false, {}, {}};
    }
    if (!ui::messages().ask("Sei sicuro di voler creare il DB?")) {
        finish();
        return {BuildOutcome::Declined, true, {}, {}};
    }
    // A build earlier in this session left SharedConnection on the training database: the upgrades
    // belong on the company database, and the training database must be free to be dropped.
    if (g_.SharedConnection.isOpen() && g_.SharedConnection.connectionString() == trainingString(g_)) {
        closeQuietly(g_.SharedConnection);
        config::openSharedOnCompany(g_);
    }
    observer_.animation(true);
    upgradeCompany();
    g_.ServerConnectionString = serverString(g_);
    ignoreErrors([&] { g_.ServerConnection.open(g_.ServerConnectionString); });
    const std::string name = kTraining;

    // First handler: the failure is shown and the window stays open; what was dropped or half built
    // stays as it is.
    try {
        recreateTrainingDatabase(name);
    } catch (const std::runtime_error& e) {
        observer_.animation(false);
        ui::messages().message(e.what());
        config::resetSharedObjects(g_);
        return {BuildOutcome::Abandoned, false, incomplete_, {}};
    }

    // Second handler: the failure is shown and the window closes.
    try {
        step("Registrazione azienda Training Sede");
        config::resetSharedObjects(g_);
        registerTrainingDatabase(g_);
        config::resetSharedObjects(g_);
        closeQuietly(g_.SharedConnection);
        g_.SharedConnection.open(g_.ServerConnectionString);
        step("Indici database training");
        schema::runIndexPass(g_);
    } catch (const std::runtime_error& e) {
        ui::messages().message(e.what());
        finish();
        return {BuildOutcome::Abandoned, true, incomplete_, {}};
    }
    observer_.progress(options_.progressMaximum, options_.progressMaximum);
    finish();
    return {BuildOutcome::Completed, true, incomplete_, {}};
}

}  // namespace

CopyStep standardCopyStep() {
    return [](state::GlobalState& g, BuildObserver& observer, int maximum, std::vector<std::string>& incomplete) {
        transfer::CopyReporter reporter;
        reporter.maximum = maximum;
        reporter.progress = [&](int value) { observer.progress(value, maximum); };
        reporter.table = [&](const std::string& table, int index, int count) { observer.currentTable(table, index, count); };
        reporter.failure = [&](const std::string& table, const std::string& error) {
            observer.note("Copia non riuscita: " + table + ": " + error);
            if (std::find(incomplete.begin(), incomplete.end(), table) == incomplete.end()) incomplete.push_back(table);
        };
        transfer::Progress rowByRow;
        rowByRow.maximum = maximum;
        rowByRow.value = reporter.progress;
        rowByRow.table = [&](const std::string& table) { observer.currentTable(table, 0, 0); };
        rowByRow.note = [&](const std::string& text) { observer.note(text); };
        transfer::FollowingSteps following;
        following.budget = [&](state::GlobalState& state) { transfer::runBudgetStep(state, rowByRow); };
        following.funderAccounts = [&](state::GlobalState& state) { transfer::runFunderAccountsStep(state, rowByRow); };
        transfer::runCopyStep(g, transfer::catalogue(), reporter, following);
    };
}

bool officeAllowsBuild(state::GlobalState& g) {
    if (g.CurrentOfficeNumber <= 1) return true;
    ui::messages().message("Non è possibile esportare dal DB della sede che è aperta attualmente!!\n"
                           "Aprire la sede centrale e ritentare.");
    return false;
}

std::string serverString(const state::GlobalState& g) { return config::serverConnection(g.ServerName); }

std::string trainingString(const state::GlobalState& g) {
    return config::databaseOnServerConnection(g.ServerName, kTraining);
}

void registerTrainingDatabase(state::GlobalState& g) {
    data::Connection registry;
    ignoreErrors([&] {
        // The registry is reached as every other registry lookup reaches it: the server address with
        // its database part.
        g.RegistryConnectionString = config::registryConnection(config::readServerAddress(g));
        registry.open(g.RegistryConnectionString);
    });
    std::string user, password;
    ignoreErrors([&] { user = config::readServerUser(g); });
    ignoreErrors([&] { password = config::readServerPassword(g); });
    ignoreErrors([&] {
        g.SqlText = " select * from link_programma where dbname like " + util::likeLiteral(kTraining);
        data::Recordset& rs = g.SharedRecordset;
        if (rs.isOpen()) rs.close();
        rs.open(g.SqlText, registry, data::CursorType::Keyset, data::LockType::Pessimistic);
        if (rs.eof()) rs.addNew();
        const std::pair<const char*, Value> fields[] = {
            {"DBname", Value::string(kTraining)},
            {"NomeAzienda", Value::string("Training Sede")},
            {"Stringa_connessione_sql", Value::string(kTraining)},
            {"qen_access", Value::string("Qen_locale_sql.mdb")},
            {"qen_sql", Value::string("Qen_locale_sql.mdb")},
            {"Nserver", Value::string(g.ServerName)},
            {"nRoot", Value::string(user)},
            {"nPassw", Value::string(password)},
            {"Ultimo", Value::integer(0)},
        };
        for (const auto& [field, value] : fields) ignoreErrors([&] { rs.setField(field, value); });
        rs.update();
        rs.close();
    });
    config::resetSharedObjects(g);
    closeQuietly(registry);
}

BuildResult runBuild(BuildObserver& observer, const BuildOptions& options, state::GlobalState& g) {
    BuildRecorder recorder(observer);
    const std::string companyDatabase = g.CompanyDatabaseName;
    BuildResult result;
    try {
        result = Build(recorder, options, g).run();
    } catch (const std::runtime_error& e) {
        // Only a fault of our own gets here (every server refusal has its handler above): it is shown and
        // ends the build instead of being skipped.
        recorder.animation(false);
        recorder.note(e.what());
        ui::messages().message(std::string("Errore interno, la creazione del database è interrotta: ") + e.what());
        util::ignoreErrors([&] { config::resetSharedObjects(g); });
        result = {BuildOutcome::Abandoned, false, {}, {}};
    }
    recorder.finish();
    if (result.outcome == BuildOutcome::Declined || result.outcome == BuildOutcome::Refused) return result;

    // Every build that ran leaves its report; a completed one says how complete the copy is.
    recorder.stepStarted("Verifica della copia");
    const std::vector<TableCheck> checks = verifyCopy(g, companyDatabase);
    recorder.finish();
    result.summary = writeBuildReport(recorder, result, checks, companyDatabase);
    if (result.outcome == BuildOutcome::Completed) {
        std::string text = "Database di training creato.\n" + summaryText(result.summary);
        if (!result.incompleteTables.empty()) {
            text += "\nTabelle non copiate completamente:";
            for (const std::string& table : result.incompleteTables) text += "\n" + table;
        }
        ui::messages().message(text);
    }
    return result;
}

}  // namespace vopa::build
