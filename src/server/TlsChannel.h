#pragma once
// TLS for a TDS connection, over OpenSSL memory buffers (no sockets here). The handshake travels inside
// PRELOGIN packets in both directions; once it is made, TLS records go straight over TCP and carry the
// TDS packets. With encryption of the login only, TLS ends after the first packet that comes from the
// client (the LOGIN7) and the connection goes on in plain.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "server/tds/Wire.h"

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

namespace vopa::server {

// The server's certificate and key, shared by every connection.
class TlsContext {
public:
    // Loads a PEM certificate (with its chain) and its PEM private key; throws std::runtime_error saying
    // which file cannot be read, or that the key does not match the certificate.
    static std::shared_ptr<const TlsContext> fromFiles(const std::filesystem::path& certificate,
                                                       const std::filesystem::path& key);
    // The self-signed certificate kept in `folder` (server-certificate.pem, server-key.pem), made on the
    // first start (EC P-256, common name `hostName`, valid ten years) and read back afterwards.
    static std::shared_ptr<const TlsContext> selfSigned(const std::filesystem::path& folder, const std::string& hostName);

    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* get() const { return context_; }

private:
    TlsContext();
    ssl_ctx_st* context_ = nullptr;
};

inline constexpr const char* kSelfSignedCertificateFile = "server-certificate.pem";
inline constexpr const char* kSelfSignedKeyFile = "server-key.pem";

// One connection's TLS. Errors in what the client sends (garbage instead of the handshake, a broken
// record, a packet other than PRELOGIN during the handshake) throw tds::ProtocolError.
class TlsChannel {
public:
    // `loginOnly`: TLS ends after the client's first packet. `spid` goes in the headers of the PRELOGIN
    // packets of the handshake.
    TlsChannel(const TlsContext& context, bool loginOnly, std::uint16_t spid);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Bytes from the client as they arrive, in pieces of any size; appends the plain bytes they carry to
    // `plain` (none during the handshake). What the channel must send by itself (the server's part of the
    // handshake) is then in takeOutgoing().
    void receive(tds::ByteView raw, tds::Bytes& plain);
    // Bytes to send: encrypted while TLS is on, as they are after a login-only TLS has ended.
    tds::Bytes send(tds::ByteView plain);
    tds::Bytes takeOutgoing();

    bool handshaking() const { return state_ == State::Handshake; }
    bool ended() const { return state_ == State::Ended; }
    // The client ended TLS (close_notify): nothing more comes.
    bool closedByClient() const { return closedByClient_; }

private:
    enum class State { Handshake, Open, Ended };
    void handshakePackets(tds::ByteView& raw);
    void records(tds::Bytes& plain);
    void drainOutput(tds::Bytes& out);

    ssl_st* ssl_ = nullptr;
    bio_st* in_ = nullptr;   // raw bytes from the client, read by OpenSSL
    bio_st* out_ = nullptr;  // raw bytes OpenSSL writes for the client
    bool loginOnly_;
    std::uint16_t spid_;
    State state_ = State::Handshake;
    bool closedByClient_ = false;
    tds::Bytes packet_;          // a PRELOGIN packet of the handshake not yet whole
    tds::Bytes outgoing_;        // handshake packets to send
    std::size_t firstPacket_ = 0;  // login only: plain bytes received so far of the client's first packet
    tds::Bytes firstHeader_;       // login only: that packet's header as it comes
};

}  // namespace vopa::server
