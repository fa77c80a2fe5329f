// The TDS codec against byte sequences written out from the protocol's layouts, where the clients of the
// server tests (every connection a PRELOGIN, a LOGIN7 and batches) do not reach: the assembler's flags,
// the encryption choice, requests and values no driver there sends, the bytes of every type written,
// and malformed input refused with a ProtocolError.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "server/tds/Login7.h"
#include "server/tds/Packet.h"
#include "server/tds/Prelogin.h"
#include "server/tds/Protocol.h"
#include "server/tds/Requests.h"
#include "server/tds/Tokens.h"

using namespace vopa;
using namespace vopa::tds;

namespace {

// "12 01 00 2F" -> bytes; spaces and '|' separate.
Bytes hex(const std::string& text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Value date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return Value::date(DateTime::fromParts(y, mo, d, h, mi, s, ms));
}

Value decimal(const char* text) {
    Decimal d;
    EXPECT_TRUE(Decimal::parse(text, d)) << text;
    return Value::decimal(d);
}

// ALL_HEADERS with a transaction descriptor of 0 and one outstanding request, as every 7.2+ client sends.
const std::string kHeaders = "16 00 00 00 | 12 00 00 00 02 00 | 00 00 00 00 00 00 00 00 | 01 00 00 00";
const std::string kCollation = "09 04 D0 00 34";  // SQL_Latin1_General_CP1_CI_AS

// A 7.4 LOGIN7 as tsql sends it: host "h", user "sa", password "Pw1!" (obfuscated), app "tsql", library
// "FreeTDS", database "FUZZ", and a feature list (UTF-8 support) that the Extension field points at.
const std::string kLogin74 =
    "95 00 00 00 | 04 00 00 74 | 00 10 00 00 | 07 00 00 00 | 92 10 00 00 | 00 00 00 00 | E0 03 00 10"
    " | 00 00 00 00 | 09 04 00 00"
    " | 5E 00 01 00 | 60 00 02 00 | 64 00 04 00 | 6C 00 04 00 | 74 00 00 00 | 74 00 04 00 | 78 00 07 00"
    " | 86 00 00 00 | 86 00 04 00 | 01 02 03 04 05 06 | 95 00 00 00 | 95 00 00 00 | 95 00 00 00 | 00 00 00 00"
    " | 68 00 | 73 00 61 00 | A0 A5 D2 A5 B6 A5 B7 A5 | 74 00 73 00 71 00 6C 00 | 8E 00 00 00"
    " | 46 00 72 00 65 00 65 00 54 00 44 00 53 00 | 46 00 55 00 5A 00 5A 00 | 0A 01 00 00 00 01 FF";

}  // namespace

TEST(TdsPackets, AssemblerJoinsPacketsArrivingInAnyPieces) {
    // A two-packet batch, a RESETCONNECTION batch, an ignored message and an attention, fed byte by byte.
    const Bytes stream = hex(
        "01 00 00 0A 00 00 01 00 41 00 | 01 01 00 0A 00 00 02 00 42 00"
        " | 01 09 00 0A 00 00 01 00 43 00 | 01 03 00 0A 00 00 01 00 44 00 | 06 01 00 08 00 00 01 00");
    MessageAssembler a;
    for (std::uint8_t b : stream) a.feed(ByteView(&b, 1));
    ASSERT_TRUE(a.hasMessage());
    Message m = a.next();
    EXPECT_EQ(m.type, PacketType::SqlBatch);
    EXPECT_EQ(m.payload, hex("41 00 42 00"));
    EXPECT_FALSE(m.resetConnection());
    m = a.next();
    EXPECT_TRUE(m.resetConnection());
    EXPECT_EQ(m.payload, hex("43 00"));
    m = a.next();
    EXPECT_EQ(m.type, PacketType::Attention);
    EXPECT_TRUE(m.payload.empty());
    EXPECT_FALSE(a.hasMessage());
}

// A client's packet size is kept within what the server can carry; none asked for is the default.
TEST(TdsPackets, PacketSizeWithinItsLimits) {
    EXPECT_EQ(negotiatePacketSize(0), 4096u);
    EXPECT_EQ(negotiatePacketSize(100), 512u);
    EXPECT_EQ(negotiatePacketSize(65535), 32767u);
    EXPECT_EQ(negotiatePacketSize(8192), 8192u);
}

TEST(TdsPrelogin, EncryptionChoice) {
    struct Case {
        std::optional<std::uint8_t> client;
        bool canEncrypt;
        bool required;
        Encryption expected;
    } cases[] = {
        {0, false, false, Encryption::NotSupported}, {3, false, false, Encryption::NotSupported},
        {0, true, false, Encryption::Off},           {1, true, false, Encryption::On},
        {2, true, false, Encryption::NotSupported},  {3, true, false, Encryption::On},
        {std::nullopt, true, false, Encryption::Off},
        // A server that requires encryption: a client leaving it to the server encrypts everything; one
        // that cannot encrypt is told so (its login is then refused).
        {0, true, true, Encryption::Required},       {std::nullopt, true, true, Encryption::Required},
        {1, true, true, Encryption::On},             {3, true, true, Encryption::On},
        {2, true, true, Encryption::NotSupported},
    };
    for (const Case& c : cases)
        EXPECT_EQ(negotiateEncryption(c.client, c.canEncrypt, c.required), c.expected)
            << int(c.client.value_or(9)) << c.canEncrypt << c.required;
}

// What every client's login gives is read by each connection of the server tests; here the versions
// no client there asks for.
TEST(TdsLogin7, VersionsAfter74AreServedAs74AndThoseBefore71Refused) {
    EXPECT_EQ(negotiateTdsVersion(0x730B0003), version::k73B);
    EXPECT_EQ(negotiateTdsVersion(0x75000000), version::k74);
    EXPECT_EQ(negotiateTdsVersion(0x71000001), version::k71);
    EXPECT_THROW(negotiateTdsVersion(0x70000000), ProtocolError);
}

TEST(TdsRequests, SqlBatchTextWithAndWithoutHeaders) {
    const SqlBatch b = decodeSqlBatch(hex(kHeaders + " 53 00 45 00 4C 00 20 00 E8 00 3D D8 00 DE"), version::k74);
    EXPECT_EQ(b.text, "SEL è\xF0\x9F\x98\x80");  // a surrogate pair becomes one character
    EXPECT_EQ(b.headers.transactionDescriptor, 0u);
    EXPECT_EQ(decodeSqlBatch(hex("31 00"), version::k71).text, "1");
}

TEST(TdsRequests, TransactionManagerRequests) {
    struct Case {
        std::string bytes;  // after ALL_HEADERS
        TransactionRequest type;
        std::string name;
        bool beginAfter;
        std::uint8_t isolation;
    };
    const std::vector<Case> cases = {
        {"05 00 | 02 | 00", TransactionRequest::Begin, "", false, 2},
        {"05 00 | 00 | 01 74 00", TransactionRequest::Begin, "t", false, 0},
        {"07 00 | 00 | 00", TransactionRequest::Commit, "", false, 0},
        {"07 00 | 00 | 01 | 04 | 00", TransactionRequest::Commit, "", true, 4},
        {"08 00 | 01 74 00 | 01 | 00 | 00", TransactionRequest::Rollback, "t", true, 0},
        {"00 00", TransactionRequest::GetDtcAddress, "", false, 0},
    };
    for (const Case& k : cases) {
        const TransactionManagerRequest t = decodeTransactionManager(hex(kHeaders + " " + k.bytes), version::k74);
        EXPECT_EQ(t.type, k.type) << k.bytes;
        EXPECT_EQ(t.name, k.name) << k.bytes;
        EXPECT_EQ(t.beginAfter, k.beginAfter) << k.bytes;
        EXPECT_EQ(t.isolationLevel, k.isolation) << k.bytes;
    }
    for (const char* bad : {"04 00", "05 00 | 09", "07 00 | 00 | 01", "05 00 | 00 | 05 74 00"})
        EXPECT_THROW(decodeTransactionManager(hex(kHeaders + " " + bad), version::k74), ProtocolError) << bad;
}

TEST(TdsRequests, RpcCallsByNumberAndByName) {
    // sp_prepare by number (handle OUTPUT, params, stmt), then sp_execute by name after a batch flag.
    const RpcRequest r = decodeRpc(
        hex(kHeaders + " | FF FF 0B 00 | 00 00"
                       " | 07 40 00 68 00 61 00 6E 00 64 00 6C 00 65 00 | 01 | 26 04 | 00"
                       " | 00 | 00 | E7 40 1F " + kCollation + " | 0C 00 40 00 61 00 20 00 69 00 6E 00 74 00"
                       " | 00 | 00 | E7 40 1F " + kCollation + " | 02 00 31 00"
                       " | FF | 0A 00 73 00 70 00 5F 00 65 00 78 00 65 00 63 00 75 00 74 00 65 00 | 02 00"
                       " | 00 | 00 | 38 | 01 00 00 00"),
        version::k74);
    ASSERT_EQ(r.calls.size(), 2u);
    const RpcCall& prepare = r.calls[0];
    EXPECT_EQ(prepare.procedure(), "sp_prepare");
    ASSERT_EQ(prepare.parameters.size(), 3u);
    EXPECT_EQ(prepare.parameters[0].name, "@handle");
    EXPECT_TRUE(prepare.parameters[0].isOutput());
    EXPECT_TRUE(prepare.parameters[0].value.isNull());
    EXPECT_EQ(prepare.parameters[1].value, Value::string("@a int"));
    EXPECT_EQ(prepare.parameters[2].type.maxLength, 8000u);
    const RpcCall& execute = r.calls[1];
    EXPECT_FALSE(execute.procId);
    EXPECT_EQ(execute.procedure(), "sp_execute");
    EXPECT_EQ(execute.options, rpc::kNoMetadata);
    EXPECT_EQ(execute.parameters[0].value, Value::longInt(1));
}

// One parameter of each type as a client sends it (TYPE_INFO, then the value), and what it decodes to.
TEST(TdsRequests, RpcParameterOfEveryType) {
    const std::string c = kCollation;
    struct Case {
        std::string bytes;
        Value expected;
    } cases[] = {
        {"26 01 | 01 FF", Value::byte(255)},
        {"26 02 | 02 FE FF", Value::integer(-2)},
        {"26 04 | 04 2A 00 00 00", Value::longInt(42)},
        {"26 08 | 08 01 00 00 00 00 00 00 80", Value::bigInt(-9223372036854775807)},
        {"26 04 | 00", Value::null()},
        {"38 | D6 FF FF FF", Value::longInt(-42)},
        {"68 01 | 01 01", Value::boolean(true)},
        {"32 | 00", Value::boolean(false)},
        {"6D 08 | 08 00 00 00 00 00 00 F8 3F", Value::dbl(1.5)},
        {"6D 04 | 04 00 00 C0 3F", Value::single(1.5f)},
        {"6E 08 | 08 01 00 00 00 00 F2 05 2A", Value::currency({5000000000})},
        {"6E 08 | 08 FF FF FF FF FF FF FF FF", Value::currency({-1})},
        {"7A | 98 3A 00 00", Value::currency({15000})},
        {"6A 05 05 02 | 05 00 39 30 00 00", Value::decimal({-12345, 2})},
        {"6C 11 26 00 | 11 01 FF FF FF FF 3F 22 8A 09 7A C4 86 5A A8 4C 3B 4B",
         decimal("99999999999999999999999999999999999999")},
        {"6F 08 | 08 AC 8E 00 00 01 C1 C5 00", date(2000, 1, 1, 12, 0, 0, 3)},
        {"3D | FF FF FF FF 00 00 00 00", date(1899, 12, 31)},
        {"6F 04 | 04 AC 8E 01 00", date(2000, 1, 1, 0, 1)},
        {"28 | 03 07 24 0B", date(2000, 1, 1)},
        {"2A 03 | 07 00 2E 93 02 07 24 0B", date(2000, 1, 1, 12)},
        {"A7 0A 00 " + c + " | 03 00 63 61 E8", Value::string("ca\xC3\xA8")},
        {"A7 0A 00 " + c + " | FF FF", Value::null()},
        {"E7 14 00 " + c + " | 04 00 E8 00 61 00", Value::string("\xC3\xA8" "a")},
        {"E7 FF FF " + c + " | 04 00 00 00 00 00 00 00 | 02 00 00 00 61 00 | 02 00 00 00 62 00 | 00 00 00 00",
         Value::string("ab")},
        {"E7 FF FF " + c + " | FE FF FF FF FF FF FF FF | 02 00 00 00 61 00 | 00 00 00 00", Value::string("a")},
        {"E7 FF FF " + c + " | FF FF FF FF FF FF FF FF", Value::null()},
        {"EF 04 00 " + c + " | 04 00 61 00 20 00", Value::string("a ")},
        {"A5 10 00 | 03 00 01 02 03", Value::string("\x01\x02\x03")},
        {"27 10 | 00", Value::null()},
        {"27 10 | 01 20", Value::string(" ")},
        {"AD 02 00 | 02 00 00 FF", Value::string(std::string("\0\xFF", 2))},
        {"23 FF FF FF 7F " + c + " | 02 00 00 00 68 69", Value::string("hi")},
        {"63 FE FF FF 7F " + c + " | 02 00 00 00 E8 00", Value::string("\xC3\xA8")},
        {"22 FF FF FF 7F | FF FF FF FF", Value::null()},
        {"24 10 | 10 FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF",
         Value::string("6F9619FF-8B86-D011-B42D-00C04FC964FF")},
    };
    for (const Case& k : cases) {
        const RpcRequest r = decodeRpc(hex("FF FF 0A 00 00 00 | 00 00 | " + k.bytes), version::k71);
        ASSERT_EQ(r.calls.size(), 1u) << k.bytes;
        ASSERT_EQ(r.calls[0].parameters.size(), 1u) << k.bytes;
        EXPECT_EQ(r.calls[0].parameters[0].value, k.expected) << k.bytes << " -> "
                                                               << r.calls[0].parameters[0].value.toString();
    }
}

// The tokens whose every byte no client of the server tests shows: a message's state and class, the
// collation, and the command of each DONE.
TEST(TdsTokens, MessagesCollationAndDone) {
    TokenWriter w(version::k74);
    w.envCollation(Collation{});
    EXPECT_EQ(w.take(), hex("E3 08 00 07 | 05 " + kCollation + " | 00"));
    w.message({208, 1, 16, "bad", "srv", "", 3});
    EXPECT_EQ(w.take(), hex("AA 1A 00 | D0 00 00 00 | 01 | 10 | 03 00 62 00 61 00 64 00 | 03 73 00 72 00 76 00 | 00"
                            " | 03 00 00 00"));
    w.message({5701, 2, 0, "ok", "s", "p", 1});
    EXPECT_EQ(w.take(), hex("AB 16 00 | 45 16 00 00 | 02 | 00 | 02 00 6F 00 6B 00 | 01 73 00 | 01 70 00 | 01 00 00 00"));
    w.done(done::kMore | done::kCount, command::kSelect, 2);
    w.doneInProc(done::kMore, command::kSelect, 0);
    w.doneProc(done::kError | done::kAttention, 0, 0);
    w.returnStatus(-6);
    EXPECT_EQ(w.take(), hex("FD 11 00 C1 00 02 00 00 00 00 00 00 00 | FF 01 00 C1 00 00 00 00 00 00 00 00 00"
                            " | FE 22 00 00 00 00 00 00 00 00 00 00 00 | 79 FA FF FF FF"));
}

// One column of each type: its COLMETADATA TYPE_INFO and a ROW's value, as a client reads them.
TEST(TdsTokens, ColumnsAndRowsOfEveryType) {
    const std::string c = kCollation;
    const std::string zeros24 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    struct Case {
        TypeInfo type;
        Value value;
        std::string typeInfo;
        std::string row;
    } cases[] = {
        {TypeInfo::intN(4), Value::longInt(42), "26 04", "04 2A 00 00 00"},
        {TypeInfo::intN(4), Value::null(), "26 04", "00"},
        {TypeInfo::intN(1), Value::byte(200), "26 01", "01 C8"},
        {TypeInfo::intN(2), Value::integer(-2), "26 02", "02 FE FF"},
        {TypeInfo::intN(8), Value::bigInt(1099511627776), "26 08", "08 00 00 00 00 00 01 00 00"},
        {TypeInfo::bit(), Value::boolean(true), "68 01", "01 01"},
        {TypeInfo::bit(), Value::null(), "68 01", "00"},
        {TypeInfo::floatN(8), Value::dbl(1.5), "6D 08", "08 00 00 00 00 00 00 F8 3F"},
        {TypeInfo::floatN(4), Value::single(1.5f), "6D 04", "04 00 00 C0 3F"},
        {TypeInfo::money(), Value::currency({5000000000}), "6E 08", "08 01 00 00 00 00 F2 05 2A"},
        {TypeInfo::money(), Value::currency({-1}), "6E 08", "08 FF FF FF FF FF FF FF FF"},
        {TypeInfo::smallMoney(), Value::currency({15000}), "6E 04", "04 98 3A 00 00"},
        {TypeInfo::decimal(5, 2), decimal("-123.45"), "6A 05 05 02", "05 00 39 30 00 00"},
        {TypeInfo::decimal(19, 4), decimal("1.25"), "6A 09 13 04", "09 01 D4 30 00 00 00 00 00 00"},
        {TypeInfo::decimal(38, 0), Value::null(), "6A 11 26 00", "00"},
        {TypeInfo::dateTime(), date(2000, 1, 1, 12, 0, 0, 3), "6F 08", "08 AC 8E 00 00 01 C1 C5 00"},
        {TypeInfo::dateTime(), date(1999, 12, 31, 23, 59, 59, 999), "6F 08", "08 AC 8E 00 00 00 00 00 00"},
        {TypeInfo::smallDateTime(), date(2000, 1, 1, 0, 1), "6F 04", "04 AC 8E 01 00"},
        {TypeInfo::date(), date(2000, 1, 1), "28", "03 07 24 0B"},
        {TypeInfo::date(), date(1, 1, 1), "28", "03 00 00 00"},
        {TypeInfo::date(), Value::null(), "28", "00"},
        {TypeInfo::varChar(10), Value::string("ca\xC3\xA8"), "A7 0A 00 " + c, "03 00 63 61 E8"},
        {TypeInfo::varChar(10), Value::null(), "A7 0A 00 " + c, "FF FF"},
        {TypeInfo::nVarChar(10), Value::string("\xC3\xA8" "a"), "E7 14 00 " + c, "04 00 E8 00 61 00"},
        {TypeInfo::nVarChar(-1), Value::string("ab"), "E7 FF FF " + c,
         "04 00 00 00 00 00 00 00 | 04 00 00 00 61 00 62 00 | 00 00 00 00"},
        {TypeInfo::nVarChar(-1), Value::null(), "E7 FF FF " + c, "FF FF FF FF FF FF FF FF"},
        {TypeInfo::varBinary(-1), Value::string(""), "A5 FF FF", "00 00 00 00 00 00 00 00 | 00 00 00 00"},
        {TypeInfo::fixedChar(3), Value::string("a"), "AF 03 00 " + c, "03 00 61 20 20"},
        {TypeInfo::nChar(2), Value::string("a"), "EF 04 00 " + c, "04 00 61 00 20 00"},
        {TypeInfo::varBinary(4), Value::string("\x01\x02"), "A5 04 00", "02 00 01 02"},
        {TypeInfo::binary(3), Value::string("\x01"), "AD 03 00", "03 00 01 00 00"},
        {TypeInfo::text(), Value::string("hi"), "23 FF FF FF 7F " + c + " | 01 00 00", "10 " + zeros24 + " 02 00 00 00 68 69"},
        {TypeInfo::nText(), Value::null(), "63 FE FF FF 7F " + c + " | 01 00 00", "00"},
        {TypeInfo::image(), Value::string("\xAB"), "22 FF FF FF 7F | 01 00 00", "10 " + zeros24 + " 01 00 00 00 AB"},
        {TypeInfo::guid(), Value::string("6F9619FF-8B86-D011-B42D-00C04FC964FF"), "24 10",
         "10 FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF"},
    };
    for (const Case& k : cases) {
        TokenWriter w(version::k74);
        w.colMetadata({{"c", k.type, column::kNullable, 0, ""}});
        const Value values[] = {k.value};
        w.row(values);
        EXPECT_EQ(w.take(), hex("81 01 00 | 00 00 00 00 | 01 00 | " + k.typeInfo + " | 01 63 00 | D1 " + k.row))
            << k.typeInfo << " " << k.value.toString();
    }
}

TEST(TdsTokens, NbcRowLeavesNullsToItsBitmap) {
    TokenWriter w(version::k74);
    std::vector<Column> columns;
    for (int i = 0; i < 9; ++i) columns.push_back({"c", TypeInfo::intN(4), column::kNullable, 0, ""});
    w.colMetadata(columns);
    w.take();
    std::vector<Value> values(9, Value::null());
    values[1] = Value::longInt(7);
    values[8] = Value::longInt(1);
    w.nbcRow(values);
    EXPECT_EQ(w.take(), hex("D2 FD 00 | 04 07 00 00 00 | 04 01 00 00 00"));
    EXPECT_THROW(TokenWriter(version::k72).nbcRow(values), ProtocolError);
}

// Every malformed input is refused with a ProtocolError, never read past its end.
TEST(TdsMalformed, RefusedWithAnError) {
    auto assemble = [](std::size_t packetSize, std::size_t maxMessage) {
        return [=](const Bytes& b) {
            MessageAssembler a(packetSize, maxMessage);
            a.feed(b);
        };
    };
    const auto prelogin = [](const Bytes& b) { decodePrelogin(b); };
    const auto login = [](const Bytes& b) { decodeLogin7(b); };
    const auto batch = [](const Bytes& b) { decodeSqlBatch(b, version::k74); };
    const auto rpc = [](const Bytes& b) { decodeRpc(b, version::k74); };
    const auto param = [](const std::string& p) { return hex(kHeaders + " FF FF 0A 00 00 00 00 00 " + p); };
    auto patched = [](std::string text, std::size_t at, const std::string& bytes) {
        Bytes b = hex(text);
        const Bytes p = hex(bytes);
        std::copy(p.begin(), p.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    const Bytes login74 = hex(kLogin74);
    struct Case {
        const char* what;
        std::function<void(const Bytes&)> decode;
        Bytes input;
    } cases[] = {
        {"packet length below 8", assemble(4096, 1 << 20), hex("01 01 00 07 00 00 01 00")},
        {"packet above the packet size", assemble(512, 1 << 20), hex("01 01 02 01 00 00 01 00")},
        {"packet type of the server", assemble(4096, 1 << 20), hex("04 01 00 08 00 00 01 00")},
        {"type changes in a message", assemble(4096, 1 << 20), hex("01 00 00 09 00 00 01 00 41 03 01 00 08 00 00 02 00")},
        {"message above the maximum", assemble(4096, 3), hex("01 00 00 0A 00 00 01 00 41 00 01 01 00 0A 00 00 02 00 42 00")},
        {"prelogin empty", prelogin, {}},
        {"prelogin without terminator", prelogin, hex("00 00 06 00 06")},
        {"prelogin version not first", prelogin, hex("01 00 06 00 01 FF 00")},
        {"prelogin data beyond the end", prelogin, hex("00 00 06 00 06 FF 09 00")},
        {"prelogin data inside the table", prelogin, hex("00 00 00 00 06 FF")},
        {"prelogin version of 5 bytes", prelogin, hex("00 00 06 00 05 FF 09 00 00 00 00")},
        {"prelogin option twice", prelogin, hex("00 00 0B 00 06 00 00 0B 00 06 FF 09 00 00 00 00 00")},
        {"login shorter than its fixed part", login, Bytes(login74.begin(), login74.begin() + 90)},
        {"login length beyond the message", login, patched(kLogin74, 0, "FF 00 00 00")},
        {"login length below the fixed part", login, patched(kLogin74, 0, "20 00 00 00")},
        {"login string beyond the record", login, patched(kLogin74, 40, "90 00 04 00")},
        {"login string inside the fixed part", login, patched(kLogin74, 36, "10 00 01 00")},
        {"login password too long", login, patched(kLogin74, 44, "64 00 C8 00")},
        {"login feature list outside", login, patched(kLogin74, 116, "F0 00 00 00")},
        {"login feature beyond the record", login, patched(kLogin74, 143, "09 00 00 00")},
        {"login feature list unterminated", login, patched(kLogin74, 148, "0B")},
        {"login extension not 4 bytes", login, patched(kLogin74, 58, "02 00")},
        {"batch headers beyond", batch, hex("40 00 00 00 12 00 00 00 02 00")},
        {"batch header length 5", batch, hex("0A 00 00 00 05 00 00 00 02 00 41 00")},
        {"batch descriptor of 10 bytes", batch, hex("0E 00 00 00 0A 00 00 00 02 00 00 00 00 00")},
        {"batch odd text", batch, hex(kHeaders + " 41 00 42")},
        {"rpc empty", rpc, hex(kHeaders)},
        {"rpc name beyond", rpc, hex(kHeaders + " 05 00 73 00")},
        {"rpc unsupported type (xml)", rpc, param("00 00 F1 00")},
        {"rpc intn of 3 bytes", rpc, param("00 00 26 03 03 01 02 03")},
        {"rpc value longer than declared", rpc, param("00 00 A5 02 00 03 00 01 02 03")},
        {"rpc value beyond the message", rpc, param("00 00 A5 10 00 08 00 01 02")},
        {"rpc plp chunk beyond", rpc, param("00 00 A5 FF FF FE FF FF FF FF FF FF FF 10 00 00 00 01")},
        {"rpc plp total mismatch", rpc, param("00 00 A5 FF FF 03 00 00 00 00 00 00 00 01 00 00 00 01 00 00 00 00")},
        {"rpc decimal precision 39", rpc, param("00 00 6A 11 27 00 00")},
        {"rpc decimal above 38 digits", rpc, param("00 00 6A 11 26 00 11 01 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF")},
        {"rpc nvarchar odd length", rpc, param("00 00 E7 10 00 " + kCollation + " 03 00 41 00 42")},
        {"rpc datetime ticks beyond the day", rpc, param("00 00 6F 08 08 00 00 00 00 00 82 8B 01")},
        {"rpc smalldatetime minutes beyond the day", rpc, param("00 00 6F 04 04 00 00 A0 05")},
        {"rpc time scale 8", rpc, param("00 00 2A 08 08 00 00 00 00 00 00 00 00")},
        {"rpc bad guid length", rpc, param("00 00 24 08")},
        {"rpc encrypted parameter", rpc, param("00 08 26 04 00")},
        {"rpc datetimeoffset beyond 14 hours", rpc, param("00 00 2B 00 08 00 00 00 00 00 00 49 03")},
    };
    for (const Case& k : cases) EXPECT_THROW(k.decode(k.input), ProtocolError) << k.what;

    TokenWriter w(version::k74);
    auto oneColumn = [&](const TypeInfo& t, const Value& v) {
        w.colMetadata({{"c", t, column::kNullable, 0, ""}});
        const Value values[] = {v};
        w.row(values);
    };
    EXPECT_THROW(oneColumn(TypeInfo::varChar(2), Value::string("abc")), ProtocolError);
    EXPECT_THROW(oneColumn(TypeInfo::intN(1), Value::longInt(256)), ProtocolError);
    EXPECT_THROW(oneColumn(TypeInfo::decimal(5, 2), decimal("1000")), ProtocolError);
    EXPECT_THROW(oneColumn(TypeInfo::smallDateTime(), date(1899, 12, 31)), ProtocolError);
    EXPECT_THROW(oneColumn(TypeInfo::date(), Value::date({-700000LL * 86'400'000})), ProtocolError);
    EXPECT_THROW(oneColumn({TypeId::Int4, 4, 0, 0, {}}, Value::null()), ProtocolError);
    EXPECT_THROW(w.row(std::vector<Value>{}), ProtocolError);
}
