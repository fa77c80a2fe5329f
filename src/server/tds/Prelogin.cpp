#include "server/tds/Prelogin.h"

#include <algorithm>
#include <string>

#include "server/tds/Protocol.h"

namespace vopa::tds {

namespace {

enum Option : std::uint8_t {
    kVersion = 0,
    kEncryption = 1,
    kInstOpt = 2,
    kThreadId = 3,
    kMars = 4,
    kTraceId = 5,
    kFedAuthRequired = 6,
    kNonce = 7,
    kTerminator = 0xFF,
};

[[noreturn]] void fail(const std::string& problem) { throw ProtocolError("PRELOGIN: " + problem); }

void requireLength(const char* name, std::size_t length, std::size_t expected) {
    if (length != expected)
        fail(std::string(name) + " has " + std::to_string(length) + " bytes instead of " + std::to_string(expected));
}

}  // namespace

Prelogin decodePrelogin(ByteView payload) {
    struct Entry {
        std::uint8_t option;
        std::uint16_t offset;
        std::uint16_t length;
    };
    std::vector<Entry> entries;
    Reader table(payload, "PRELOGIN");
    for (;;) {
        const std::uint8_t option = table.u8("option token");
        if (option == kTerminator) break;
        Entry e{option, table.u16be("option offset"), table.u16be("option length")};
        if (option <= kNonce && std::any_of(entries.begin(), entries.end(), [&](const Entry& x) { return x.option == option; }))
            fail("option " + std::to_string(option) + " appears twice");
        entries.push_back(e);
    }
    const std::size_t tableEnd = table.position();
    if (entries.empty() || entries.front().option != kVersion) fail("the first option is not VERSION");

    Prelogin p;
    for (const Entry& e : entries) {
        if (e.length > 0 && (e.offset < tableEnd || std::size_t{e.offset} + e.length > payload.size()))
            fail("option " + std::to_string(e.option) + " data at " + std::to_string(e.offset) + "+" +
                 std::to_string(e.length) + " lies outside " + std::to_string(tableEnd) + ".." +
                 std::to_string(payload.size()));
        const ByteView data = e.length > 0 ? payload.subspan(e.offset, e.length) : ByteView{};
        switch (e.option) {
        case kVersion: {
            requireLength("VERSION", e.length, 6);
            p.version.major = data[0];
            p.version.minor = data[1];
            p.version.build = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
            p.version.subBuild = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
            break;
        }
        case kEncryption:
            requireLength("ENCRYPTION", e.length, 1);
            p.encryption = data[0];
            break;
        case kInstOpt: {
            const auto nul = std::find(data.begin(), data.end(), std::uint8_t{0});
            p.instance.assign(data.begin(), nul);
            break;
        }
        case kThreadId:
            // The client's thread (a number of its own, sent little-endian); some clients send none.
            if (e.length != 0) {
                requireLength("THREADID", e.length, 4);
                p.threadId = static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16) |
                             static_cast<std::uint32_t>(data[3]) << 24;
            }
            break;
        case kMars:
            requireLength("MARS", e.length, 1);
            p.mars = data[0] != 0;
            break;
        case kTraceId: {
            requireLength("TRACEID", e.length, 36);
            std::array<std::uint8_t, 36> id{};
            std::copy(data.begin(), data.end(), id.begin());
            p.traceId = id;
            break;
        }
        case kFedAuthRequired:
            requireLength("FEDAUTHREQUIRED", e.length, 1);
            p.fedAuthRequired = data[0] != 0;
            break;
        case kNonce: {
            requireLength("NONCEOPT", e.length, 32);
            std::array<std::uint8_t, 32> nonce{};
            std::copy(data.begin(), data.end(), nonce.begin());
            p.nonce = nonce;
            break;
        }
        default:
            break;
        }
    }
    return p;
}

Encryption negotiateEncryption(std::optional<std::uint8_t> client, bool serverCanEncrypt, bool serverRequires) {
    if (!serverCanEncrypt) return Encryption::NotSupported;
    const std::uint8_t asked = client.value_or(static_cast<std::uint8_t>(Encryption::Off)) & 0x0F;
    switch (static_cast<Encryption>(asked)) {
    case Encryption::NotSupported:
        return Encryption::NotSupported;
    case Encryption::Off:
        return serverRequires ? Encryption::Required : Encryption::Off;  // Off: the login packet alone
    case Encryption::On:
    case Encryption::Required:
        return Encryption::On;
    }
    return Encryption::On;
}

Bytes encodePreloginResponse(const ProductVersion& version, Encryption encryption) {
    // Five options of 5 bytes and the terminator, then their data in the same order.
    constexpr std::uint16_t kTable = 5 * 5 + 1;
    const std::pair<std::uint8_t, std::uint16_t> options[] = {
        {kVersion, 6}, {kEncryption, 1}, {kInstOpt, 1}, {kThreadId, 0}, {kMars, 1}};
    Bytes out;
    Writer w(out);
    std::uint16_t offset = kTable;
    for (const auto& [option, length] : options) {
        w.u8(option);
        w.u16be(offset);
        w.u16be(length);
        offset = static_cast<std::uint16_t>(offset + length);
    }
    w.u8(kTerminator);
    w.u8(version.major);
    w.u8(version.minor);
    w.u16be(version.build);
    w.u16be(version.subBuild);
    w.u8(static_cast<std::uint8_t>(encryption));
    w.u8(0);  // INSTOPT: the instance the client named is this one
    w.u8(0);  // MARS off
    return out;
}

}  // namespace vopa::tds
