#include "server/tds/Tokens.h"

#include <string>

#include "server/tds/Protocol.h"

namespace vopa::tds {

namespace {

constexpr std::uint8_t kInterfaceTsql = 1;

// Before 7.2 there are no (max) types: their values go as text, ntext and image.
TypeInfo forVersion(TypeInfo t, std::uint32_t tdsVersion) {
    if (tdsVersion >= version::k72 || !t.isPlp()) return t;
    const Collation collation = t.collation;
    t = t.type == TypeId::NVarChar ? TypeInfo::nText() : t.type == TypeId::BigVarChar ? TypeInfo::text() : TypeInfo::image();
    t.collation = collation;
    return t;
}

}  // namespace

Bytes TokenWriter::take() {
    Bytes b = std::move(out_);
    out_.clear();
    return b;
}

std::size_t TokenWriter::open(std::uint8_t token) {
    Writer w(out_);
    w.u8(token);
    const std::size_t at = w.size();
    w.u16(0);
    return at;
}

void TokenWriter::close(std::size_t lengthAt) {
    const std::size_t length = out_.size() - lengthAt - 2;
    if (length > 0xFFFF) throw ProtocolError("token of " + std::to_string(length) + " bytes is too long");
    Writer(out_).patchU16(lengthAt, static_cast<std::uint16_t>(length));
}

void TokenWriter::loginAck(std::string_view programName, const ProductVersion& v) {
    const std::size_t at = open(token::kLoginAck);
    Writer w(out_);
    w.u8(kInterfaceTsql);
    w.u32be(tdsVersion_);  // the version travels most significant byte first here
    w.bVarchar(programName);
    w.u8(v.major);
    w.u8(v.minor);
    w.u16be(v.build);
    close(at);
}

void TokenWriter::envText(std::uint8_t type, std::string_view newValue, std::string_view oldValue) {
    const std::size_t at = open(token::kEnvChange);
    Writer w(out_);
    w.u8(type);
    w.bVarchar(newValue);
    w.bVarchar(oldValue);
    close(at);
}

void TokenWriter::envDatabase(std::string_view newName, std::string_view oldName) {
    envText(env::kDatabase, newName, oldName);
}

void TokenWriter::envLanguage(std::string_view newName, std::string_view oldName) {
    envText(env::kLanguage, newName, oldName);
}

void TokenWriter::envPacketSize(std::uint32_t newSize, std::uint32_t oldSize) {
    envText(env::kPacketSize, std::to_string(newSize), std::to_string(oldSize));
}

void TokenWriter::envCollation(const Collation& c) {
    const std::size_t at = open(token::kEnvChange);
    Writer w(out_);
    w.u8(env::kCollation);
    w.u8(5);
    w.u32(c.info);
    w.u8(c.sortId);
    w.u8(0);  // no old value
    close(at);
}

void TokenWriter::envTransaction(std::uint8_t type, std::uint64_t descriptor) {
    const std::size_t at = open(token::kEnvChange);
    Writer w(out_);
    w.u8(type);
    if (type == env::kBeginTransaction) {
        w.u8(8);
        w.u64(descriptor);
        w.u8(0);
    } else {
        w.u8(0);
        w.u8(8);
        w.u64(descriptor);
    }
    close(at);
}

void TokenWriter::envResetConnectionAck() {
    const std::size_t at = open(token::kEnvChange);
    Writer w(out_);
    w.u8(env::kResetConnectionAck);
    w.u8(0);
    w.u8(0);
    close(at);
}

void TokenWriter::message(const ServerMessage& m) {
    const std::size_t at = open(m.severity > 10 ? token::kError : token::kInfo);
    Writer w(out_);
    w.u32(static_cast<std::uint32_t>(m.number));
    w.u8(m.state);
    w.u8(m.severity);
    w.usVarchar(m.text);
    w.bVarchar(m.serverName);
    w.bVarchar(m.procName);
    if (tdsVersion_ >= version::k72) w.u32(static_cast<std::uint32_t>(m.line));
    else w.u16(static_cast<std::uint16_t>(m.line));
    close(at);
}

void TokenWriter::colMetadata(std::vector<Column> columns) {
    if (columns.empty() || columns.size() > 4096)
        throw ProtocolError("COLMETADATA of " + std::to_string(columns.size()) + " columns");
    Writer w(out_);
    w.u8(token::kColMetadata);
    w.u16(static_cast<std::uint16_t>(columns.size()));
    for (Column& c : columns) {
        c.type = forVersion(c.type, tdsVersion_);
        if (tdsVersion_ >= version::k72) w.u32(c.userType);
        else w.u16(static_cast<std::uint16_t>(c.userType));
        w.u16(c.flags);
        writeTypeInfo(w, c.type);
        if (c.type.isLob()) {
            // The table name: one part in 7.2 and later, a plain US_VARCHAR before.
            if (tdsVersion_ >= version::k72) w.u8(1);
            w.usVarchar(c.tableName);
        }
        w.bVarchar(c.name);
    }
    columns_ = std::move(columns);
}

void TokenWriter::checkRow(std::span<const Value> values) const {
    if (values.size() != columns_.size())
        throw ProtocolError("row of " + std::to_string(values.size()) + " values for " +
                            std::to_string(columns_.size()) + " columns");
}

void TokenWriter::row(std::span<const Value> values) {
    checkRow(values);
    Writer w(out_);
    w.u8(token::kRow);
    for (std::size_t i = 0; i < values.size(); ++i) writeValue(w, columns_[i].type, values[i]);
}

void TokenWriter::nbcRow(std::span<const Value> values) {
    if (tdsVersion_ < version::k73A) throw ProtocolError("NBCROW needs TDS 7.3");
    checkRow(values);
    Writer w(out_);
    w.u8(token::kNbcRow);
    Bytes bitmap((values.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (isNullValue(values[i])) bitmap[i / 8] = static_cast<std::uint8_t>(bitmap[i / 8] | 1 << (i % 8));
    w.bytes(bitmap);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!isNullValue(values[i])) writeValue(w, columns_[i].type, values[i]);
}

void TokenWriter::doneToken(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) {
    Writer w(out_);
    w.u8(token);
    w.u16(status);
    w.u16(curCmd);
    if (tdsVersion_ >= version::k72) w.u64(rowCount);
    else w.u32(static_cast<std::uint32_t>(rowCount));
}

void TokenWriter::done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) {
    doneToken(token::kDone, status, curCmd, rowCount);
}

void TokenWriter::doneProc(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) {
    doneToken(token::kDoneProc, status, curCmd, rowCount);
}

void TokenWriter::doneInProc(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) {
    doneToken(token::kDoneInProc, status, curCmd, rowCount);
}

void TokenWriter::returnStatus(std::int32_t value) {
    Writer w(out_);
    w.u8(token::kReturnStatus);
    w.u32(static_cast<std::uint32_t>(value));
}

void TokenWriter::returnValue(std::uint16_t ordinal, std::string_view name, const TypeInfo& declared, const Value& value) {
    const TypeInfo type = forVersion(declared, tdsVersion_);
    Writer w(out_);
    w.u8(token::kReturnValue);
    w.u16(ordinal);
    w.bVarchar(name);
    w.u8(0x01);  // an output parameter
    if (tdsVersion_ >= version::k72) w.u32(0);
    else w.u16(0);
    w.u16(column::kNullable);
    writeTypeInfo(w, type);
    writeValue(w, type, value);
}

}  // namespace vopa::tds
