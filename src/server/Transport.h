#pragma once
// The bytes of one client connection: plain TCP, or TLS over it once the pre-login has agreed on it.
// The connection reads and writes TDS packets through it without knowing which.

#include <cstdint>
#include <memory>
#include <stdexcept>

#include "server/TlsChannel.h"
#include "server/tds/Wire.h"

namespace vopa::server {

// The client left or stopped reading: nothing more can be sent.
class ClientGone : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Transport {
public:
    // `writeTimeoutMillis`: how long a write waits for a client that does not take the bytes.
    Transport(int socket, int writeTimeoutMillis) : socket_(socket), writeTimeoutMillis_(writeTimeoutMillis) {}

    enum class Read { Data, Closed, TimedOut };
    // Waits up to `timeoutMillis` for bytes from the client and appends the plain bytes they carry to
    // `plain` (possibly none: a part of a TLS record, a step of the handshake, whose answer is sent
    // here). Throws tds::ProtocolError when the client breaks TLS.
    Read read(int timeoutMillis, tds::Bytes& plain);
    // Sends every byte (encrypted while TLS is on); throws ClientGone when the client left or does not
    // take them in the write time-out.
    void write(tds::ByteView plain);
    // From here on the client's bytes are the TLS handshake inside PRELOGIN packets, then TLS records
    // (for the first packet only when `loginOnly`).
    void startTls(const TlsContext& context, bool loginOnly, std::uint16_t spid);

    int socket() const { return socket_; }

private:
    void writeRaw(tds::ByteView bytes);

    int socket_;
    std::unique_ptr<TlsChannel> tls_;
    int writeTimeoutMillis_;
};

}  // namespace vopa::server
