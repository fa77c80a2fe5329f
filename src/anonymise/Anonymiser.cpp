#include "Anonymiser.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <unordered_map>

#include "platform/data/Connection.h"
#include "platform/data/DataError.h"
#include "platform/data/Recordset.h"
#include "platform/text/Text.h"
#include "util/Helpers.h"

namespace vopa::anonymise {
namespace {

// Rows per INSERT: SQL Server takes at most 1,000 rows in one VALUES list.
constexpr std::size_t kRowsPerInsert = 500;
// Longest key SQL Server indexes (900 bytes of nvarchar).
constexpr long long kLongestIndexedKey = 450;

enum class Storage { Text, LongText, Date, Number };

struct ColumnType {
    Storage storage = Storage::Text;
    long long length = 0;  // characters; 0 or -1: no limit given
};

std::optional<Storage> storageOf(const std::string& dataType) {
    const std::string t = text::toLower(dataType);
    if (t == "char" || t == "varchar" || t == "nchar" || t == "nvarchar") return Storage::Text;
    if (t == "text" || t == "ntext") return Storage::LongText;
    if (t == "datetime" || t == "smalldatetime" || t == "date" || t == "datetime2") return Storage::Date;
    if (t == "float" || t == "real" || t == "int" || t == "bigint" || t == "smallint" || t == "decimal" || t == "numeric")
        return Storage::Number;
    return std::nullopt;
}

bool kindFits(Kind kind, Storage storage) {
    if (kind == Kind::BirthDate) return storage == Storage::Date;
    if (storage == Storage::Number) return kind == Kind::Abi || kind == Kind::Cab;
    return storage == Storage::Text || storage == Storage::LongText;
}

std::string key(std::string_view table, std::string_view column) {
    return text::toLower(table) + "." + text::toLower(column);
}

// The listed columns the database has, with their types.
std::map<std::string, ColumnType> columnTypes(data::Connection& connection) {
    std::map<std::string, ColumnType> types;
    std::shared_ptr<data::Recordset> rs = connection.execute(
        "SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH FROM INFORMATION_SCHEMA.COLUMNS");
    for (const std::vector<Value>& row : rs->rows().rows) {
        const std::optional<Storage> storage = storageOf(row[2].toString());
        if (!storage) continue;
        ColumnType type{*storage, row[3].isNull() ? 0 : static_cast<long long>(row[3].toDouble())};
        types.emplace(key(row[0].toString(), row[1].toString()), type);
    }
    return types;
}

std::string dateLiteral(const DateTime& d) {
    char text[64];
    std::snprintf(text, sizeof text, "CONVERT(datetime, '%04d-%02d-%02dT%02d:%02d:%02d.%03d', 126)", d.year(), d.month(),
                  d.day(), d.hour(), d.minute(), d.second(), static_cast<int>(((d.millis % 1000) + 1000) % 1000));
    return text;
}

std::string literalOf(const Value& v, Storage storage) {
    switch (storage) {
    case Storage::Date: return dateLiteral(v.asDate());
    case Storage::Number: return util::numberText(v.toDouble());
    default: return util::unicodeLiteral(v.toString());
    }
}

bool feedsOriginals(Kind kind) { return kind != Kind::Text && kind != Kind::Notes && kind != Kind::BirthDate; }

// A row's value in a column read by row: the index of its distinct value, or none (NULL or blank).
constexpr std::uint32_t kNoValue = UINT32_MAX;

// A listed column the database has, its distinct values, and what replaces them.
struct Column {
    const PersonalColumn* listed = nullptr;
    ColumnType type;
    int number = 0;  // its key in the work tables of values
    std::vector<std::pair<Value, long long>> values;  // distinct values, exactly as written, with their rows
    std::vector<std::uint32_t> valueOfRow;             // read by row: each row's value
    std::vector<std::string> replacement;              // per value: the pseudonym's literal; empty: it stays
    long long rows = 0;                                // rows whose value changes

    bool longText() const {
        return type.storage == Storage::LongText ||
               (type.storage == Storage::Text && (type.length <= 0 || type.length > kLongestIndexedKey));
    }
    // At most this many characters fit the column (0: no limit).
    std::size_t room() const {
        return type.storage == Storage::Text && type.length > 0 ? static_cast<std::size_t>(type.length) : 0;
    }
};

struct Table {
    std::string name;
    std::string identity;  // its identity column; empty: none
    // Replaced by row: the new values go into a work table keyed by the rows' identities, and one join
    // on that integer puts them in place. Otherwise by value: the pseudonyms of the distinct values are
    // looked up by value, through the server's case-insensitive comparison.
    bool byRow = false;
    std::vector<std::int64_t> rowIds;
    std::vector<Column> columns;
};

// The work tables of the tables replaced by value, one per kind of value; a column's rows carry its
// number. Short texts, dates and numbers are indexed on (Colonna, Originale); long texts cannot be.
struct WorkTable {
    const char* name;
    const char* valueType;      // of the originals
    const char* pseudonymType;  // of the pseudonyms (also in the work table of a table replaced by row)
    bool indexed;
};
constexpr WorkTable kTexts{"[AnonimizzazioneTesti]", "nvarchar(450)", "nvarchar(4000)", true};
constexpr WorkTable kLongTexts{"[AnonimizzazioneTestiLunghi]", "nvarchar(max)", "nvarchar(max)", false};
constexpr WorkTable kDates{"[AnonimizzazioneDate]", "datetime", "datetime", true};
constexpr WorkTable kNumbers{"[AnonimizzazioneNumeri]", "float", "float", true};
// The work table of a table replaced by row: its rows' identities and their new values, one column each.
constexpr const char* kRows = "[AnonimizzazioneRighe]";

const WorkTable& workTableOf(const Column& c) {
    if (c.longText()) return kLongTexts;
    if (c.type.storage == Storage::Date) return kDates;
    if (c.type.storage == Storage::Number) return kNumbers;
    return kTexts;
}

// The column as it is read: long text as nvarchar(max).
std::string compared(const std::string& table, const Column& c) {
    const std::string name = util::identifier(table) + "." + util::identifier(c.listed->column);
    return c.longText() ? "CAST(" + name + " AS nvarchar(max))" : name;
}

// The identity column of each table that has one.
std::map<std::string, std::string> identityColumns(data::Connection& connection) {
    std::map<std::string, std::string> identities;
    const std::shared_ptr<data::Recordset> rs = connection.execute(
        "SELECT o.name, c.name FROM sys.columns c INNER JOIN sys.objects o ON o.object_id = c.object_id "
        "WHERE c.is_identity = 1");
    for (const std::vector<Value>& row : rs->rows().rows) identities[text::toLower(row[0].toString())] = row[1].toString();
    return identities;
}

// The listed tables that hold rows, in one statement.
std::vector<bool> tablesWithRows(data::Connection& connection, const std::vector<Table>& tables) {
    std::vector<bool> filled(tables.size(), false);
    for (std::size_t at = 0; at < tables.size(); at += 100) {
        std::string query;
        for (std::size_t i = at; i < std::min(tables.size(), at + 100); ++i)
            query += (i == at ? "" : " UNION ALL ") + std::string("SELECT ") + std::to_string(i) +
                     " AS n, COUNT(*) AS r FROM (SELECT TOP 1 1 AS x FROM " + util::identifier(tables[i].name) + ") AS z";
        const std::shared_ptr<data::Recordset> rs = connection.execute(query);
        for (const std::vector<Value>& row : rs->rows().rows)
            if (row[1].toDouble() > 0) filled[static_cast<std::size_t>(row[0].toDouble())] = true;
    }
    return filled;
}

// Reads a table's listed columns in one pass and keeps each column's distinct values (exactly as they
// are written) with their rows, and for a table replaced by row each row's identity and values. No
// sorting by the server: the comparison of its collation is what costs on a large table.
void readValues(data::Connection& connection, Table& table) {
    const std::size_t first = table.identity.empty() ? 0 : 1;
    std::string select = table.identity.empty() ? "" : util::identifier(table.identity);
    for (const Column& c : table.columns) select += (select.empty() ? "" : ", ") + compared(table.name, c);
    std::shared_ptr<data::Recordset> rs = connection.execute("SELECT " + select + " FROM " + util::identifier(table.name));
    const std::vector<std::vector<Value>>& rows = rs->rows().rows;
    if (first) {
        table.rowIds.reserve(rows.size());
        for (const std::vector<Value>& row : rows) table.rowIds.push_back(static_cast<std::int64_t>(row[0].toDouble()));
        // An identity is not unique until the keys are made: a table whose identities repeat is replaced
        // by value, so that no row takes another's values.
        std::vector<std::int64_t> sorted = table.rowIds;
        std::sort(sorted.begin(), sorted.end());
        table.byRow = std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
    }
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        Column& c = table.columns[i];
        if (table.byRow) c.valueOfRow.assign(rows.size(), kNoValue);
        // Texts are keyed by a view of the value read (the rows outlive the map), dates by their
        // milliseconds, numbers by their text.
        std::unordered_map<std::string_view, std::uint32_t> distinct;
        std::deque<std::string> keys;  // the keys that are not a text value read
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const Value& v = rows[r][first + i];
            if (v.isNull() || v.isEmpty()) continue;
            std::string_view key;
            if (c.type.storage == Storage::Date) key = keys.emplace_back(std::to_string(v.asDate().millis));
            else if (c.type.storage == Storage::Number) key = keys.emplace_back(util::numberText(v.toDouble()));
            else if (v.kind() == Value::Kind::String) key = v.asString();
            else key = keys.emplace_back(v.toString());
            const auto [found, added] = distinct.try_emplace(key, static_cast<std::uint32_t>(c.values.size()));
            if (added) c.values.emplace_back(v, 0);
            else if (!keys.empty() && key.data() == keys.back().data()) keys.pop_back();
            ++c.values[found->second].second;
            if (table.byRow) c.valueOfRow[r] = found->second;
        }
    }
}

void computePseudonyms(Column& c, Pseudonyms& pseudonyms) {
    c.replacement.assign(c.values.size(), std::string());
    for (std::size_t i = 0; i < c.values.size(); ++i) {
        const Value& v = c.values[i].first;
        Value pseudonym;
        if (c.type.storage == Storage::Date) {
            pseudonym = Value::date(pseudonyms.date(v.asDate()));
        } else if (c.type.storage == Storage::Number) {
            pseudonym = Value::dbl(pseudonyms.number(c.listed->kind, v.toDouble()));
        } else {
            const std::string original = v.toString();
            std::string text = pseudonyms.text(c.listed->kind, original, c.room());
            if (text == original) continue;
            pseudonym = Value::string(std::move(text));
        }
        c.replacement[i] = literalOf(pseudonym, c.type.storage);
        c.rows += c.values[i].second;
    }
}

// Runs `INSERT INTO work (columns) VALUES` over `rows`, at most kRowsPerInsert rows a statement.
void insertRows(data::Connection& connection, const std::string& insert, const std::vector<std::string>& rows) {
    for (std::size_t at = 0; at < rows.size(); at += kRowsPerInsert) {
        std::string statement = insert;
        for (std::size_t i = at; i < std::min(rows.size(), at + kRowsPerInsert); ++i)
            statement += (i == at ? "" : ", ") + rows[i];
        connection.execute(statement);
    }
}

// Puts the pseudonyms of the columns replaced by value into the work tables, each kind of value in its
// own; returns the work tables made.
std::vector<const WorkTable*> fillWorkTables(data::Connection& connection, const std::vector<Table>& tables) {
    std::vector<const WorkTable*> made;
    for (const WorkTable* work : {&kTexts, &kLongTexts, &kDates, &kNumbers}) {
        std::vector<std::string> rows;
        for (const Table& t : tables) {
            if (t.byRow) continue;
            for (const Column& c : t.columns) {
                if (&workTableOf(c) != work) continue;
                for (std::size_t i = 0; i < c.values.size(); ++i)
                    if (!c.replacement[i].empty())
                        rows.push_back("(" + std::to_string(c.number) + ", " +
                                       literalOf(c.values[i].first, c.type.storage) + ", " + c.replacement[i] + ")");
            }
        }
        if (rows.empty()) continue;
        connection.execute("CREATE TABLE " + std::string(work->name) + " (Colonna int NOT NULL, Originale " +
                           work->valueType + " NOT NULL, Pseudonimo " + work->pseudonymType + " NULL)");
        made.push_back(work);
        insertRows(connection, "INSERT INTO " + std::string(work->name) + " (Colonna, Originale, Pseudonimo) VALUES ", rows);
        if (work->indexed)
            connection.execute("CREATE INDEX [" + std::string(work->name).substr(1, std::strlen(work->name) - 2) +
                               "_Chiave] ON " + work->name + " (Colonna, Originale)");
    }
    return made;
}

// Replaces a table's values by value: one UPDATE for its short texts, dates and numbers, one per long
// text.
void replaceByValue(data::Connection& connection, const Table& table) {
    const std::string name = util::identifier(table.name);
    std::string sets, where;
    int changing = 0;
    auto match = [&](const Column& c) {
        return " FROM " + std::string(workTableOf(c).name) + " m WHERE m.Colonna = " + std::to_string(c.number) +
               " AND m.Originale = " + compared(table.name, c);
    };
    for (const Column& c : table.columns) {
        if (c.rows == 0) continue;
        const std::string column = util::identifier(c.listed->column);
        // TOP 1: a value the server holds equal to another (other case, blanks after it) is in the work
        // table under each spelling, and both give the same pseudonym.
        const std::string set = column + " = COALESCE((SELECT TOP 1 m.Pseudonimo" + match(c) + "), " + name + "." + column + ")";
        const std::string exists = "EXISTS (SELECT 1" + match(c) + ")";
        if (c.longText()) {
            connection.execute("UPDATE " + name + " SET " + set + " WHERE " + exists);
            continue;
        }
        sets += (sets.empty() ? "" : ", ") + set;
        where = exists;
        ++changing;
    }
    // One column: only its rows are written. Several: every row is, as the server's plans for a chain
    // of ORed EXISTS cost far more than rewriting rows whose other values stay as they are.
    if (changing == 1) connection.execute("UPDATE " + name + " SET " + sets + " WHERE " + where);
    else if (changing > 1) connection.execute("UPDATE " + name + " SET " + sets);
}

// Replaces a table's values by row: the rows that change, with their new values (NULL where a value
// stays), go into a work table keyed by identity; one UPDATE joined to it on that integer puts the short
// values in place, one per long text those of its column.
void replaceByRow(data::Connection& connection, const Table& table) {
    std::vector<const Column*> changing;
    for (const Column& c : table.columns)
        if (c.rows > 0) changing.push_back(&c);
    if (changing.empty()) return;
    std::string create = std::string("CREATE TABLE ") + kRows + " (Riga bigint NOT NULL PRIMARY KEY";
    std::string insert = std::string("INSERT INTO ") + kRows + " (Riga";
    for (std::size_t i = 0; i < changing.size(); ++i) {
        create += ", V" + std::to_string(i + 1) + " " + workTableOf(*changing[i]).pseudonymType + " NULL";
        insert += ", V" + std::to_string(i + 1);
    }
    std::vector<std::string> rows;
    for (std::size_t r = 0; r < table.rowIds.size(); ++r) {
        std::string row;
        bool changes = false;
        for (const Column* c : changing) {
            const std::uint32_t value = c->valueOfRow[r];
            const std::string* pseudonym = value == kNoValue ? nullptr : &c->replacement[value];
            if (pseudonym && !pseudonym->empty()) {
                row += ", " + *pseudonym;
                changes = true;
            } else {
                row += ", NULL";
            }
        }
        if (changes) rows.push_back("(" + std::to_string(table.rowIds[r]) + row + ")");
    }
    connection.execute(create + ")");
    insertRows(connection, insert + ") VALUES ", rows);
    // The target beside the work table, joined by the WHERE clause: the form of UPDATE ... FROM that
    // both servers run as a join of the work table's rows to the table's.
    const std::string name = util::identifier(table.name);
    const std::string join = std::string(" FROM ") + kRows + " w WHERE w.Riga = " + name + "." + util::identifier(table.identity);
    std::string sets;
    for (std::size_t i = 0; i < changing.size(); ++i) {
        const std::string column = util::identifier(changing[i]->listed->column);
        const std::string value = "w.V" + std::to_string(i + 1);
        if (changing[i]->longText())
            connection.execute("UPDATE " + name + " SET " + column + " = " + value + join + " AND " + value + " IS NOT NULL");
        else
            sets += (sets.empty() ? "" : ", ") + column + " = COALESCE(" + value + ", " + name + "." + column + ")";
    }
    if (!sets.empty()) connection.execute("UPDATE " + name + " SET " + sets + join);
    connection.execute(std::string("DROP TABLE ") + kRows);
}

}  // namespace

std::string withoutQuotedValues(const std::string& text) {
    auto letter = [&](std::size_t at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        return std::isalnum(c) || c >= 0x80;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t end = std::string::npos;
        if (text[i] == '(') {
            end = text.find(')', i + 1);
        } else if (text[i] == '\'' && (i == 0 || !letter(i - 1))) {
            // A quoted value, not an apostrophe ("dell'azienda"): it closes before a non-letter.
            for (std::size_t j = text.find('\'', i + 1); j != std::string::npos; j = text.find('\'', j + 1)) {
                if (j + 1 < text.size() && text[j + 1] == '\'') {
                    ++j;  // a doubled quote inside the value
                    continue;
                }
                if (j + 1 == text.size() || !letter(j + 1)) {
                    end = j;
                    break;
                }
            }
        }
        if (end == std::string::npos) {
            out += text[i];
            continue;
        }
        out += text[i];
        out += "…";
        out += text[end];
        i = end;
    }
    return out;
}

std::vector<AnonymisedColumn> anonymiseDatabase(data::Connection& connection, Pseudonyms& pseudonyms,
                                                const std::vector<PersonalColumn>& list, const ColumnProgress& progress) {
    const std::string* current = nullptr;
    std::vector<const WorkTable*> workTables;
    try {
        const std::map<std::string, ColumnType> types = columnTypes(connection);
        const std::map<std::string, std::string> identities = identityColumns(connection);
        std::vector<Table> tables;
        int number = 0;
        for (const PersonalColumn& listed : list) {
            const auto found = types.find(key(listed.table, listed.column));
            if (found == types.end() || !kindFits(listed.kind, found->second.storage)) continue;
            auto table = std::find_if(tables.begin(), tables.end(),
                                      [&](const Table& t) { return text::equalsNoCase(t.name, listed.table); });
            if (table == tables.end()) {
                const auto identity = identities.find(text::toLower(listed.table));
                table = tables.insert(tables.end(),
                                      Table{listed.table, identity == identities.end() ? "" : identity->second, false, {}, {}});
            }
            Column column;
            column.listed = &listed;
            column.type = found->second;
            column.number = ++number;
            table->columns.push_back(column);
        }
        const std::vector<bool> filled = tablesWithRows(connection, tables);
        for (std::size_t i = 0; i < tables.size(); ++i) {
            current = &tables[i].name;
            if (filled[i]) readValues(connection, tables[i]);
        }
        current = nullptr;
        // Every original is known before the first pseudonym is drawn, so that no pseudonym is one of
        // them and free text finds them all.
        for (const Table& t : tables)
            for (const Column& c : t.columns)
                if (feedsOriginals(c.listed->kind))
                    for (const auto& [v, rows] : c.values)
                        pseudonyms.addOriginal(c.listed->kind,
                                               c.type.storage == Storage::Number ? util::numberText(v.toDouble()) : v.toString());
        for (Table& t : tables)
            for (Column& c : t.columns) computePseudonyms(c, pseudonyms);
        workTables = fillWorkTables(connection, tables);
        std::vector<AnonymisedColumn> done;
        int index = 0;
        for (const Table& t : tables) {
            current = &t.name;
            if (t.byRow) replaceByRow(connection, t);
            else replaceByValue(connection, t);
            for (const Column& c : t.columns) done.push_back({c.listed->table, c.listed->column, c.listed->kind, c.rows});
            if (progress) progress(t.name, ++index, static_cast<int>(tables.size()));
        }
        current = nullptr;
        for (const WorkTable* work : workTables) connection.execute("DROP TABLE " + std::string(work->name));
        return done;
    } catch (const data::DataError& e) {
        const std::string where = current ? " della tabella " + *current : "";
        throw AnonymisationError("Anonimizzazione" + where + " non riuscita: " + withoutQuotedValues(e.what()));
    }
}

}  // namespace vopa::anonymise
