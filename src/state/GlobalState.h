#pragma once
// The state every window and procedure shares for the whole run. Items start empty, zero, false or
// closed; the names are the ones the rest of the program uses for them.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/data/Command.h"
#include "platform/data/Connection.h"
#include "platform/data/Recordset.h"

namespace vopa::state {

// Positions in UserRights; -1 means granted, 0 refused.
enum Right : std::size_t {
    RightAdministrator,
    RightInsert,
    RightDelete,
    RightVat,
    RightBalance,
    RightPersonnel,
    RightHistoryArchive,
    RightFinancialPlan,
    RightSynchronisation,
    RightIssuePayments,
    // The two further rights items.
    RightProjects,
    RightDisabled,
    RightCount
};

inline constexpr std::size_t kSharedRecordsets = 24;
inline constexpr std::size_t kSecondGroupRecordsets = 8;

struct GlobalState {
    // Connections. SharedConnection: the current company database; ServerConnection: server-level
    // work, the scratch database and the copy; SchemaConnection: the training database's tables;
    // RegistryConnection: the company registry; LocalConnection: the local Access file.
    data::Connection SharedConnection;
    data::Connection ServerConnection;
    data::Connection SchemaConnection;
    data::Connection RegistryConnection;
    data::Connection LocalConnection;

    // The 24 shared recordsets (the first is SharedRecordset), closed by the reset routine, and the
    // second group of eight used by the budget and funder accounts steps.
    std::array<data::Recordset, kSharedRecordsets> SharedRecordsets;
    data::Recordset& SharedRecordset = SharedRecordsets[0];
    std::array<data::Recordset, kSecondGroupRecordsets> SecondGroupRecordsets;

    // The command bound to SharedConnection, replaced by the reset routine; absent until then.
    std::unique_ptr<data::Command> SharedCommand;

    GlobalState() = default;
    GlobalState(const GlobalState&) = delete;
    GlobalState& operator=(const GlobalState&) = delete;

    // Closes the second recordset group, each one that is open.
    void closeSecondRecordsetGroup();

    // The copy step's statement about to be executed; a failed copy's message shows it.
    std::string SqlText;

    // Connection strings.
    std::string CompanyConnectionString;
    std::string ServerConnectionString;    // the one last given to ServerConnection
    std::string LocalConnectionString;     // the company's local Access file
    std::string RegistryConnectionString;  // the company registry; the data-folder lookup reuses it

    // This computer and the server.
    std::string ComputerName;  // sanitised network name
    std::string ServerName;
    std::string ProgramFolder;

    // The current company.
    double CompanyId = 0;
    double CompanyIdParam = 0;  // handed to the opening procedure; 0 = look the company up
    std::string CompanyName;
    std::string CompanyDatabaseName;
    std::string CompanyUser;
    std::string CompanyPassword;
    double OfficeId = 0;
    std::int32_t CurrentOfficeNumber = 0;  // 1 = head office
    std::string FilesFolder;
    std::string DataFileFolder;
    std::string DataSourceName;  // the data source registered for the company ("Qen_server" / "Qen_Server")

    // The operator.
    std::string LanguageCode;
    std::array<std::int16_t, RightCount> UserRights{};
    double AttemptCounter = 0;

    // The build.
    bool CopyFailureFlag = false;
};

// The one instance of the program.
GlobalState& globals();
// Replaces it by a fresh one (tests that run the program's windows several times in one process).
// Nothing may hold a reference to the old one.
void resetGlobals();

}  // namespace vopa::state
