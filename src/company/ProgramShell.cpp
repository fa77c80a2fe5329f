#include "ProgramShell.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "CompanyOpening.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/OdbcDataSources.h"
#include "config/SharedObjects.h"
#include "platform/files/Files.h"
#include "platform/sys/SystemInfo.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::company {
namespace {

using util::ignoreErrors;

bool isEmpty(const Value& v) { return util::isEmptyValue(v); }

void closeQuietly(data::Connection& c) {
    if (c.isOpen()) ignoreErrors([&] { c.close(); });
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

void prepareStartup(state::GlobalState& g) {
    g.ComputerName = sys::computerName();
    util::sanitise(g.ComputerName);
    g.CompanyId = g.CompanyIdParam = terminalLookup(g);
    double id = g.CompanyId;
    openCompany(id, g);
    config::openSharedOnCompany(g);
    identifyOffice(g);
    config::resetSharedObjects(g);
    config::resetSharedObjects(g);
}

bool companyHasUsers(state::GlobalState& g) {
    bool usersPresent = true;
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open("AbilitazioneAccessi", g.SharedConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
        usersPresent = !rs.eof();
    });
    if (!usersPresent) {
        for (std::size_t r = state::RightAdministrator; r <= state::RightIssuePayments; ++r) g.UserRights[r] = -1;
        g.UserRights[state::RightProjects] = 0;
        g.UserRights[state::RightDisabled] = 0;
    }
    return usersPresent;
}

StartupDestination dispatchAfterStartup(state::GlobalState& g) {
    const bool usersPresent = companyHasUsers(g);
    config::resetSharedObjects(g);
    return usersPresent ? StartupDestination::SignIn : StartupDestination::MainWindow;
}

bool prepareMainWindow(state::GlobalState& g) {
    g.CurrentOfficeNumber = 1;
    g.CompanyIdParam = 0;
    openCompany(g.CompanyIdParam, g);
    // The company database must answer before the window goes on.
    if (util::isEmptyValue(Value::string(g.CompanyConnectionString))) return false;
    if (!ignoreErrors([&] {
            data::Connection probe;
            probe.open(g.CompanyConnectionString);
            probe.close();
        }))
        return false;
    ignoreErrors([&] { g.SharedConnection.open(g.CompanyConnectionString); });
    identifyOffice(g);
    config::resetSharedObjects(g);
    config::resetSharedObjects(g);
    return true;
}

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

void endProgram(state::GlobalState& g) {
    g.OfficeId = 1;
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open(" select * from link_programma where id = 1", g.SharedConnection, data::CursorType::Keyset,
                data::LockType::Pessimistic);
        if (rs.eof()) return;
        auto take = [&](const char* field, std::string& into) {
            ignoreErrors([&] {
                if (!isEmpty(rs.field(field))) into = rs.field(field).toString();
            });
        };
        take("NomeAzienda", g.CompanyName);
        take("DBname", g.CompanyDatabaseName);
        take("nRoot", g.CompanyUser);
        take("nPassw", g.CompanyPassword);
        take("qen_sql", g.CompanyConnectionString);
        take("Stringa_connessione_sql", g.CompanyConnectionString);
    });
    config::registerDataSource(4, 2, "Qen_Server", g.CompanyDatabaseName, "Dati " + g.CompanyName, g.ServerName,
                               g.CompanyUser, g.CompanyPassword);
    config::resetSharedObjects(g);
    closeQuietly(g.SharedConnection);
    closeQuietly(g.LocalConnection);
}

}  // namespace vopa::company
