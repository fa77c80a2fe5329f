#include "CompanyOpening.h"

#include "Language.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/OdbcDataSources.h"
#include "config/SharedObjects.h"
#include "platform/files/Files.h"
#include "platform/ui/MessageService.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::company {
namespace {

using data::CursorType;
using data::LockType;
using util::ignoreErrors;

const char* const kFilesFolder = "C:\\Vopa\\Files";

// The computer name as the registry queries carry it: sanitised once more.
std::string terminalName(const state::GlobalState& g) {
    std::string name = g.ComputerName;
    return util::sanitise(name);
}

bool isEmpty(const Value& v) { return util::isEmptyValue(v); }
bool isEmpty(const std::string& s) { return util::isEmptyValue(Value::string(s)); }
bool isEmpty(double d) { return d == 0; }

void closeQuietly(data::Connection& c) {
    if (c.isOpen()) ignoreErrors([&] { c.close(); });
}

void openRegistry(state::GlobalState& g) {
    closeQuietly(g.RegistryConnection);
    ignoreErrors([&] { g.RegistryConnection.open(config::registryConnection(config::readServerAddress(g))); });
}

void executeOn(data::Connection& c, const std::string& statement) {
    ignoreErrors([&] { c.execute(statement); });
}

// The first row of `query` on the registry, or nothing when it returns none or fails.
template <typename Read>
void firstRegistryRow(state::GlobalState& g, const std::string& query, Read&& read) {
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open(query, g.RegistryConnection, CursorType::Keyset, LockType::Pessimistic);
        if (!rs.eof()) read(rs);
    });
}

const char* const kDeleteUnnamedTerminals =
    "delete from link_programmaTerminale where nometerminale = N'' or nometerminale is null";

std::string terminalRowQuery(const std::string& computer) {
    return "Select * from link_programmaTerminale" + std::string(" where  ") + " Nometerminale = " + util::literal(computer);
}

// The terminal row of this computer: its Ultimo is taken when it exists; otherwise a row pointing at
// `companyId` is added (when there is a company to point at).
void recordTerminal(state::GlobalState& g, const std::string& computer) {
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open(terminalRowQuery(computer), g.RegistryConnection, CursorType::Keyset, LockType::Pessimistic);
        if (!rs.eof()) {
            g.CompanyId = rs.field("Ultimo").toDouble();
        } else if (!isEmpty(g.CompanyId)) {
            rs.addNew();
            rs.setField("Nometerminale", Value::string(computer));
            rs.setField("Ultimo", Value::dbl(g.CompanyId));
            rs.update();
        }
    });
}

// The most restarts the recovery makes before it gives up: a registry whose fallback company cannot be
// opened either would otherwise send the opening round in circles.
constexpr int kMaxRecoveries = 3;

}  // namespace

namespace {

// The company of this computer's terminal row (`terminalQuery`), else the first of `companiesQuery`:
// what both terminal lookups share. False (after the message) without a computer name; the registry
// connection stays open.
bool lastCompanyOfTerminal(state::GlobalState& g, const std::string& terminalQuery, const std::string& companiesQuery,
                           double& result) {
    if (terminalName(g).empty()) {
        ui::messages().message("Carica Nome PC");
        return false;
    }
    bool taken = false;
    openRegistry(g);
    executeOn(g.RegistryConnection,
              "delete from link_programmaTerminale where Nometerminale = N'' or Nometerminale is null");
    firstRegistryRow(g, terminalQuery, [&](data::Recordset& rs) {
        if (!isEmpty(rs.field("Ultimo"))) {
            result = rs.field("Ultimo").toDouble();
            taken = true;
        }
    });
    if (!taken) firstRegistryRow(g, companiesQuery, [&](data::Recordset& rs) { result = rs.field("id").toDouble(); });
    return true;
}

}  // namespace

double terminalLookup(state::GlobalState& g) {
    double result = 0;
    if (!lastCompanyOfTerminal(g,
                               "Select * from link_programmaTerminale" + std::string(" where  ") + " Nometerminale like " +
                                   util::likeLiteral(terminalName(g)),
                               "Select * from link_programma " + std::string(" order by dbname  "), result))
        return 0;
    g.CompanyId = result;
    closeQuietly(g.RegistryConnection);
    return static_cast<double>(static_cast<long long>(result));
}

double fullTerminalLookup(state::GlobalState& g) {
    double result = 0;
    if (!lastCompanyOfTerminal(g,
                               "Select * from link_programmaterminale where not nometerminale = N''" +
                                   std::string(" and  ") + " nometerminale = " + util::literal(terminalName(g)),
                               "Select * from link_programma  order by id", result))
        return 0;
    bool registered = false;
    firstRegistryRow(g, "Select * from link_programma " + std::string(" where  ") + " id = " + util::numberText(result),
                     [&](data::Recordset&) { registered = true; });
    if (!registered) {
        result = fallbackLookup(g);
        openRegistry(g);
    }
    executeOn(g.RegistryConnection, kDeleteUnnamedTerminals);
    g.CompanyId = result;
    closeQuietly(g.RegistryConnection);
    return result;
}

double fallbackLookup(state::GlobalState& g) {
    double result = 0;
    ignoreErrors([&] {
        std::string name;
        {
            data::Connection server;
            server.open(config::readServerAddress(g));
            data::Recordset rs;
            rs.open("SELECT * FROM master.dbo.sysdatabases where name like 'vopadati%' and not name like '%azienda%'",
                    server, CursorType::Keyset, LockType::ReadOnly);
            if (!rs.eof()) name = rs.field("NAME").toString();
        }
        openRegistry(g);
        firstRegistryRow(g, "Select * from link_programma where  dbname=" + util::literal(name),
                         [&](data::Recordset& rs) { result = rs.field("id").toDouble(); });
    });
    return static_cast<double>(static_cast<long long>(result));
}

bool databaseExists(state::GlobalState& g) {
    bool exists = false;
    ignoreErrors([&] {
        data::Connection server;
        server.open(config::readServerAddress(g));
        data::Recordset rs;
        rs.open("SELECT name FROM master.dbo.sysdatabases WHERE name = " + util::unicodeLiteral(g.CompanyDatabaseName), server,
                CursorType::Keyset, LockType::ReadOnly);
        exists = !rs.eof();
    });
    return exists;
}

void readDataFileFolder(state::GlobalState& g) {
    g.DataFileFolder.clear();
    ignoreErrors([&] {
        data::Connection own;
        own.open(config::registryConnection(config::readServerAddress(g)));
        data::Recordset rs;
        rs.open("Select * from link_programma where dbname like " + util::likeLiteral(g.CompanyDatabaseName), own,
                CursorType::Keyset, LockType::Optimistic);
        if (!rs.eof() && !isEmpty(rs.field("IndirizzoMdf"))) g.DataFileFolder = rs.field("IndirizzoMdf").toString();
    });
}

void identifyOffice(state::GlobalState& g) {
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open("Select * from Sede", g.CompanyConnectionString, CursorType::Keyset, LockType::ReadOnly);
        if (!rs.eof()) {
            rs.moveFirst();
            g.OfficeId = rs.field("idsede").toDouble();
        }
    });
}

std::optional<std::string> registeredDatabase(double companyId, state::GlobalState& g) {
    std::optional<std::string> database;
    ignoreErrors([&] {
        data::Connection registry;
        registry.open(config::registryConnection(config::readServerAddress(g)));
        data::Recordset rs;
        rs.open("Select * from link_programma where id = " + util::numberText(companyId), registry,
                CursorType::Keyset, LockType::ReadOnly);
        if (!rs.eof()) database = isEmpty(rs.field("DBname")) ? std::string() : rs.field("DBname").toString();
    });
    return database;
}

void registerCompanyDataSources(state::GlobalState& g) {
    const std::string description = "Dati " + g.CompanyName;
    for (std::uint16_t request : {std::uint16_t{1}, std::uint16_t{2}})
        config::registerDataSource(request, 2, g.DataSourceName, g.CompanyDatabaseName, description, g.ServerName,
                                   g.CompanyUser, g.CompanyPassword);
    for (std::uint16_t request : {std::uint16_t{1}, std::uint16_t{2}})
        config::registerDataSource(request, 2, "Qen_Temp", std::string(config::kScratchDatabase), description,
                                   config::readLocalServerName(g), g.CompanyUser, g.CompanyPassword);
    for (std::uint16_t request : {std::uint16_t{1}, std::uint16_t{2}})
        config::registerDataSource(request, 2, "Qen_Azienda", "VoPaDatiAzienda", description,
                                   config::readLocalServerName(g), "", "");
}

void openCompany(double& companyId, state::GlobalState& g) {
    const std::string computer = terminalName(g);
    if (computer.empty()) {
        ui::messages().message("Caricare il nome del PC!");
        return;
    }
    if (isEmpty(companyId)) companyId = g.CompanyId = terminalLookup(g);

    for (int recoveries = 0;; ++recoveries) {
        // Each round either returns with the company open or ends up here, in the recovery: the company
        // row is missing or its database is not on the server, so the first registered company whose
        // database exists is opened instead.
        auto recover = [&] {
            const double fallback = fallbackLookup(g);
            if (isEmpty(fallback) || recoveries >= kMaxRecoveries)
                ui::messages().endProgramAfter("Non è possibile caricare il DataBase");
            g.CompanyId = companyId = fallback;
            closeQuietly(g.RegistryConnection);
        };

        g.CompanyId = companyId;
        if (isEmpty(g.CompanyId)) {
            g.CompanyId = fullTerminalLookup(g);
            openRegistry(g);
            executeOn(g.RegistryConnection, "delete from link_programmaTerminale where nometerminale is null");
            bool rowExists = false;
            firstRegistryRow(g, terminalRowQuery(computer), [&](data::Recordset& rs) {
                rowExists = true;
                g.CompanyId = rs.field("Ultimo").toDouble();
            });
            if (!rowExists) {
                if (!isEmpty(g.CompanyId)) {
                    recordTerminal(g, computer);
                } else if (isEmpty(fallbackLookup(g))) {
                    ui::messages().endProgramAfter("Nessun database caricato");
                }
                // Otherwise CompanyId stays empty: no company row is found below and the recovery takes
                // the company the fallback found.
            }
        } else {
            openRegistry(g);
            executeOn(g.RegistryConnection, "update link_programmaTerminale set ultimo = 0" + std::string(" where  ") +
                                                " nometerminale = " + util::literal(computer));
            executeOn(g.RegistryConnection,
                      "update link_programmaTerminale set ultimo = " + util::numberText(g.CompanyId) + " where  " +
                          " nometerminale = " + util::literal(computer));
            recordTerminal(g, computer);
        }

        bool found = false;
        bool databaseNamed = false;
        firstRegistryRow(g, "Select * from link_programma " + std::string(" where  ") + " id = " + util::numberText(g.CompanyId),
                         [&](data::Recordset& rs) {
                             found = true;
                             readLanguage(g);
                             if (!isEmpty(rs.field("NomeAzienda"))) g.CompanyName = rs.field("NomeAzienda").toString();
                             if (!isEmpty(rs.field("DBname"))) {
                                 g.CompanyDatabaseName = rs.field("DBname").toString();
                                 databaseNamed = true;
                             }
                             if (!isEmpty(rs.field("nRoot"))) g.CompanyUser = rs.field("nRoot").toString();
                             if (!isEmpty(rs.field("nPassw"))) g.CompanyPassword = rs.field("nPassw").toString();
                             if (databaseNamed) {
                                 executeOn(g.RegistryConnection, "update link_programmaTerminale set ultimo = " +
                                                                     util::numberText(g.CompanyId) + " where  " +
                                                                     " nometerminale = " + util::literal(computer));
                                 for (const char* folder : {"C:\\", "C:\\Vopa", kFilesFolder})
                                     ignoreErrors([&] { files::setCurrentFolder(folder); });
                                 g.FilesFolder = kFilesFolder;
                                 g.LocalConnectionString =
                                     config::localAccessConnection(g.FilesFolder, rs.field("qen_sql").toString());
                                 g.CompanyConnectionString = config::companyConnectionClosed(
                                     config::readServerAddress(g), g.CompanyDatabaseName);
                             }
                             g.CompanyId = companyId = rs.field("id").toDouble();
                         });
        if (!found) {
            recover();
            continue;
        }
        if (!databaseExists(g)) {
            recover();
            continue;
        }
        std::string companyDatabase;
        ignoreErrors([&] { companyDatabase = config::companyConnection(config::readServerAddress(g), g.CompanyDatabaseName); });
        ignoreErrors([&] { g.SharedConnection.open(companyDatabase); });
        config::resetSharedObjects(g);
        if (!databaseNamed) config::resetSharedObjects(g);
        closeQuietly(g.SharedConnection);
        closeQuietly(g.RegistryConnection);
        ignoreErrors([&] { g.SharedConnection.open(companyDatabase); });
        if (isEmpty(g.CompanyDatabaseName) || !databaseExists(g)) {
            recover();
            continue;
        }
        // The company's data source for the suite's other programs; a later registration by the company
        // window uses the same name.
        g.DataSourceName = "Qen_server";
        registerCompanyDataSources(g);
        openRegistry(g);
        executeOn(g.RegistryConnection, kDeleteUnnamedTerminals);
        closeQuietly(g.RegistryConnection);
        return;
    }
}

}  // namespace vopa::company
