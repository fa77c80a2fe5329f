#include "BuildDriver.h"

#include <algorithm>
#include <optional>

#include "anonymise/Anonymiser.h"
#include "company/CompanyOpening.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/SharedObjects.h"
#include "platform/data/Interruption.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageService.h"
#include "schema/SchemaSteps.h"
#include "schema/Upgrades.h"
#include "BuildLock.h"
#include "BuildReport.h"
#include "transfer/BudgetTables.h"
#include "transfer/CopyStep.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::training {
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
    data::Recordset rs;
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
    Build(BuildObserver& observer, const BuildOptions& options, state::GlobalState& g, BuildResult& result,
          BuildLock& lock)
        : observer_(observer), options_(options), g_(g), result_(result), lock_(lock) {}

    void run();

private:
    void step(const char* name) {
        observer_.stepStarted(name, stepNumber(name, options_.anonymise), stepCount(options_.anonymise));
    }
    // What a message box or the report shows: in an anonymised build, without the values a server
    // message may quote.
    std::string shown(const std::string& text) const {
        return options_.anonymise ? anonymise::withoutQuotedValues(text) : text;
    }
    void upgradeCompany();
    void recreateTrainingDatabase(const std::string& name);
    void anonymiseCopy();
    void finish();

    BuildObserver& observer_;
    const BuildOptions& options_;
    state::GlobalState& g_;
    BuildResult& result_;
    BuildLock& lock_;
    std::string openFailure_;
};

void Build::upgradeCompany() {
    step("Aggiornamento database azienda");
    schema::runAllUpgrades(g_);
    for (const char* statement : kInlineStatements) {
        ignoreErrors([&] { g_.SharedConnection.execute(statement); });
    }
    g_.ServerConnectionString.clear();
    config::resetSharedObjects(g_);
    step("Indici database azienda");
    schema::runIndexPass(g_);
    observer_.progress(options_.progressMaximum / 2, options_.progressMaximum);
}

void Build::recreateTrainingDatabase(const std::string& name) {
    step("Eliminazione database training");
    // The server did not answer: its own words say more than "the connection is closed".
    if (!g_.ServerConnection.isOpen() && !openFailure_.empty()) throw data::DataError(0, openFailure_);
    const std::string folder = oldDatabaseFolder(g_, name);
    g_.ServerConnection.execute(config::dropDatabaseStatement(name));
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
    if (options_.copy) options_.copy(g_, observer_, options_.progressMaximum, result_.incompleteTables);
    if (options_.anonymise) anonymiseCopy();
}

void Build::anonymiseCopy() {
    step(kAnonymisationStep);
    data::Connection training;
    try {
        training.open(trainingString(g_));
        anonymise::Pseudonyms pseudonyms(anonymise::Pseudonyms::randomKey());
        const std::vector<anonymise::AnonymisedColumn> columns = anonymise::anonymiseDatabase(
            training, pseudonyms, anonymise::personalData(),
            [this](const std::string& column, int index, int count) { observer_.currentTable(column, index, count); });
        training.close();
        for (const anonymise::AnonymisedColumn& c : columns)
            result_.anonymisedColumns.push_back({c.table + "." + c.column, c.rows});
        result_.anonymised = true;
    } catch (...) {
        // A copy that still holds personal data must not be left for the trainees: it is dropped,
        // whatever stopped the anonymisation.
        data::InterruptionPause dropping;
        closeQuietly(training);
        // The copy step's connections are on the training database too: a database in use is not dropped.
        ignoreErrors([&] { config::resetSharedObjects(g_); });
        if (g_.SharedConnection.isOpen() && g_.SharedConnection.connectionString() == trainingString(g_))
            closeQuietly(g_.SharedConnection);
        const bool dropped = ignoreErrors([&] {
            data::Connection server;
            server.open(serverString(g_));
            server.execute(config::dropDatabaseStatement(kTraining));
        });
        try {
            throw;
        } catch (const data::Interrupted&) {
            throw;
        } catch (const std::exception& e) {
            throw std::runtime_error(std::string(e.what()) +
                                     (dropped ? "\nIl database " + kTraining + ", che conteneva ancora i dati personali, è stato eliminato."
                                              : "\nATTENZIONE: il database " + kTraining +
                                                    " contiene ancora dati personali e non è stato possibile eliminarlo."));
        }
    }
}

void Build::finish() {
    observer_.animation(false);
    config::resetSharedObjects(g_);
}

void Build::run() {
    // Building from the training database would drop the very database the rows are copied from.
    if (text::equalsNoCase(g_.CompanyDatabaseName, kTraining)) {
        ui::messages().message("Il database aperto è " + kTraining +
                               ": non si può creare il database di training da sé stesso.\n"
                               "Aprire l'azienda di cui fare la copia e ritentare.");
        result_.outcome = BuildOutcome::Refused;
        result_.closeWindow = false;
        return;
    }
    if (!ui::messages().ask("Sei sicuro di voler creare il DB?")) {
        finish();
        result_.outcome = BuildOutcome::Declined;
        result_.closeWindow = true;
        return;
    }
    // Another build on this server (another desk, or this one twice) would drop the database this one
    // fills: the second is refused before it changes anything.
    if (std::optional<std::string> holder = lock_.acquire(g_)) {
        ui::messages().message(*holder);
        result_.outcome = BuildOutcome::Refused;
        result_.closeWindow = false;
        return;
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
    try {
        g_.ServerConnection.open(g_.ServerConnectionString);
    } catch (const std::runtime_error& e) {
        if (util::isInternalError(e)) throw;
        openFailure_ = e.what();  // shown when the first server step finds the connection closed
    }
    const std::string name = kTraining;

    // First handler: the failure is shown and the window stays open; what was dropped or half built
    // stays as it is.
    try {
        recreateTrainingDatabase(name);
    } catch (const std::runtime_error& e) {
        observer_.animation(false);
        result_.failures.push_back(shown(e.what()));
        ui::messages().message(result_.failures.back());
        config::resetSharedObjects(g_);
        result_.outcome = BuildOutcome::Abandoned;
        result_.closeWindow = false;
        return;
    }
    result_.copyEnded = true;

    // Second handler: the failure is shown and the window closes.
    try {
        step("Registrazione azienda Training Sede");
        config::resetSharedObjects(g_);
        if (std::optional<std::string> failure = registerTrainingDatabase(g_)) {
            result_.failures.push_back("Registrazione di Training Sede non riuscita: " + *failure);
            observer_.note(result_.failures.back());
        }
        config::resetSharedObjects(g_);
        closeQuietly(g_.SharedConnection);
        g_.SharedConnection.open(g_.ServerConnectionString);
        step("Indici database training");
        schema::runIndexPass(g_);
    } catch (const std::runtime_error& e) {
        result_.failures.push_back(shown(e.what()));
        ui::messages().message(result_.failures.back());
        finish();
        result_.outcome = BuildOutcome::Abandoned;
        return;
    }
    observer_.progress(options_.progressMaximum, options_.progressMaximum);
    finish();
    result_.outcome = BuildOutcome::Completed;
}

}  // namespace

CopyStep standardCopyStep() {
    return [](state::GlobalState& g, BuildObserver& observer, int maximum, std::vector<std::string>& incomplete) {
        // Tables are counted as the closing message counts them: the catalogue's, then the budget and
        // funder accounts tables the company has.
        int extra = 0;
        ignoreErrors([&] { extra = static_cast<int>(budgetAndFunderTables(g, g.CompanyDatabaseName).size()); });
        int catalogued = 0, rowByRowDone = 0;
        transfer::CopyReporter reporter;
        reporter.maximum = maximum;
        reporter.progress = [&](int value) { observer.progress(value, maximum); };
        reporter.table = [&](const std::string& table, int index, int count) {
            catalogued = count;
            observer.currentTable(table, index, count + extra);
        };
        reporter.failure = [&](const std::string& table, const std::string& error) {
            observer.note("Copia non riuscita: " + table + ": " + error);
            if (std::find(incomplete.begin(), incomplete.end(), table) == incomplete.end()) incomplete.push_back(table);
        };
        transfer::Progress rowByRow;
        rowByRow.maximum = maximum;
        rowByRow.value = reporter.progress;
        rowByRow.table = [&](const std::string& table) {
            const int total = catalogued + std::max(extra, rowByRowDone + 1);
            observer.currentTable(table, catalogued + ++rowByRowDone, total);
        };
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

std::optional<std::string> registerTrainingDatabase(state::GlobalState& g) {
    // Each piece is skipped on failure, as the suite has always registered; the first failure is kept,
    // and the row is read back, so that a registration that did not happen is not reported as done.
    std::optional<std::string> failure;
    auto attempt = [&](auto&& piece) {
        std::optional<std::string> f = util::failureOf(piece);
        if (!failure) failure = std::move(f);
    };
    data::Connection registry;
    attempt([&] {
        // The registry is reached as every other registry lookup reaches it: the server address with
        // its database part.
        g.RegistryConnectionString = config::registryConnection(config::readServerAddress(g));
        registry.open(g.RegistryConnectionString);
    });
    std::string user, password;
    ignoreErrors([&] { user = config::readServerUser(g); });
    ignoreErrors([&] { password = config::readServerPassword(g); });
    attempt([&] {
        const std::string query = " select * from link_programma where dbname like " + util::likeLiteral(kTraining);
        data::Recordset rs;
        rs.open(query, registry, data::CursorType::Keyset, data::LockType::Pessimistic);
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
        for (const auto& [field, value] : fields) attempt([&] { rs.setField(field, value); });
        rs.update();
        rs.close();
    });
    config::resetSharedObjects(g);
    bool registered = false;
    attempt([&] {
        data::Recordset rs;
        rs.open("select NomeAzienda from link_programma where dbname = " + util::literal(kTraining), registry,
                data::CursorType::Keyset, data::LockType::ReadOnly);
        registered = !rs.eof() && rs.field("NomeAzienda").toString() == "Training Sede";
    });
    closeQuietly(registry);
    if (!registered && !failure) failure = "la riga di " + kTraining + " non è nel registro delle aziende";
    return registered ? std::nullopt : failure;
}

BuildResult runBuild(BuildObserver& observer, const BuildOptions& options, state::GlobalState& g) {
    BuildRecorder recorder(observer, options.anonymise);
    const std::string companyDatabase = g.CompanyDatabaseName;
    BuildResult result;
    // Whatever fails or is stopped, the build ends here: nothing escapes to the window's thread or ends
    // the program, and the report says what happened.
    auto abandon = [&](const std::string& what, const std::string& shownMessage) {
        const std::string failure = options.anonymise ? anonymise::withoutQuotedValues(what) : what;
        const std::string message = options.anonymise ? anonymise::withoutQuotedValues(shownMessage) : shownMessage;
        data::InterruptionPause cleanUp;
        recorder.animation(false);
        recorder.note(failure);
        result.failures.push_back(failure);
        ui::messages().message(message);
        util::ignoreErrors([&] { config::resetSharedObjects(g); });
    };
    BuildLock lock;
    try {
        std::optional<data::InterruptionScope> interruption;
        if (options.stop) interruption.emplace(*options.stop);
        Build(recorder, options, g, result, lock).run();
    } catch (const data::Interrupted& e) {
        abandon(e.what(), e.what());
        result.outcome = BuildOutcome::Interrupted;
        result.closeWindow = false;
    } catch (const std::exception& e) {
        // Only a fault of our own gets here (every server refusal has its handler above).
        abandon(e.what(), std::string("Errore interno, la creazione del database è interrotta: ") + e.what());
        result.outcome = BuildOutcome::Abandoned;
        result.closeWindow = false;
    }
    recorder.finish();
    if (result.outcome == BuildOutcome::Declined || result.outcome == BuildOutcome::Refused) return result;

    if (options.anonymise)
        for (std::string& failure : result.failures) failure = anonymise::withoutQuotedValues(failure);

    // Every build that ran leaves its report. The rows are compared only when the copy ran to its end:
    // before that the training database is the old one, or half of the new one.
    std::vector<TableCheck> checks;
    try {
        data::InterruptionPause verification;
        if (result.copyEnded) {
            recorder.stepStarted("Verifica della copia", stepNumber("Verifica della copia", options.anonymise),
                                 stepCount(options.anonymise));
            checks = verifyCopy(g, companyDatabase);
            recorder.finish();
        }
        // Only a table whose rows did not all arrive is incomplete, whatever failed on the way to it.
        result.incompleteTables.clear();
        for (const TableCheck& c : checks)
            if (!c.matches()) result.incompleteTables.push_back(c.table);
        result.summary = writeBuildReport(recorder, result, checks, companyDatabase);
    } catch (const std::exception& e) {
        result.failures.push_back(e.what());
    }
    if (result.outcome == BuildOutcome::Completed) ui::messages().message(closingText(result));
    return result;
}

std::string closingText(const BuildResult& result) {
    std::string text = "Database di training creato.\n" + summaryText(result.summary);
    if (result.anonymised) {
        long long rows = 0;
        for (const AnonymisedColumn& c : result.anonymisedColumns) rows += c.rows;
        text += "\nDati personali anonimizzati: " + std::to_string(rows) + " valori in " +
                std::to_string(result.anonymisedColumns.size()) + " colonne.";
    }
    if (!result.incompleteTables.empty()) {
        text += "\nTabelle non copiate completamente:";
        for (const std::string& table : result.incompleteTables) text += "\n" + table;
    }
    for (const std::string& failure : result.failures) text += "\n" + failure;
    return text;
}

bool BuildResult::complete() const {
    return outcome == BuildOutcome::Completed && copyEnded && failures.empty() && incompleteTables.empty() &&
           summary.written && summary.tables > 0 && summary.complete == summary.tables;
}

int stepCount(bool anonymise) { return anonymise ? kBuildStepCount : kBuildStepCount - 1; }

int stepNumber(const std::string& step, bool anonymise) {
    int number = 0;
    for (const char* name : kBuildSteps) {
        if (!anonymise && name == std::string_view(kAnonymisationStep)) continue;
        ++number;
        if (step == name) return number;
    }
    return 0;
}

}  // namespace vopa::training
