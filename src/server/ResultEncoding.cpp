#include "server/ResultEncoding.h"

#include <algorithm>
#include <cctype>

#include "platform/text/Text.h"
#include "server/tds/Protocol.h"

namespace vopa::server {

using engine::BaseType;
using engine::SqlType;

namespace {

int declared(int length) { return length == SqlType::kMax ? -1 : std::max(1, length); }

// The characters (bytes for binary data) of the longest value of a column.
std::size_t longestValue(const engine::ResultSet& rs, std::size_t column, bool binary) {
    std::size_t longest = 0;
    for (const auto& row : rs.rows) {
        const Value& v = row[column];
        if (tds::isNullValue(v)) continue;
        longest = std::max(longest, binary ? v.toString().size() : tds::utf16Length(v.toString()));
    }
    return longest;
}

// A column typed narrower than the values it holds (an expression whose length the engine guessed
// short) is sent as the variable-length type wide enough for them, rather than failing the result.
void widen(tds::TypeInfo& t, const engine::ResultSet& rs, std::size_t column) {
    using tds::TypeId;
    if (t.isPlp() || t.isLob()) return;
    const bool binary = t.type == TypeId::BigBinary || t.type == TypeId::BigVarBinary;
    const bool unicode = t.isUnicode();
    if (!binary && !t.isCharacter()) return;
    const std::size_t units = longestValue(rs, column, binary);
    const std::size_t bytes = unicode ? 2 * units : units;
    if (bytes <= t.maxLength) return;
    const int n = static_cast<int>(units);
    t = binary ? tds::TypeInfo::varBinary(n) : unicode ? tds::TypeInfo::nVarChar(n) : tds::TypeInfo::varChar(n);
}

std::uint16_t commandOf(std::string_view text, std::size_t offset) {
    std::size_t i = std::min(offset, text.size());
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::size_t end = i;
    while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) ++end;
    const std::string_view word = text.substr(i, end - i);
    if (text::equalsNoCase(word, "INSERT")) return tds::command::kInsert;
    if (text::equalsNoCase(word, "UPDATE")) return tds::command::kUpdate;
    if (text::equalsNoCase(word, "DELETE")) return tds::command::kDelete;
    return tds::command::kSelect;
}

// The engine gives its informational messages as text; the server's numbers for them.
int messageNumber(std::string_view text) {
    if (text.starts_with("Changed language setting to ")) return 5703;
    if (text.starts_with("Changed database context to ")) return 5701;
    if (text.starts_with("Configuration option ")) return 15457;
    return 0;
}

}  // namespace

tds::TypeInfo wireType(const SqlType& type, std::uint32_t tdsVersion) {
    using tds::TypeInfo;
    switch (type.base) {
    case BaseType::Bit: return TypeInfo::bit();
    case BaseType::TinyInt: return TypeInfo::intN(1);
    case BaseType::SmallInt: return TypeInfo::intN(2);
    case BaseType::Int: return TypeInfo::intN(4);
    case BaseType::BigInt: return TypeInfo::intN(8);
    case BaseType::Real: return TypeInfo::floatN(4);
    case BaseType::Float: return TypeInfo::floatN(8);
    case BaseType::SmallMoney: return TypeInfo::smallMoney();
    case BaseType::Money: return TypeInfo::money();
    case BaseType::Decimal:
    case BaseType::Numeric: {
        const int precision = std::clamp(type.precision, 1, 38);
        TypeInfo t = TypeInfo::decimal(precision, std::clamp(type.scale, 0, precision));
        if (type.base == BaseType::Numeric) t.type = tds::TypeId::NumericN;
        return t;
    }
    case BaseType::SmallDateTime: return TypeInfo::smallDateTime();
    case BaseType::DateTime: return TypeInfo::dateTime();
    // The date type travels as date from TDS 7.3 on; older clients know no date and get a datetime at
    // midnight.
    case BaseType::Date: return tdsVersion >= tds::version::k73A ? TypeInfo::date() : TypeInfo::dateTime();
    case BaseType::Char:
        return type.length == SqlType::kMax || type.length > 8000 ? TypeInfo::varChar(-1) : TypeInfo::fixedChar(declared(type.length));
    case BaseType::VarChar: return TypeInfo::varChar(declared(type.length));
    case BaseType::Text: return TypeInfo::text();
    case BaseType::NChar:
        return type.length == SqlType::kMax || type.length > 4000 ? TypeInfo::nVarChar(-1) : TypeInfo::nChar(declared(type.length));
    case BaseType::NVarChar: return TypeInfo::nVarChar(declared(type.length));
    case BaseType::NText: return TypeInfo::nText();
    case BaseType::Binary:
        return type.length == SqlType::kMax || type.length > 8000 ? TypeInfo::varBinary(-1) : TypeInfo::binary(declared(type.length));
    case BaseType::VarBinary: return TypeInfo::varBinary(declared(type.length));
    case BaseType::Image: return TypeInfo::image();
    case BaseType::UniqueIdentifier: return TypeInfo::guid();
    }
    return TypeInfo::intN(4);
}

int lineAt(std::string_view text, std::size_t offset) {
    const auto end = text.begin() + static_cast<std::ptrdiff_t>(std::min(offset, text.size()));
    return 1 + static_cast<int>(std::count(text.begin(), end, '\n'));
}

tds::ServerMessage ResultEncoder::message(const engine::EngineError& error, int line) const {
    tds::ServerMessage m;
    m.number = error.number();
    m.state = static_cast<std::uint8_t>(std::clamp(error.state(), 0, 255));
    m.severity = static_cast<std::uint8_t>(std::clamp(error.severity(), 0, 25));
    m.text = error.what();
    m.serverName = serverName_;
    m.line = std::max(1, line);
    return m;
}

tds::ServerMessage ResultEncoder::info(int number, std::string text) const {
    tds::ServerMessage m;
    m.number = number;
    m.severity = 0;
    m.text = std::move(text);
    m.serverName = serverName_;
    return m;
}

void ResultEncoder::writeResultSet(tds::TokenWriter& w, const engine::ResultSet& rs) const {
    std::vector<tds::Column> columns;
    for (std::size_t i = 0; i < rs.columns.size(); ++i) {
        const engine::ResultColumn& c = rs.columns[i];
        tds::Column column;
        column.name = c.name;
        column.type = wireType(c.type, tdsVersion_);
        widen(column.type, rs, i);
        column.flags = c.nullable ? tds::column::kNullable : 0;
        column.tableName = rs.baseTable;
        columns.push_back(std::move(column));
    }
    w.colMetadata(std::move(columns));
    for (const auto& row : rs.rows) {
        if (tdsVersion_ >= tds::version::k73A) w.nbcRow(row);
        else w.row(row);
    }
}

std::vector<StatementPiece> ResultEncoder::encode(const std::vector<engine::StatementOutcome>& outcomes,
                                                  const ShownText& shown, tds::Bytes& trailing,
                                                  std::optional<engine::ResultSet>* hiddenResult) const {
    std::vector<StatementPiece> pieces;
    tds::TokenWriter pending(tdsVersion_);  // messages waiting for the next piece
    const int firstLine = lineAt(shown.text, shown.clientStart);
    for (const engine::StatementOutcome& o : outcomes) {
        const bool ours = o.offset < shown.clientStart || o.offset >= shown.clientEnd;
        const int line = lineAt(shown.text, o.offset) - firstLine + 1;
        for (const std::string& text : o.messages) pending.message(info(messageNumber(text), text));
        if (o.error) {
            pending.message(message(*o.error, line));
            for (const engine::EngineError& e : o.followingErrors) pending.message(message(e, line));
            pieces.push_back({pending.take(), tds::done::kError, commandOf(shown.text, o.offset), 0});
            continue;
        }
        if (ours) {
            if (o.offset >= shown.clientEnd && hiddenResult && o.resultSet) *hiddenResult = o.resultSet;
            continue;
        }
        if (o.resultSet && !o.resultSet->columns.empty()) {
            tds::TokenWriter w(tdsVersion_);
            try {
                writeResultSet(w, *o.resultSet);
            } catch (const tds::ProtocolError& e) {
                // A value the wire cannot carry fails this statement, not the connection.
                pending.message(message(engine::EngineError(engine::err::InternalError,
                                                            std::string("The result cannot be sent: ") + e.what()),
                                         line));
                pieces.push_back({pending.take(), tds::done::kError, tds::command::kSelect, 0});
                continue;
            }
            tds::Bytes tokens = pending.take();
            const tds::Bytes rows = w.take();
            tokens.insert(tokens.end(), rows.begin(), rows.end());
            pieces.push_back({std::move(tokens), tds::done::kCount, tds::command::kSelect, o.resultSet->rows.size()});
        } else if (o.rowsAffected >= 0) {
            pieces.push_back({pending.take(), tds::done::kCount, commandOf(shown.text, o.offset),
                              static_cast<std::uint64_t>(o.rowsAffected)});
        }
    }
    trailing = pending.take();
    return pieces;
}

}  // namespace vopa::server
