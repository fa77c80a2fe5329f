#pragma once
// The state every window and procedure shares for the whole run. Items start empty, zero or false;
// the names are the ones the rest of the program uses for them. The database objects (connections,
// recordsets, the command) join this object with the data layer.

#include <array>
#include <cstdint>
#include <string>

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

struct GlobalState {
    // Statement texts.
    std::string SqlText;        // the statement about to be executed
    std::string LinkQueryText;  // the last single-table query; also hands a table name to the table-exists test
    std::string SignInSqlText;  // the sign-in queries

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

    // The operator.
    std::string LanguageCode;
    std::array<std::int16_t, RightCount> UserRights{};
    double AttemptCounter = 0;

    // The build.
    bool CopyFailureFlag = false;
};

// The one instance of the program.
GlobalState& globals();

}  // namespace vopa::state
