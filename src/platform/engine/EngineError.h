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

// Numbers the engine raises, by number, with SQL Server's message (or, from 40000, the engine's own).
namespace err {
inline constexpr int CannotConnect = 17;  // SQL Server does not exist or access denied.
inline constexpr int InvalidInstanceName = 87;  // '%s' is not a valid instance name.
inline constexpr int SyntaxNear = 102;  // Incorrect syntax near '%s'.
// ORDER BY items must appear in the select list (UNION, INTERSECT, EXCEPT).
inline constexpr int OrderByNotInSelectList = 104;
inline constexpr int OrderByPositionOutOfRange = 108;  // The ORDER BY position number %d is out of range.
// More columns in the INSERT statement than values in the VALUES clause.
inline constexpr int InsertValuesTooFew = 109;
// Fewer columns in the INSERT statement than values in the VALUES clause.
inline constexpr int InsertValuesTooMany = 110;
// Only one expression can be specified in the select list of the subquery.
inline constexpr int SubqueryTooManyColumns = 116;
// Must pass parameter number %d and subsequent parameters as '@name = value'.
inline constexpr int PositionalAfterNamed = 119;
// The select list for the INSERT statement contains fewer items than the insert list.
inline constexpr int InsertSelectTooFew = 120;
// The select list for the INSERT statement contains more items than the insert list.
inline constexpr int InsertSelectTooMany = 121;
inline constexpr int NameNotPermitted = 128;  // The name "%s" is not permitted in this context.
// Cannot perform an aggregate function on an expression containing an aggregate ...
inline constexpr int AggregateOfAggregate = 130;
inline constexpr int TypeSizeTooLarge = 131;  // The size (%d) given to the type '%s' exceeds the maximum allowed.
inline constexpr int VariableRedeclared = 134;  // The variable name '%s' has already been declared.
inline constexpr int UndeclaredVariable = 137;  // Must declare the scalar variable "%s".
// Cannot use an aggregate or a subquery in an expression used for the group by list.
inline constexpr int AggregateInGroupBy = 144;
inline constexpr int AggregateInWhere = 147;  // An aggregate may not appear in the WHERE clause ...
inline constexpr int UnknownOption = 155;  // '%s' is not a recognized %s option.
inline constexpr int SyntaxNearKeyword = 156;  // Incorrect syntax near the keyword '%s'.
inline constexpr int AggregateInUpdateSet = 157;  // An aggregate may not appear in the set list of an UPDATE statement.
// Each GROUP BY expression must contain at least one column that is not an outer ...
inline constexpr int GroupByOuterReferenceOnly = 164;
// 'CREATE VIEW' does not allow specifying the database name as a prefix ...
inline constexpr int ViewNameWithDatabase = 166;
inline constexpr int WrongArgumentCount = 174;  // The %s function requires %d argument(s).
inline constexpr int NestedTooDeeply = 191;  // Some part of your SQL statement is nested too deeply.
inline constexpr int UnknownFunction = 195;  // '%s' is not a recognized built-in function name.
// SELECT INTO must be the first query in a statement containing a UNION ...
inline constexpr int SelectIntoNotFirst = 196;
// Procedure or function '%s' expects parameter '%s', which was not supplied.
inline constexpr int MissingParameter = 201;
// All queries combined using a UNION ... must have an equal number of expressions.
inline constexpr int SetOperationColumnCount = 205;
inline constexpr int InvalidColumn = 207;  // Invalid column name '%s'.
inline constexpr int InvalidObject = 208;  // Invalid object name '%s'.
inline constexpr int AmbiguousColumn = 209;  // Ambiguous column name '%s'.
inline constexpr int AmbiguousTable = 8154;  // The table '%s' is ambiguous.
// Column name or number of supplied values does not match table definition.
inline constexpr int ColumnCountMismatch = 213;
inline constexpr int IntegerOverflow = 220;  // Arithmetic overflow error for data type %s, value = %d.
// CREATE DATABASE statement not allowed within multi-statement transaction.
inline constexpr int NotInTransaction = 226;
// Cannot convert a char value to money. The char value has incorrect syntax.
inline constexpr int MoneyConversionFailed = 235;
// Conversion failed when converting date and/or time from character string.
inline constexpr int DateConversionFailed = 241;
// The conversion of a %s data type to a %s data type resulted in an out-of-range value.
inline constexpr int DateOutOfRange = 242;
inline constexpr int ConversionFailed = 245;  // Conversion failed when converting ...
inline constexpr int IntConversionOverflow = 248;  // The conversion of the %s value '%s' overflowed an int column.
inline constexpr int AdHocCatalogUpdate = 259;  // Ad hoc updates to system catalogs are not allowed.
inline constexpr int NoTableToSelectFrom = 263;  // Must specify table to select from.
// The column name '%s' is specified more than once in the SET clause or column list.
inline constexpr int ColumnAssignedTwice = 264;
inline constexpr int OrderByConstant = 408;  // A constant expression was encountered in the ORDER BY list, position %d.
inline constexpr int NotNullViolation = 515;  // Cannot insert the value NULL into column ...
inline constexpr int DateAddOverflow = 517;  // Adding a value to a '%s' column caused an overflow.
inline constexpr int ConversionNotAllowed = 529;  // Explicit conversion from data type %s to %s is not allowed.
inline constexpr int DateDiffOverflow = 535;  // The datediff function resulted in an overflow.
inline constexpr int IdentityInsertOff = 544;  // Cannot insert explicit value for identity column ...
// Explicit value must be specified for identity column in table '%s' ...
inline constexpr int IdentityValueRequired = 545;
inline constexpr int DatabaseFileDamaged = 824;  // The database file is damaged or is not a database file.
inline constexpr int DatabaseMissing = 911;  // Database '%s' does not exist.
inline constexpr int InvalidTypeLength = 1001;  // Line 1: The length %s is invalid for the type '%s'.
inline constexpr int DateFirstOutOfRange = 1005;  // The value of SET DATEFIRST must be between 1 and 7.
inline constexpr int NumberOutOfRange = 1007;  // The number '%s' is out of the range for numeric representation.
inline constexpr int EmptyName = 1038;  // An object or column name is missing or empty.
// The number of elements in the select list exceeds the maximum allowed.
inline constexpr int SelectListTooLong = 1056;
inline constexpr int DiskFull = 1105;  // Could not allocate space: the disk is full.
inline constexpr int LockResourceUnavailable = 1204;  // The instance cannot obtain a LOCK resource at this time.
// Transaction (Process ID %d) was deadlocked ... and has been chosen as the deadlock victim.
inline constexpr int Deadlock = 1205;
inline constexpr int LockTimeout = 1222;  // Lock request time out period exceeded.
// Cannot release the application lock ... because it is not currently held.
inline constexpr int AppLockNotHeld = 1223;
// The CREATE UNIQUE INDEX statement terminated because a duplicate key was found.
inline constexpr int DuplicateKeyOnCreateIndex = 1505;
// CREATE TABLE failed because column '%s' in table '%s' exceeds the maximum of columns.
inline constexpr int TooManyColumns = 1702;
inline constexpr int ConstraintNotCreated = 1750;  // Could not create constraint or index. See previous errors.
inline constexpr int DefaultOnIdentity = 1754;  // Defaults cannot be created on columns with an IDENTITY attribute.
inline constexpr int PrimaryKeyExists = 1779;  // Table '%s' already has a primary key defined on it.
inline constexpr int DefaultExists = 1781;  // Column already has a DEFAULT bound to it.
inline constexpr int DatabaseExists = 1801;  // Database '%s' already exists.
inline constexpr int FileInUse = 1834;  // The file '%s' cannot be overwritten. It is being used by database '%s'.
inline constexpr int SecondClusteredIndex = 1902;  // Cannot create more than one clustered index on table '%s'.
inline constexpr int IndexColumnMissing = 1911;  // Column name '%s' does not exist in the target table or view.
inline constexpr int IndexExists = 1913;  // An index or statistics with name '%s' already exists on table '%s'.
// Column '%s' in table '%s' is of a type that is invalid for use as a key column.
inline constexpr int InvalidKeyColumnType = 1919;
// Cannot create index on view '%s' because the view is not schema bound.
inline constexpr int IndexOnUnboundView = 1939;
// Cannot insert duplicate key row in object '%s' with unique index '%s'.
inline constexpr int DuplicateKeyIndex = 2601;
inline constexpr int DuplicateKeyConstraint = 2627;  // Violation of %s constraint '%s'. Cannot insert duplicate key ...
inline constexpr int DuplicateColumn = 2705;  // Column names in each table must be unique.
inline constexpr int ObjectExists = 2714;  // There is already an object named '%s' in the database.
inline constexpr int UnknownType = 2715;  // Column, parameter, or variable #%d: Cannot find data type %s.
inline constexpr int LobVariable = 2739;  // The text, ntext, and image data types are invalid for local variables.
inline constexpr int InvalidDateFormat = 2741;  // SET DATEFORMAT date order '%s' is invalid.
inline constexpr int MultipleIdentity = 2744;  // Multiple identity columns specified for table '%s'.
inline constexpr int InvalidIdentityType = 2749;  // Identity column '%s' must be of data type int, bigint, ...
// Specified column precision %d is greater than the maximum precision of 38.
inline constexpr int PrecisionTooLarge = 2750;
// Specified column scale %d is greater than the specified precision of %d.
inline constexpr int ScaleAbovePrecision = 2751;
inline constexpr int UnknownProcedure = 2812;  // Could not find stored procedure '%s'.
// A batch its client cancelled (the client sees its cancel acknowledged, not this error).
inline constexpr int Cancelled = 3617;
inline constexpr int StatementTerminated = 3621;  // The statement has been terminated.
// The operating system returned the error '%s' while attempting '%s' on '%s'.
inline constexpr int OperatingSystemError = 3634;
// Cannot drop the %s '%s', because it does not exist or you do not have permission.
inline constexpr int CannotDropMissing = 3701;
inline constexpr int DatabaseInUse = 3702;  // Cannot drop database "%s" because it is currently in use.
inline constexpr int DropTableOfView = 3705;  // Cannot use DROP TABLE with '%s' because '%s' is a view.
inline constexpr int DropSystemDatabase = 3708;  // Cannot drop the database '%s' because it is a system database.
// An explicit DROP INDEX is not allowed on index '%s'. It is being used for ...
inline constexpr int DropConstraintIndex = 3723;
inline constexpr int NotAConstraint = 3728;  // '%s' is not a constraint.
// The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.
inline constexpr int CommitWithoutBegin = 3902;
// The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.
inline constexpr int RollbackWithoutBegin = 3903;
inline constexpr int DatabaseReadOnly = 3906;  // Failed to update database because the database is read-only.
inline constexpr int LoginFailedDatabase = 4060;  // Cannot open database "%s" requested by the login.
inline constexpr int DefaultDatabaseUnavailable = 4064;  // Cannot open user default database. Login failed.
inline constexpr int UnboundIdentifier = 4104;  // The multi-part identifier "%s" could not be bound.
// Create View or Function failed because no column name was specified for column %d.
inline constexpr int ViewColumnUnnamed = 4511;
inline constexpr int TruncateNotATable = 4708;  // Could not truncate object '%s' because it is not a table.
inline constexpr int NonEmptyNotNullColumn = 4901;  // ALTER TABLE only allows columns to be added that ...
// ALTER TABLE DROP COLUMN failed because '%s' is the only data column in table '%s'.
inline constexpr int DropOnlyColumn = 4923;
// ALTER TABLE DROP COLUMN failed because column '%s' does not exist in table '%s'.
inline constexpr int DropColumnMissing = 4924;
inline constexpr int AlterNotATable = 4929;  // Cannot alter the table '%s' because it is not a table.
inline constexpr int FileNotDeleted = 5025;  // The file '%s' of database '%s' cannot be deleted.
inline constexpr int ColumnHasDependents = 5074;  // The object '%s' is dependent on column '%s'.
// A file activation error occurred. The physical file name '%s' may be incorrect.
inline constexpr int FileActivation = 5105;
inline constexpr int PhysicalFileMissing = 5120;  // Unable to open the physical file "%s".
// CREATE FILE encountered operating system error while attempting to open or create ...
inline constexpr int CreateFileFailed = 5123;
// Directory lookup for the file "%s" failed with the operating system error 3.
inline constexpr int DirectoryLookupFailed = 5133;
inline constexpr int FileExists = 5170;  // Cannot create file '%s' because it already exists.
inline constexpr int InvalidFileHeader = 5172;  // The header for file '%s' is not a valid database file header.
inline constexpr int IdentityNeedsColumnList = 8101;  // An explicit value for the identity column ... column list
inline constexpr int UpdateIdentityColumn = 8102;  // Cannot update identity column '%s'.
inline constexpr int IdentityInsertNoIdentity = 8106;  // Table '%s' does not have the identity property.
inline constexpr int IdentityInsertOtherTable = 8107;  // IDENTITY_INSERT is already ON for table '%s'.
// Cannot define PRIMARY KEY constraint on nullable column '%s' in table '%s'.
inline constexpr int PrimaryKeyOnNullable = 8111;
inline constexpr int NumericConversionFailed = 8114;  // Error converting data type %s to numeric.
inline constexpr int ArithmeticOverflow = 8115;  // Arithmetic overflow error converting %s to data type %s.
inline constexpr int InvalidOperandType = 8117;  // Operand data type %s is invalid for %s operator.
// Column '%s' is invalid in the select list because it is not contained in ... GROUP BY.
inline constexpr int NotGrouped = 8120;
inline constexpr int DivideByZero = 8134;  // Divide by zero error encountered.
inline constexpr int ParameterTwice = 8143;  // Parameter '%s' was supplied multiple times.
inline constexpr int TooManyArguments = 8144;  // Procedure or function %s has too many arguments specified.
inline constexpr int UnknownParameter = 8145;  // %s is not a parameter for procedure %s.
// Could not create IDENTITY attribute on nullable column '%s', table '%s'.
inline constexpr int IdentityOnNullable = 8147;
inline constexpr int StringTruncation = 8152;  // String or binary data would be truncated.
inline constexpr int ViewColumnListTooLong = 8159;  // '%s' has fewer columns than were specified in the column list.
// Conversion failed when converting from a character string to uniqueidentifier.
inline constexpr int UniqueIdentifierConversionFailed = 8169;
// The number of row value expressions in the INSERT statement exceeds 1000.
inline constexpr int TooManyRowValues = 10738;
inline constexpr int OptionDatabaseMissing = 15010;  // The database '%s' does not exist. (sp_dboption)
inline constexpr int UnknownDatabaseOption = 15011;  // Database option '%s' does not exist.
inline constexpr int PrincipalExists = 15025;  // The server principal '%s' already exists.
// Password validation failed. The password does not meet the operating system policy requirements ...
inline constexpr int PasswordPolicy = 15118;
inline constexpr int UnknownConfigurationOption = 15123;  // The configuration option '%s' does not exist.
// Cannot %s the login '%s', because it does not exist or you do not have permission.
inline constexpr int LoginMissingOrDenied = 15151;
inline constexpr int NoPermission = 15247;  // User does not have permission to perform this action.
// The database name component of the object qualifier must be the name of the current database.
inline constexpr int QualifierNotCurrentDatabase = 15250;
inline constexpr int SpecialPrincipal = 15405;  // Cannot use the special principal '%s'.
// An invalid parameter or option was specified for procedure '%s'.
inline constexpr int InvalidProcedureParameter = 15600;
// Optimistic concurrency check failed. The row was modified outside of this cursor.
inline constexpr int RowChangedOutside = 16934;
// The master database file '%s' is missing or empty while databases remain.
inline constexpr int MasterDatabaseMissing = 17113;
inline constexpr int LoginFailed = 18456;  // Login failed for user '%s'.
inline constexpr int NotSupported = 40000;  // the engine's own: a construct it does not support
inline constexpr int InternalError = 50000;  // the engine's own: a fault of its translation or of the storage
}  // namespace err

}  // namespace vopa::engine
