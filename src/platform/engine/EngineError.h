#pragma once
// An error of the embedded SQL Server engine: SQL Server's message number, severity, state and
// description ("Msg 208, Level 16, State 1: Invalid object name 'x'.").

#include <stdexcept>
#include <string>

namespace vopa::engine {

class EngineError : public std::runtime_error {
public:
    EngineError(int number, const std::string& message, int severity = 16, int state = 1)
        : std::runtime_error(message), number_(number), severity_(severity), state_(state) {}
    int number() const { return number_; }
    int severity() const { return severity_; }
    int state() const { return state_; }

private:
    int number_;
    int severity_;
    int state_;
};

// Numbers the engine raises, with SQL Server's meaning.
namespace err {
inline constexpr int SyntaxNear = 102;            // Incorrect syntax near '%s'.
inline constexpr int SyntaxNearKeyword = 156;     // Incorrect syntax near the keyword '%s'.
inline constexpr int InvalidColumn = 207;         // Invalid column name '%s'.
inline constexpr int InvalidObject = 208;         // Invalid object name '%s'.
inline constexpr int AmbiguousColumn = 209;       // Ambiguous column name '%s'.
inline constexpr int ConversionFailed = 245;      // Conversion failed when converting ...
inline constexpr int NotNullViolation = 515;      // Cannot insert the value NULL into column ...
inline constexpr int IdentityInsertOff = 544;     // Cannot insert explicit value for identity column ...
inline constexpr int UnknownFunction = 195;       // '%s' is not a recognized built-in function name.
inline constexpr int UnknownProcedure = 2812;     // Could not find stored procedure '%s'.
inline constexpr int ColumnCountMismatch = 213;   // Column name or number of supplied values does not match ...
inline constexpr int InsertMoreColumns = 120;     // The select list for the INSERT statement contains fewer items ...
inline constexpr int InsertFewerColumns = 121;    // ... contains more items than the insert list
inline constexpr int DatabaseExists = 1801;       // Database '%s' already exists.
inline constexpr int FileExists = 5170;           // Cannot create file '%s' because it already exists.
inline constexpr int DatabaseMissing = 911;       // Database '%s' does not exist.
inline constexpr int DropDatabaseMissing = 3701;  // Cannot drop the database '%s', because it does not exist ...
inline constexpr int ObjectExists = 2714;         // There is already an object named '%s' in the database.
inline constexpr int DuplicateColumn = 2705;      // Column names in each table must be unique ...
inline constexpr int StringTruncation = 8152;     // String or binary data would be truncated.
inline constexpr int IdentityNeedsColumnList = 8101;  // An explicit value for the identity column ... column list
inline constexpr int IdentityInsertOtherTable = 8107;  // IDENTITY_INSERT is already ON for table '%s'.
inline constexpr int IdentityInsertNoIdentity = 8106;  // Table '%s' does not have the identity property.
inline constexpr int ArithmeticOverflow = 8115;   // Arithmetic overflow error converting %s to data type %s.
inline constexpr int DivideByZero = 8134;         // Divide by zero error encountered.
inline constexpr int NonEmptyNotNullColumn = 4901;  // ALTER TABLE only allows columns to be added that ...
inline constexpr int UnknownDatabaseOption = 15010;  // The database '%s' does not exist. (sp_dboption)
inline constexpr int CannotConnect = 17;          // SQL Server does not exist or access denied.
inline constexpr int LoginFailedDatabase = 4060;  // Cannot open database "%s" requested by the login.
inline constexpr int NotSupported = 40000;        // the engine's own: a construct it does not support
}  // namespace err

}  // namespace vopa::engine
