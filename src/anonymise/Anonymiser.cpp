#include "Anonymiser.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <optional>

#include "platform/data/Connection.h"
#include "platform/data/DataError.h"
#include "platform/data/Recordset.h"
#include "platform/text/Text.h"
#include "util/Helpers.h"

namespace vopa::anonymise {
namespace {

// The work table of pseudonyms; made and dropped per column in the database being anonymised.
constexpr const char* kWorkTable = "[AnonimizzazioneValori]";
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

class ColumnJob {
public:
    ColumnJob(data::Connection& connection, const PersonalColumn& column, const ColumnType& type)
        : connection_(connection), column_(column), type_(type),
          name_(util::identifier(column.table) + "." + util::identifier(column.column)) {}

    // The column as the work table compares it: long text is compared as nvarchar(max).
    std::string compared() const {
        return type_.storage == Storage::LongText ? "CAST(" + name_ + " AS nvarchar(max))" : name_;
    }

    std::vector<Value> distinctValues() {
        std::shared_ptr<data::Recordset> rs = connection_.execute("SELECT DISTINCT " + compared() + " FROM " +
                                                                  util::identifier(column_.table) + " WHERE " +
                                                                  util::identifier(column_.column) + " IS NOT NULL");
        std::vector<Value> values;
        for (const std::vector<Value>& row : rs->rows().rows) values.push_back(row[0]);
        return values;
    }

    long long replace(const std::vector<std::pair<Value, Value>>& pairs) {
        if (pairs.empty()) return 0;
        const std::string type = workType();
        connection_.execute("CREATE TABLE " + std::string(kWorkTable) + " (Originale " + type + " NOT NULL, Pseudonimo " +
                            type + " NULL)");
        for (std::size_t at = 0; at < pairs.size(); at += kRowsPerInsert) {
            std::string insert = "INSERT INTO " + std::string(kWorkTable) + " (Originale, Pseudonimo) VALUES ";
            for (std::size_t i = at; i < std::min(pairs.size(), at + kRowsPerInsert); ++i)
                insert += (i == at ? "(" : ", (") + literalOf(pairs[i].first, type_.storage) + ", " +
                          literalOf(pairs[i].second, type_.storage) + ")";
            connection_.execute(insert);
        }
        if (type != "nvarchar(max)")
            connection_.execute("CREATE INDEX [AnonimizzazioneValori_Originale] ON " + std::string(kWorkTable) + " (Originale)");
        const std::string match = " FROM " + std::string(kWorkTable) + " m WHERE m.Originale = " + compared();
        std::int64_t rows = 0;
        connection_.execute("UPDATE " + util::identifier(column_.table) + " SET " + util::identifier(column_.column) +
                                " = (SELECT m.Pseudonimo" + match + ") WHERE EXISTS (SELECT 1" + match + ")",
                            &rows);
        connection_.execute("DROP TABLE " + std::string(kWorkTable));
        return rows;
    }

    // At most this many characters fit the column (0: no limit).
    std::size_t room() const {
        return type_.storage == Storage::Text && type_.length > 0 ? static_cast<std::size_t>(type_.length) : 0;
    }

private:
    std::string workType() const {
        switch (type_.storage) {
        case Storage::Date: return "datetime";
        case Storage::Number: return "float";
        case Storage::LongText: return "nvarchar(max)";
        case Storage::Text: break;
        }
        if (type_.length <= 0 || type_.length > 4000) return "nvarchar(max)";
        return type_.length <= kLongestIndexedKey ? "nvarchar(" + std::to_string(type_.length) + ")" : "nvarchar(max)";
    }

    data::Connection& connection_;
    const PersonalColumn& column_;
    ColumnType type_;
    std::string name_;
};

bool feedsOriginals(Kind kind) { return kind != Kind::Text && kind != Kind::Notes && kind != Kind::BirthDate; }

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
    const PersonalColumn* current = nullptr;
    try {
        const std::map<std::string, ColumnType> types = columnTypes(connection);
        struct Job {
            const PersonalColumn* column;
            ColumnType type;
            std::vector<Value> values;
        };
        std::vector<Job> jobs;
        for (const PersonalColumn& c : list) {
            const auto found = types.find(key(c.table, c.column));
            if (found != types.end() && kindFits(c.kind, found->second.storage)) jobs.push_back({&c, found->second, {}});
        }
        // Every original is known before the first pseudonym is drawn, so that no pseudonym is one of
        // them and free text finds them all.
        for (Job& job : jobs) {
            current = job.column;
            if (!feedsOriginals(job.column->kind)) continue;
            job.values = ColumnJob(connection, *job.column, job.type).distinctValues();
            for (const Value& v : job.values)
                pseudonyms.addOriginal(job.column->kind,
                                       job.type.storage == Storage::Number ? util::numberText(v.toDouble()) : v.toString());
        }
        std::vector<AnonymisedColumn> done;
        int index = 0;
        for (Job& job : jobs) {
            const PersonalColumn& c = *job.column;
            current = &c;
            ColumnJob column(connection, c, job.type);
            if (!feedsOriginals(c.kind)) job.values = column.distinctValues();
            std::vector<std::pair<Value, Value>> pairs;
            for (const Value& v : job.values) {
                if (job.type.storage == Storage::Date) {
                    pairs.emplace_back(v, Value::date(pseudonyms.date(v.asDate())));
                } else if (job.type.storage == Storage::Number) {
                    pairs.emplace_back(v, Value::dbl(pseudonyms.number(c.kind, v.toDouble())));
                } else {
                    const std::string original = v.toString();
                    std::string pseudonym = pseudonyms.text(c.kind, original, column.room());
                    if (pseudonym != original) pairs.emplace_back(v, Value::string(std::move(pseudonym)));
                }
            }
            job.values.clear();
            const long long rows = column.replace(pairs);
            done.push_back({c.table, c.column, c.kind, rows});
            if (progress) progress(c.table + "." + c.column, ++index, static_cast<int>(jobs.size()));
        }
        return done;
    } catch (const data::DataError& e) {
        const std::string where = current ? " di " + current->table + "." + current->column : "";
        throw AnonymisationError("Anonimizzazione" + where + " non riuscita: " + withoutQuotedValues(e.what()));
    }
}

}  // namespace vopa::anonymise
