#include "ProgramFlow.h"

#include <unistd.h>

#include <filesystem>
#include <utility>

#include "company/CompanyOpening.h"
#include "company/StartupMaintenance.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/OdbcDataSources.h"
#include "config/SharedObjects.h"
#include "platform/files/Files.h"
#include "platform/sys/SystemInfo.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::flow {
namespace {

using util::ignoreErrors;

bool isEmpty(const Value& v) { return util::isEmptyValue(v); }

void closeQuietly(data::Connection& c) {
    if (c.isOpen()) ignoreErrors([&] { c.close(); });
}

// The statements the main window runs each time it becomes active: the administering office of the
// rows that have none, from the column each table takes it from.
void runMainWindowMaintenance(state::GlobalState& g) {
    const std::string officeFromCompetence = " set IdSedeAmm = idsedecompetenza where IdSedeAmm = 0 or idsedeamm is null";
    const std::string officeFromOffice = " set IdSedeAmm = idsede where IdSedeAmm = 0 or idsedeamm is null";
    const std::pair<const char*, std::string> statements[] = {
        {"update progettitermine ", " set rendiconto = 0 where rendiconto  is null"},
        {"update partitadoppia ", officeFromCompetence},
        {"update BilancioRiassunto ", officeFromCompetence},
        {"update BilancioRiassuntoDettagliato ", officeFromCompetence},
        {"update BilancioRiassuntoMcs ", officeFromCompetence},
        {"update BilancioRiassuntoMcsDettagliato ", officeFromCompetence},
        {"update transfershq ", officeFromOffice},
        {"update acquisti ", " set IdSedeAmm = idsede  where IdSedeAmm = 0 or idsedeamm is null"},
        {"update AcquistiPagamenti ", officeFromOffice},
        {"update bustetesta ", officeFromOffice},
        {"update busteTestaPagamento ", officeFromOffice},
        {"update NoteDiDebito ", officeFromOffice},
    };
    auto run = [&](const std::string& statement) { ignoreErrors([&] { g.SharedConnection.execute(statement); }); };
    run("sp_configure 'query timeout',0");
    for (const auto& [table, condition] : statements) run(table + condition);
}

}  // namespace

std::optional<std::string> driveProblem() {
    const std::filesystem::path root = files::driveRoot('C');
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) return std::nullopt;  // no installation: said elsewhere
    std::vector<std::string> missing;
    if (::access(root.c_str(), R_OK) != 0) missing.push_back("lettura");
    if (::access(root.c_str(), W_OK) != 0) missing.push_back("scrittura");
    if (::access(root.c_str(), X_OK) != 0) missing.push_back("accesso");
    if (missing.empty()) return std::nullopt;
    std::string permissions;
    for (std::size_t i = 0; i < missing.size(); ++i)
        permissions += (i == 0 ? "" : i + 1 == missing.size() ? " e " : ", ") + missing[i];
    return "La cartella dell'unità C: " + root.string() + " non si può usare: manca il permesso di " + permissions +
           " per questo utente. Correggere i permessi della cartella (o impostare VOPA_DRIVE_C su un'altra).";
}

Preconditions ProgramFlow::begin() {
    g_.ComputerName = sys::computerName();
    util::sanitise(g_.ComputerName);
    g_.ProgramFolder = sys::programFolder();
    return {driveProblem(), files::fileExists(config::kServerAddressFile)};
}

void ProgramFlow::prepareStartup() {
    g_.ComputerName = sys::computerName();
    util::sanitise(g_.ComputerName);
    g_.CompanyId = g_.CompanyIdParam = company::terminalLookup(g_);
    double id = g_.CompanyId;
    company::openCompany(id, g_);
    config::openSharedOnCompany(g_);
    company::identifyOffice(g_);
    config::resetSharedObjects(g_);
    config::resetSharedObjects(g_);
}

StartupResult ProgramFlow::startUp(double companyId,
                                   const std::function<void(const std::string& companyName)>& companyOpened) {
    if (!companyOpened_) {
        companyOpened_ = true;
        prepareStartup();
        if (companyId != 0) {
            // The company asked for, or none: another company's data must never replace the training
            // copy a nightly job expects.
            const std::optional<std::string> database = company::registeredDatabase(companyId, g_);
            if (!database) return {StartupOutcome::NoSuchCompany, {}};
            g_.CompanyDatabaseName = *database;
            if (database->empty() || !company::databaseExists(g_)) return {StartupOutcome::DatabaseMissing, *database};
            double id = companyId;
            company::openCompany(id, g_);
            if (g_.CompanyId != companyId) return {StartupOutcome::CompanyNotOpened, *database};
        }
        if (companyOpened) companyOpened(g_.CompanyName);
    }
    company::runMaintenancePass(g_);
    return {dispatchAfterStartup(), {}};
}

StartupOutcome ProgramFlow::dispatchAfterStartup() {
    const bool usersPresent = signin::companyHasUsers(g_);
    config::resetSharedObjects(g_);
    return usersPresent ? StartupOutcome::SignIn : StartupOutcome::MainWindow;
}

signin::SignInOutcome ProgramFlow::signInWith(const std::string& userName, const std::string& password) {
    signIn_.load();
    signIn_.activate();
    signIn_.boxes.userName = userName;
    signIn_.userNameEntered();
    signIn_.boxes.password = password;
    return signIn_.passwordEntered();
}

bool ProgramFlow::openMainWindow() {
    g_.CurrentOfficeNumber = 1;
    g_.CompanyIdParam = 0;
    company::openCompany(g_.CompanyIdParam, g_);
    // The company database must answer before the program goes on.
    if (isEmpty(Value::string(g_.CompanyConnectionString))) return false;
    if (!ignoreErrors([&] {
            data::Connection probe;
            probe.open(g_.CompanyConnectionString);
            probe.close();
        }))
        return false;
    ignoreErrors([&] { g_.SharedConnection.open(g_.CompanyConnectionString); });
    company::identifyOffice(g_);
    config::resetSharedObjects(g_);
    config::resetSharedObjects(g_);
    return true;
}

void ProgramFlow::mainWindowActivated() { runMainWindowMaintenance(g_); }

const std::vector<signin::CompanyEntry>& ProgramFlow::companiesToSwitchTo(std::string& preselected) {
    companies_.load();
    preselected = companies_.preselectedName();
    return companies_.companies();
}

void ProgramFlow::switchCompany(double companyId) {
    companies_.choose(companyId);
    companies_.openChosen();
}

void ProgramFlow::endCompanySwitch() { companies_.close(); }

BuildPermission ProgramFlow::userMayBuild() const {
    // The build alters the company database and drops and creates a database on the server.
    return g_.UserRights[state::RightAdministrator] == 0 ? BuildPermission::NotAdministrator : BuildPermission::Allowed;
}

BuildPermission ProgramFlow::officeAllowsBuild() {
    return training::officeAllowsBuild(g_) ? BuildPermission::Allowed : BuildPermission::NotHeadOffice;
}

training::BuildResult ProgramFlow::runBuild(training::BuildObserver& observer, const training::BuildOptions& options) {
    return training::runBuild(observer, options, g_);
}

void ProgramFlow::endProgram() {
    g_.OfficeId = 1;
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open(" select * from link_programma where id = 1", g_.SharedConnection, data::CursorType::Keyset,
                data::LockType::Pessimistic);
        if (rs.eof()) return;
        auto take = [&](const char* field, std::string& into) {
            ignoreErrors([&] {
                if (!isEmpty(rs.field(field))) into = rs.field(field).toString();
            });
        };
        take("NomeAzienda", g_.CompanyName);
        take("DBname", g_.CompanyDatabaseName);
        take("nRoot", g_.CompanyUser);
        take("nPassw", g_.CompanyPassword);
        take("qen_sql", g_.CompanyConnectionString);
        take("Stringa_connessione_sql", g_.CompanyConnectionString);
    });
    config::registerDataSource(4, 2, "Qen_Server", g_.CompanyDatabaseName, "Dati " + g_.CompanyName, g_.ServerName,
                               g_.CompanyUser, g_.CompanyPassword);
    config::resetSharedObjects(g_);
    closeQuietly(g_.SharedConnection);
    closeQuietly(g_.LocalConnection);
}

}  // namespace vopa::flow
