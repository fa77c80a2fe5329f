#pragma once
// Syntax tree of the T-SQL the engine accepts. The parser builds it from a batch; the executors walk it.
// Names keep the spelling of the text (brackets removed); keywords are recognised case-insensitively.
// Every node records the offset of its first character in the batch, so errors can point at the text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vopa::engine::sql {

struct SelectStmt;
struct Statement;
using StatementPtr = std::unique_ptr<Statement>;

// A possibly qualified name: "[db].[dbo].[t]" -> parts {"db", "dbo", "t"}; "db..t" -> {"db", "", "t"}.
struct QualifiedName {
    std::vector<std::string> parts;
    std::size_t offset = 0;

    bool empty() const { return parts.empty(); }
    const std::string& last() const { return parts.back(); }
    // The parts before the last one, e.g. the table of a column reference; empty when unqualified.
    std::vector<std::string> qualifier() const { return {parts.begin(), parts.end() - (parts.empty() ? 0 : 1)}; }
    // "a.b.c" as written (without brackets), for messages.
    std::string text() const;
};

// A data type as written: "nvarchar(50)" -> {"nvarchar", 50}; "decimal (19,2)" -> {"decimal", -1, 19, 2};
// "varchar(max)" -> length kMax. Name in lower case.
struct TypeName {
    static constexpr int kNotGiven = -1;
    static constexpr int kMax = -2;
    std::string name;
    int length = kNotGiven;
    int precision = kNotGiven;
    int scale = kNotGiven;
    std::size_t offset = 0;
};

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
    enum class Kind {
        Literal,     // literal, literalKind, text
        Column,      // name (parts: [db.][schema.][table.]column)
        Star,        // name holds the qualifier (may be empty): "*" or "t.*"
        Unary,       // op ("-", "+", "~", "NOT"), args[0]
        Binary,      // op, args[0], args[1]; op is one of + - * / % & | ^ = <> != < <= > >= !< !> AND OR
        Function,    // name (function name, parts), args; distinct; starArgument for COUNT(*)
        Cast,        // CAST(args[0] AS type) and CONVERT(type, args[0] [, args[1] = style])
        Case,        // caseOperand (optional), whens, elseExpr (optional)
        Subquery,    // (SELECT ...) used as a value: subquery
        Exists,      // [NOT] EXISTS (subquery): negated, subquery
        InList,      // args[0] [NOT] IN (args[1..]): negated
        InSubquery,  // args[0] [NOT] IN (subquery): negated
        Between,     // args[0] [NOT] BETWEEN args[1] AND args[2]: negated
        Like,        // args[0] [NOT] LIKE args[1] [ESCAPE args[2]]: negated
        IsNull,      // args[0] IS [NOT] NULL: negated
        Variable,    // @name or @@name: text holds the name with its @ signs
    };
    enum class LiteralKind {
        Null,     // NULL
        Integer,  // 123 (text holds the digits)
        Decimal,  // 1.50, .5 (text as written)
        Float,    // 1e3, 2.5E-2
        Money,    // $12.50 (text without the sign)
        String,   // 'it''s' -> text "it's"
        NString,  // N'...'
        Binary,   // 0x1F (text without 0x)
    };

    Kind kind = Kind::Literal;
    std::size_t offset = 0;

    LiteralKind literalKind = LiteralKind::Null;
    std::string text;

    QualifiedName name;
    std::string op;
    std::vector<ExprPtr> args;
    bool negated = false;
    bool distinct = false;
    bool starArgument = false;
    bool isConvert = false;  // Cast written as CONVERT(...)

    TypeName type;  // Cast target

    ExprPtr caseOperand;
    std::vector<std::pair<ExprPtr, ExprPtr>> whens;
    ExprPtr elseExpr;

    std::unique_ptr<SelectStmt> subquery;

    Expr();
    ~Expr();
    Expr(Expr&&) noexcept;
    Expr& operator=(Expr&&) noexcept;
};

// ---- FROM clause ----------------------------------------------------------------------------------

struct TableRef;
using TableRefPtr = std::unique_ptr<TableRef>;

struct TableRef {
    enum class Kind { Table, Derived, Join };
    enum class JoinType { Inner, Left, Right, Full, Cross };

    Kind kind = Kind::Table;
    std::size_t offset = 0;

    QualifiedName table;                   // Table
    std::unique_ptr<SelectStmt> derived;   // Derived: (SELECT ...) AS alias
    std::string alias;                     // Table, Derived
    std::vector<std::string> hints;        // WITH (NOLOCK, ...) in upper case

    JoinType joinType = JoinType::Inner;   // Join
    TableRefPtr left;
    TableRefPtr right;
    ExprPtr on;                            // absent for CROSS JOIN

    TableRef();
    ~TableRef();
    TableRef(TableRef&&) noexcept;
    TableRef& operator=(TableRef&&) noexcept;
};

// ---- SELECT -----------------------------------------------------------------------------------------

struct SelectItem {
    ExprPtr expr;       // a Star expression for * and t.*
    std::string alias;  // "AS x", "x", "x = expr" (empty when none)
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
};

struct SelectStmt {
    std::size_t offset = 0;
    bool distinct = false;
    ExprPtr top;               // TOP n / TOP (n)
    bool topPercent = false;
    std::vector<SelectItem> items;
    QualifiedName into;        // SELECT ... INTO new_table
    std::vector<TableRefPtr> from;  // comma-separated list; joins nest inside one entry
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
    ExprPtr having;
    std::vector<OrderItem> orderBy;  // only on the outermost select of a UNION chain

    // SELECT ... UNION [ALL] | EXCEPT | INTERSECT SELECT ...: the next query of the chain and the
    // operator that joins it to this one.
    enum class SetOperator { Union, UnionAll, Except, Intersect };
    std::unique_ptr<SelectStmt> unionNext;
    SetOperator setOperator = SetOperator::Union;

    SelectStmt();
    ~SelectStmt();
    SelectStmt(SelectStmt&&) noexcept;
    SelectStmt& operator=(SelectStmt&&) noexcept;
};

// ---- Table definitions ------------------------------------------------------------------------------

struct IndexColumn {
    std::string name;
    bool descending = false;
};

// WITH (...) options and the filegroup of keys and indexes; kept for fidelity, not interpreted beyond
// what the engine checks.
struct IndexOptions {
    std::optional<int> fillFactor;
    std::vector<std::pair<std::string, std::string>> options;  // upper-case name, value as written
    std::string filegroup;                                      // ON [PRIMARY]
};

struct TableConstraint {
    enum class Kind { PrimaryKey, Unique, ForeignKey, Check, Default };
    Kind kind = Kind::PrimaryKey;
    std::size_t offset = 0;
    std::string name;                 // CONSTRAINT name (may be empty)
    std::optional<bool> clustered;    // CLUSTERED / NONCLUSTERED when given
    std::vector<IndexColumn> columns; // key columns; for Default the one column (FOR col)
    IndexOptions indexOptions;
    QualifiedName referencedTable;    // ForeignKey
    std::vector<std::string> referencedColumns;
    ExprPtr expression;               // Check condition, Default value
};

struct ColumnDef {
    std::size_t offset = 0;
    std::string name;
    TypeName type;
    std::optional<bool> nullable;  // NULL / NOT NULL when given
    bool identity = false;
    std::int64_t identitySeed = 1;
    std::int64_t identityIncrement = 1;
    ExprPtr defaultValue;          // DEFAULT (expr)
    std::string defaultText;       // the default expression's text as written, e.g. "((2884 + 919) / 100)"
    std::string defaultName;       // CONSTRAINT name DEFAULT ...
    std::string collation;         // COLLATE name
    std::vector<TableConstraint> constraints;  // inline PRIMARY KEY / UNIQUE / REFERENCES / CHECK
};

// ---- Statements --------------------------------------------------------------------------------------

enum class StatementKind {
    Select,
    Insert,
    Update,
    Delete,
    CreateTable,
    AlterTable,
    DropTable,
    CreateDatabase,
    DropDatabase,
    CreateIndex,
    DropIndex,
    CreateView,
    DropView,
    If,
    Block,
    Transaction,
    SetIdentityInsert,
    SetOption,
    Execute,
    Reconfigure,
    Use,
    Truncate,
    Declare,
    SetVariable,
    Login,
};

struct Statement {
    explicit Statement(StatementKind k) : kind(k) {}
    virtual ~Statement() = default;
    StatementKind kind;
    std::size_t offset = 0;     // first character in the batch
    std::size_t endOffset = 0;  // one past the last character
};

struct SelectStatement : Statement {
    SelectStatement() : Statement(StatementKind::Select) {}
    SelectStmt select;
};

struct InsertStatement : Statement {
    InsertStatement() : Statement(StatementKind::Insert) {}
    QualifiedName table;
    std::vector<std::string> columns;  // empty: no column list
    enum class Source { Values, Select, DefaultValues, Execute } source = Source::Values;
    std::vector<std::vector<ExprPtr>> rows;  // Values: one or more rows
    std::unique_ptr<SelectStmt> select;      // Select
    StatementPtr execute;                    // Execute: INSERT ... EXEC proc
};

struct Assignment {
    QualifiedName column;  // SET [t.]col = expr
    ExprPtr value;
};

struct UpdateStatement : Statement {
    UpdateStatement() : Statement(StatementKind::Update) {}
    ExprPtr top;
    QualifiedName table;  // the target: a table name or an alias of the FROM clause
    std::vector<Assignment> assignments;
    std::vector<TableRefPtr> from;  // UPDATE t SET ... FROM t JOIN ...
    ExprPtr where;
};

struct DeleteStatement : Statement {
    DeleteStatement() : Statement(StatementKind::Delete) {}
    ExprPtr top;
    QualifiedName table;
    std::vector<TableRefPtr> from;  // DELETE t FROM t JOIN ...
    ExprPtr where;
};

struct CreateTableStatement : Statement {
    CreateTableStatement() : Statement(StatementKind::CreateTable) {}
    QualifiedName table;
    std::vector<ColumnDef> columns;
    std::vector<TableConstraint> constraints;
    std::string filegroup;  // ON [PRIMARY]; TEXTIMAGE_ON is accepted and ignored
};

struct AlterTableStatement : Statement {
    AlterTableStatement() : Statement(StatementKind::AlterTable) {}
    enum class Action { AddColumns, AddConstraints, DropColumns, DropConstraints, AlterColumn } action =
        Action::AddColumns;
    QualifiedName table;
    bool withNoCheck = false;  // WITH NOCHECK / WITH CHECK before ADD
    std::vector<ColumnDef> columns;             // AddColumns, AlterColumn (one)
    std::vector<TableConstraint> constraints;   // AddConstraints
    std::vector<std::string> names;             // DropColumns, DropConstraints
};

struct DropTableStatement : Statement {
    DropTableStatement() : Statement(StatementKind::DropTable) {}
    bool ifExists = false;
    std::vector<QualifiedName> tables;
};

struct DatabaseFile {
    std::string name;      // NAME = N'x_dat'
    std::string fileName;  // FILENAME = N'C:\...mdf'
    std::string size;      // as written: "91", "2MB"
    std::string maxSize;
    std::string growth;    // "10%"
};

struct CreateDatabaseStatement : Statement {
    CreateDatabaseStatement() : Statement(StatementKind::CreateDatabase) {}
    std::string name;
    std::vector<DatabaseFile> dataFiles;  // ON (...) [, (...)]; PRIMARY accepted
    std::vector<DatabaseFile> logFiles;   // LOG ON (...)
    std::string collation;
    bool forAttach = false;               // FOR ATTACH: register the existing files
};

struct DropDatabaseStatement : Statement {
    DropDatabaseStatement() : Statement(StatementKind::DropDatabase) {}
    bool ifExists = false;
    std::vector<std::string> names;
};

struct CreateIndexStatement : Statement {
    CreateIndexStatement() : Statement(StatementKind::CreateIndex) {}
    bool unique = false;
    std::optional<bool> clustered;
    std::string name;
    QualifiedName table;
    std::vector<IndexColumn> columns;
    IndexOptions options;
};

struct DropIndexStatement : Statement {
    DropIndexStatement() : Statement(StatementKind::DropIndex) {}
    // DROP INDEX t.i  or  DROP INDEX i ON t
    std::string name;
    QualifiedName table;
};

struct CreateViewStatement : Statement {
    CreateViewStatement() : Statement(StatementKind::CreateView) {}
    QualifiedName view;
    std::vector<std::string> columns;
    std::string selectText;  // the text after AS, exactly as written
    std::unique_ptr<SelectStmt> select;
};

struct DropViewStatement : Statement {
    DropViewStatement() : Statement(StatementKind::DropView) {}
    bool ifExists = false;
    std::vector<QualifiedName> views;
};

struct IfStatement : Statement {
    IfStatement() : Statement(StatementKind::If) {}
    ExprPtr condition;
    StatementPtr then;
    StatementPtr otherwise;  // ELSE, may be null
};

// BEGIN ... END
struct BlockStatement : Statement {
    BlockStatement() : Statement(StatementKind::Block) {}
    std::vector<StatementPtr> statements;
};

struct TransactionStatement : Statement {
    TransactionStatement() : Statement(StatementKind::Transaction) {}
    enum class Action { Begin, Commit, Rollback } action = Action::Begin;
};

struct SetIdentityInsertStatement : Statement {
    SetIdentityInsertStatement() : Statement(StatementKind::SetIdentityInsert) {}
    QualifiedName table;
    bool on = false;
};

// SET QUOTED_IDENTIFIER ON, SET ANSI_NULLS, ANSI_WARNINGS OFF, SET DATEFORMAT dmy, SET NOCOUNT ON ...
struct SetOptionStatement : Statement {
    SetOptionStatement() : Statement(StatementKind::SetOption) {}
    std::vector<std::string> options;  // upper case
    std::string value;                 // "ON", "OFF" or the value as written
};

struct ExecArgument {
    std::string name;  // @name = value (empty when positional)
    ExprPtr value;
};

// [EXEC[UTE]] [@status =] procedure args: sp_configure 'query timeout', 0 / sp_dboption N'db', N'autoclose', N'true'
struct ExecuteStatement : Statement {
    ExecuteStatement() : Statement(StatementKind::Execute) {}
    QualifiedName procedure;
    std::vector<ExecArgument> arguments;
    std::string statusVariable;  // EXEC @status = proc: the variable given the return status
    std::size_t statusVariableOffset = 0;
};

// DECLARE @a int [= expr] [, @b nvarchar(10) ...]
struct DeclareStatement : Statement {
    DeclareStatement() : Statement(StatementKind::Declare) {}
    struct Variable {
        std::string name;  // with its @
        std::size_t offset = 0;
        TypeName type;
        ExprPtr value;  // may be null
    };
    std::vector<Variable> variables;
};

// SET @a = expr (SET @a += expr is SET @a = @a + expr)
struct SetVariableStatement : Statement {
    SetVariableStatement() : Statement(StatementKind::SetVariable) {}
    std::string name;
    std::size_t nameOffset = 0;
    ExprPtr value;
};

struct ReconfigureStatement : Statement {
    ReconfigureStatement() : Statement(StatementKind::Reconfigure) {}
    bool withOverride = false;
};

struct UseStatement : Statement {
    UseStatement() : Statement(StatementKind::Use) {}
    std::string database;
};

struct TruncateStatement : Statement {
    TruncateStatement() : Statement(StatementKind::Truncate) {}
    QualifiedName table;
};

// CREATE LOGIN name WITH PASSWORD = 'x' [, DEFAULT_DATABASE = db] [, CHECK_POLICY = ON|OFF] [, CHECK_EXPIRATION = ...]
// ALTER LOGIN name WITH PASSWORD = 'x' [OLD_PASSWORD = 'y'] [, option ...] | ALTER LOGIN name ENABLE | DISABLE
// DROP LOGIN name
// Passwords are a text literal or a variable (the server's parameters): `password` and `oldPassword`.
struct LoginStatement : Statement {
    LoginStatement() : Statement(StatementKind::Login) {}
    enum class Action { Create, Alter, Enable, Disable, Drop } action = Action::Create;
    std::string name;
    ExprPtr password;     // may be null for ALTER
    ExprPtr oldPassword;  // ALTER ... OLD_PASSWORD
    std::optional<std::string> defaultDatabase;
    std::optional<bool> checkPolicy;
    std::optional<bool> checkExpiration;
};

}  // namespace vopa::engine::sql
