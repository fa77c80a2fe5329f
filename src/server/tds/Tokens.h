#pragma once
// The server's token stream: each call appends one token to the message being built. The writer knows
// the session's TDS version (line numbers, row counts and user types grow in 7.2; NBCROW comes in 7.3)
// and the columns of the last COLMETADATA, which ROW and NBCROW encode their values by.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value/Value.h"
#include "server/tds/Prelogin.h"
#include "server/tds/Types.h"
#include "server/tds/Wire.h"

namespace vopa::tds {

namespace column {
inline constexpr std::uint16_t kNullable = 0x0001;
inline constexpr std::uint16_t kCaseSensitive = 0x0002;
inline constexpr std::uint16_t kUpdatable = 0x0008;  // read/write
inline constexpr std::uint16_t kIdentity = 0x0010;
inline constexpr std::uint16_t kComputed = 0x0020;
}  // namespace column

struct Column {
    std::string name;
    TypeInfo type;
    std::uint16_t flags = column::kNullable;
    std::uint32_t userType = 0;
    std::string tableName;  // text, ntext and image name the table they come from
};

// An error or informational message. Class (severity) 10 and below is informational (INFO), above is
// an error (ERROR).
struct ServerMessage {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 0;
    std::string text;
    std::string serverName;
    std::string procName;
    std::int32_t line = 1;
};

// CurCmd values of DONE tokens for the usual statements.
namespace command {
inline constexpr std::uint16_t kSelect = 0xC1;
inline constexpr std::uint16_t kInsert = 0xC3;
inline constexpr std::uint16_t kDelete = 0xC4;
inline constexpr std::uint16_t kUpdate = 0xC5;
inline constexpr std::uint16_t kExecute = 0xE0;
}  // namespace command

class TokenWriter {
public:
    explicit TokenWriter(std::uint32_t tdsVersion) : tdsVersion_(tdsVersion) {}

    std::uint32_t tdsVersion() const { return tdsVersion_; }
    const Bytes& bytes() const { return out_; }
    Bytes take();  // the tokens so far; the writer starts a new message (the columns stay)

    void loginAck(std::string_view programName, const ProductVersion& programVersion);
    void envDatabase(std::string_view newName, std::string_view oldName);
    void envLanguage(std::string_view newName, std::string_view oldName);
    void envPacketSize(std::uint32_t newSize, std::uint32_t oldSize);
    void envCollation(const Collation& collation);
    void envResetConnectionAck();
    // A transaction begun (the descriptor as the new value), committed or rolled back (as the old one).
    void envTransaction(std::uint8_t type, std::uint64_t descriptor);
    // ERROR for severity above 10, INFO otherwise.
    void message(const ServerMessage& m);
    // Before 7.2 a (max) column is sent as text, ntext or image.
    void colMetadata(std::vector<Column> columns);
    void row(std::span<const Value> values);
    void nbcRow(std::span<const Value> values);  // 7.3 and later: NULLs in a bitmap instead of the row
    void done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);
    void doneProc(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);
    void doneInProc(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);
    void returnStatus(std::int32_t value);
    void returnValue(std::uint16_t ordinal, std::string_view name, const TypeInfo& type, const Value& value);

private:
    void doneToken(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);
    void envText(std::uint8_t type, std::string_view newValue, std::string_view oldValue);
    // Opens a token with a USHORT length; close() writes the length.
    std::size_t open(std::uint8_t token);
    void close(std::size_t lengthAt);
    void checkRow(std::span<const Value> values) const;

    std::uint32_t tdsVersion_;
    Bytes out_;
    std::vector<Column> columns_;
};

}  // namespace vopa::tds
