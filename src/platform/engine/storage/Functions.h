#pragma once
// SQL functions and the collation the engine registers on its SQLite connection. Translated
// statements call them where SQLite's own behaviour differs from the server's: typed conversions with
// the server's errors, identity values, LIKE with [ranges], case-insensitive text, date parts.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/Checked.h"
#include "platform/engine/Convert.h"

struct sqlite3;
struct sqlite3_value;

namespace vopa::engine::storage {

// Per-statement state the functions read: conversions and identity counters are numbered by the
// translator and referred to by number in the SQL text.
struct FunctionContext {
    struct Conversion {
        SqlType from;
        SqlType to;
        ConversionMode mode = ConversionMode::Implicit;
        int style = -1;
        bool notNull = false;  // a NULL is error 515 naming the column
        bool forUpdate = false;
        std::string columnName;
        std::string tableName;  // "db.dbo.table" for messages
    };
    struct Identity {
        std::int64_t next = 1;
        std::int64_t increment = 1;
        std::int64_t last = 0;
        bool used = false;
        checked::NumericRange range;  // of the identity column's type
        bool exhausted = false;       // `next` went beyond 64 bits
    };

    std::vector<Conversion> conversions;
    std::vector<Identity> identities;
    std::int64_t now = 0;  // GETDATE() for the whole statement, as on the server

    int addConversion(Conversion c) {
        conversions.push_back(std::move(c));
        return static_cast<int>(conversions.size() - 1);
    }
    void clear() {
        conversions.clear();
        identities.clear();
    }
};

// Registers the collation VOPA_CI (case-insensitive, accent-sensitive, trailing blanks ignored) only.
void registerCollation(sqlite3* db);
// Registers the collation and every function; `context` must outlive the connection.
void registerFunctions(sqlite3* db, FunctionContext* context);

// Reads a SQLite value as a cell.
Cell cellOf(sqlite3_value* v);

// LIKE as the server matches it: % _ [abc] [a-f] [^x], case-insensitive, `escape` when not 0.
bool likeMatch(const std::string& value, const std::string& pattern, char32_t escape);

// The languages of SET LANGUAGE the engine knows: their date order, first day of the week and the
// names DATENAME gives.
struct Language {
    int code;           // argument of vopa_datename
    const char* name;   // as @@LANGUAGE gives it
    const char* alias;  // the English name SET LANGUAGE also accepts
    DateOrder dateOrder;
    int dateFirst;      // @@DATEFIRST: 7 = Sunday, 1 = Monday
};
// The language SET LANGUAGE names (by name or alias, case-insensitive); null when the engine has none.
const Language* findLanguage(std::string_view name);
const Language& defaultLanguage();

// Date parts by name (year, yy, month, mm, day, dd, hour, hh, minute, mi, second, ss, dayofyear, dy,
// weekday, dw, week, wk, millisecond, ms); -1 when the name is unknown.
int datePartCode(const std::string& name);

}  // namespace vopa::engine::storage
