// The server's TLS on its own: who must encrypt, and the channel against an OpenSSL client that wraps
// its handshake in PRELOGIN packets as TDS clients do (the whole connection encrypted: ServerTest).

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <filesystem>
#include <memory>
#include <string>

#include "server/Settings.h"
#include "server/TlsChannel.h"
#include "server/tds/Packet.h"
#include "server/tds/Protocol.h"
#include "support/TempDrive.h"

namespace {

using vopa::server::EncryptionPolicy;
using vopa::server::TlsChannel;
using vopa::server::TlsContext;
namespace tds = vopa::tds;

TEST(EncryptionPolicy, LoopbackMayGoWithoutAnyOtherAddressMustEncryptUnlessConfigured) {
    struct Case {
        const char* address;
        EncryptionPolicy policy;
        bool required;
    };
    const Case cases[] = {
        {"127.0.0.1", EncryptionPolicy::ByAddress, false}, {"::1", EncryptionPolicy::ByAddress, false},
        {"127.0.0.2", EncryptionPolicy::ByAddress, false}, {"0.0.0.0", EncryptionPolicy::ByAddress, true},
        {"::", EncryptionPolicy::ByAddress, true},         {"192.168.1.5", EncryptionPolicy::ByAddress, true},
        {"127.0.0.1", EncryptionPolicy::Required, true},   {"::1", EncryptionPolicy::Required, true},
        {"0.0.0.0", EncryptionPolicy::Optional, false},    {"192.168.1.5", EncryptionPolicy::Optional, false},
        {"192.168.1.5", EncryptionPolicy::Required, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vopa::server::encryptionRequired(c.address, c.policy), c.required)
            << c.address << " " << static_cast<int>(c.policy);
}

// An OpenSSL client over memory buffers: its handshake goes out in PRELOGIN packets until it is made,
// then raw records, as a TDS 7 client does.
class Client {
public:
    Client() {
        context_ = SSL_CTX_new(TLS_client_method());
        ssl_ = SSL_new(context_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_, -1);
        BIO_set_mem_eof_return(out_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_connect_state(ssl_);
    }
    ~Client() {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
    }
    // Runs the handshake against `server` to its end; false when it fails.
    bool handshake(TlsChannel& server) {
        for (int round = 0; round < 10; ++round) {
            const int done = SSL_do_handshake(ssl_);
            const tds::Bytes flight = drain();
            if (!flight.empty()) {
                tds::Bytes packets;
                tds::writePackets(tds::PacketType::Prelogin, flight, 4096, 0, packets);
                tds::Bytes plain;
                server.receive(packets, plain);
                if (!plain.empty()) return false;
                unwrap(server.takeOutgoing());
            }
            if (done == 1 && !server.handshaking()) return true;
        }
        return false;
    }
    tds::Bytes encrypt(const tds::Bytes& plain) {
        SSL_write(ssl_, plain.data(), static_cast<int>(plain.size()));
        return drain();
    }

private:
    tds::Bytes drain() {
        tds::Bytes out;
        std::uint8_t buffer[16384];
        int n;
        while ((n = BIO_read(out_, buffer, sizeof buffer)) > 0) out.insert(out.end(), buffer, buffer + n);
        return out;
    }
    // The server's answer must come in PRELOGIN packets; their payloads go to the client's TLS.
    void unwrap(const tds::Bytes& packets) {
        std::size_t at = 0;
        while (at + tds::kHeaderSize <= packets.size()) {
            const tds::PacketHeader h = tds::PacketHeader::read(tds::ByteView(packets).subspan(at));
            EXPECT_EQ(h.type, static_cast<std::uint8_t>(tds::PacketType::Prelogin));
            BIO_write(in_, packets.data() + at + tds::kHeaderSize, h.length - static_cast<int>(tds::kHeaderSize));
            at += h.length;
        }
        EXPECT_EQ(at, packets.size());
    }

    SSL_CTX* context_;
    SSL* ssl_;
    BIO* in_;
    BIO* out_;
};

// A TDS packet of `type` carrying `payload`, the end of its message.
tds::Bytes packet(tds::PacketType type, const std::string& payload) {
    tds::Bytes out;
    tds::writePackets(type, tds::Bytes(payload.begin(), payload.end()), 4096, 0, out);
    return out;
}

std::shared_ptr<const TlsContext> context() {
    static vopa::testing::TempDrive drive;
    static const std::shared_ptr<const TlsContext> made = TlsContext::selfSigned(drive.root(), "prova");
    return made;
}

std::string text(const tds::Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(TlsChannel, LoginOnlyEndsAfterTheFirstPacketEvenWhenPlainBytesFollowAtOnce) {
    TlsChannel server(*context(), true, 51);
    Client client;
    ASSERT_TRUE(client.handshake(server));
    const tds::Bytes login = packet(tds::PacketType::Login7, "login con la password");
    const tds::Bytes next = packet(tds::PacketType::SqlBatch, "SELECT 1");
    tds::Bytes wire = client.encrypt(login);
    EXPECT_EQ(text(wire).find("password"), std::string::npos);
    wire.insert(wire.end(), next.begin(), next.end());
    tds::Bytes received;
    server.receive(wire, received);
    tds::Bytes expected = login;
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(server.ended());
    const tds::Bytes answer = packet(tds::PacketType::TabularResult, "LOGINACK");
    EXPECT_EQ(server.send(answer), answer);
}

TEST(TlsChannel, WhatIsNotTheHandshakeOrABrokenRecordIsAProtocolError) {
    struct Case {
        const char* what;
        tds::Bytes bytes;
        bool afterHandshake;
    };
    const std::vector<Case> cases = {
        {"a packet shorter than its header", tds::Bytes{0x12, 0x01, 0x00, 0x04, 0, 0, 0, 0}, false},
        {"a record of garbage after the handshake", tds::Bytes{0x17, 0x03, 0x03, 0x00, 0x20}, true},
    };
    for (const Case& c : cases) {
        TlsChannel server(*context(), false, 51);
        Client client;
        tds::Bytes bytes = c.bytes;
        if (c.afterHandshake) {
            ASSERT_TRUE(client.handshake(server)) << c.what;
            bytes.insert(bytes.end(), 32, 0x5A);
        }
        tds::Bytes plain;
        EXPECT_THROW(server.receive(bytes, plain), tds::ProtocolError) << c.what;
        EXPECT_TRUE(plain.empty()) << c.what;
    }
}

}  // namespace
