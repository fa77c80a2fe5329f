#pragma once
// What a provider gives back: result sets with their columns and the server's types, each statement's
// outcome and the server's errors. The embedded engine's provider converts its own results into these;
// the ODBC provider builds them from what the driver returns.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value/Value.h"

namespace vopa::data {

// A column's type as the server names it, with its length, precision and scale.
struct ColumnType {
    enum class Kind {
        Bit,
        TinyInt,
        SmallInt,
        Int,
        BigInt,
        Real,
        Float,
        SmallMoney,
        Money,
        Decimal,
        Numeric,
        SmallDateTime,
        DateTime,
        Date,
        Char,
        VarChar,
        Text,
        NChar,
        NVarChar,
        NText,
        Binary,
        VarBinary,
        Image,
        UniqueIdentifier,
    };
    static constexpr int kMax = -2;  // varchar(max)

    Kind kind = Kind::Int;
    int length = 0;     // characters (or bytes) of string and binary types; kMax for (max)
    int precision = 0;  // decimal/numeric, money
    int scale = 0;      // decimal/numeric; 4 for money

    // text, ntext and image: values the server cannot compare.
    bool isLob() const { return kind == Kind::Text || kind == Kind::NText || kind == Kind::Image; }

    friend bool operator==(const ColumnType&, const ColumnType&) = default;
};

struct Column {
    std::string name;
    ColumnType type;
    bool nullable = true;
    int baseColumnId = 0;  // the column of the base table it reads, 0 when computed
};

struct ResultSet {
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;

    // Set when the rows come straight from one table (no join, grouping or DISTINCT): the table and
    // each row's identity in it, so that a row can be updated or deleted exactly.
    std::string baseDatabase;
    std::string baseTable;
    std::vector<std::int64_t> rowIds;

    bool updatable() const { return !baseTable.empty(); }
    int columnIndex(std::string_view name) const;  // case-insensitive; -1 when absent
};

// An error the server reported for a statement: its message number, severity (class), state and text.
struct ServerError {
    int number = 0;
    int severity = 16;
    int state = 1;
    std::string message;
};

struct StatementOutcome {
    std::size_t offset = 0;                // where the statement starts in the batch
    std::optional<ResultSet> resultSet;    // a SELECT's rows
    std::int64_t rowsAffected = -1;        // INSERT/UPDATE/DELETE; -1 for other statements
    std::vector<std::string> messages;     // informational messages (e.g. sp_configure's)
    std::optional<ServerError> error;
    // What the server sends after the error: "The statement has been terminated." (3621, severity 0,
    // printed as plain text) and errors that follow the first (1750 after a refused key or index).
    std::vector<ServerError> followingErrors;
};

}  // namespace vopa::data
