#include "server/tds/Login7.h"

#include <algorithm>
#include <string>

#include "server/tds/Protocol.h"

namespace vopa::tds {

namespace {

constexpr std::size_t kFixedPart71 = 86;  // up to the SSPI pair
constexpr std::size_t kFixedPart72 = 94;  // with the change-password pair and cbSSPILong
constexpr std::uint32_t kMaxLength = 128 * 1024 - 1;
constexpr std::uint8_t kFeatureTerminator = 0xFF;

// The password is sent with each byte's nibbles swapped and the result xor'ed with 0xA5.
Bytes deobfuscate(ByteView bytes) {
    Bytes out(bytes.begin(), bytes.end());
    for (std::uint8_t& b : out) {
        const auto x = static_cast<std::uint8_t>(b ^ 0xA5);
        b = static_cast<std::uint8_t>((x << 4) | (x >> 4));
    }
    return out;
}

struct Field {
    std::uint16_t offset = 0;
    std::uint16_t length = 0;
};

class Record {
public:
    Record(ByteView record, std::size_t fixedPart) : record_(record), fixedPart_(fixedPart) {}

    // The bytes of a field of `length` units of `unitSize` bytes at `offset`, checked.
    ByteView slice(const char* name, std::size_t offset, std::size_t length, std::size_t unitSize,
                   std::size_t maxUnits) const {
        if (length == 0) return {};
        if (length > maxUnits)
            fail(std::string(name) + " has " + std::to_string(length) + " units, more than " + std::to_string(maxUnits));
        if (offset < fixedPart_ || offset > record_.size() || length * unitSize > record_.size() - offset)
            fail(std::string(name) + " at " + std::to_string(offset) + "+" + std::to_string(length * unitSize) +
                 " lies outside " + std::to_string(fixedPart_) + ".." + std::to_string(record_.size()));
        return record_.subspan(offset, length * unitSize);
    }

    std::string text(const char* name, Field f, std::size_t maxChars) const {
        return utf16ToUtf8(slice(name, f.offset, f.length, 2, maxChars));
    }

    std::string password(const char* name, Field f) const {
        return utf16ToUtf8(deobfuscate(slice(name, f.offset, f.length, 2, 128)));
    }

    [[noreturn]] static void fail(const std::string& problem) { throw ProtocolError("LOGIN7: " + problem); }

    ByteView bytes() const { return record_; }

private:
    ByteView record_;
    std::size_t fixedPart_;
};

std::vector<FeatureExtension> readFeatures(ByteView record, std::size_t fixedPart, std::size_t at) {
    if (at < fixedPart || at >= record.size())
        Record::fail("the feature list at " + std::to_string(at) + " lies outside " + std::to_string(fixedPart) +
                     ".." + std::to_string(record.size()));
    Reader r(record.subspan(at), "LOGIN7 feature list");
    std::vector<FeatureExtension> features;
    for (;;) {
        const std::uint8_t id = r.u8("feature id");
        if (id == kFeatureTerminator) break;
        const std::uint32_t length = r.u32("feature data length");
        const ByteView data = r.bytes(length, "feature data");
        features.push_back({id, Bytes(data.begin(), data.end())});
    }
    return features;
}

}  // namespace

Login7 decodeLogin7(ByteView payload) {
    Reader r(payload, "LOGIN7");
    Login7 l;
    const std::uint32_t length = r.u32("Length");
    l.tdsVersion = r.u32("TDSVersion");
    const std::size_t fixedPart = l.tdsVersion >= version::k72 ? kFixedPart72 : kFixedPart71;
    if (length < fixedPart || length > payload.size() || length > kMaxLength)
        r.fail("Length " + std::to_string(length) + " does not fit a record of " + std::to_string(fixedPart) +
               ".." + std::to_string(std::min<std::size_t>(payload.size(), kMaxLength)) + " bytes");
    l.packetSize = r.u32("PacketSize");
    l.clientProgramVersion = r.u32("ClientProgVer");
    l.clientPid = r.u32("ClientPID");
    l.connectionId = r.u32("ConnectionID");
    l.optionFlags1 = r.u8("OptionFlags1");
    l.optionFlags2 = r.u8("OptionFlags2");
    l.typeFlags = r.u8("TypeFlags");
    l.optionFlags3 = r.u8("OptionFlags3");
    l.clientTimeZone = static_cast<std::int32_t>(r.u32("ClientTimeZone"));
    l.clientLcid = r.u32("ClientLCID");
    auto field = [&](const char* name) {
        Field f;
        f.offset = r.u16(name);
        f.length = r.u16(name);
        return f;
    };
    const Field host = field("HostName"), user = field("UserName"), password = field("Password"),
                app = field("AppName"), server = field("ServerName"), extension = field("Extension"),
                library = field("CltIntName"), language = field("Language"), database = field("Database");
    const ByteView clientId = r.bytes(6, "ClientID");
    std::copy(clientId.begin(), clientId.end(), l.clientId.begin());
    const Field sspi = field("SSPI"), attach = field("AtchDBFile");
    Field changePassword;
    std::uint32_t sspiLong = 0;
    if (fixedPart == kFixedPart72) {
        changePassword = field("ChangePassword");
        sspiLong = r.u32("cbSSPILong");
    }

    const Record rec(payload.first(length), fixedPart);
    l.hostName = rec.text("HostName", host, 128);
    l.userName = rec.text("UserName", user, 128);
    l.password = rec.password("Password", password);
    l.appName = rec.text("AppName", app, 128);
    l.serverName = rec.text("ServerName", server, 128);
    l.libraryName = rec.text("CltIntName", library, 128);
    l.language = rec.text("Language", language, 128);
    l.database = rec.text("Database", database, 128);
    l.attachDbFile = rec.text("AtchDBFile", attach, 260);
    l.changePassword = rec.password("ChangePassword", changePassword);
    // An SSPI token longer than 65534 bytes gives its length in cbSSPILong.
    const std::size_t sspiLength = sspi.length == 0xFFFF && sspiLong != 0 ? sspiLong : sspi.length;
    const ByteView token = rec.slice("SSPI", sspi.offset, sspiLength, 1, kMaxLength);
    l.sspi.assign(token.begin(), token.end());

    // In 7.4 the Extension pair points at a DWORD holding the offset of the feature list.
    if ((l.optionFlags3 & login::kExtension) && l.tdsVersion >= version::k74) {
        if (extension.length != 4) Record::fail("Extension has " + std::to_string(extension.length) + " bytes instead of 4");
        Reader at(rec.slice("Extension", extension.offset, 4, 1, 4), "LOGIN7 extension");
        l.hasFeatureExtension = true;
        l.features = readFeatures(rec.bytes(), fixedPart, at.u32("feature list offset"));
    }
    return l;
}

std::uint32_t negotiateTdsVersion(std::uint32_t requested) {
    if (requested >= version::k74) return version::k74;
    if (requested >= version::k73B) return version::k73B;
    if (requested >= version::k73A) return version::k73A;
    if (requested >= version::k72) return version::k72;
    if (requested >= 0x71000000) return version::k71;
    throw ProtocolError("TDS version " + std::to_string(requested >> 24 & 0xFF) + "." +
                        std::to_string(requested >> 16 & 0xFF) + " is older than 7.1");
}

}  // namespace vopa::tds
