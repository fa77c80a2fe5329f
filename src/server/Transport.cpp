#include "server/Transport.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace vopa::server {

Transport::Read Transport::read(int timeoutMillis, tds::Bytes& plain) {
    pollfd p{socket_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMillis);
    if (ready < 0) return errno == EINTR ? Read::Data : Read::Closed;
    if (ready == 0) return Read::TimedOut;
    std::uint8_t buffer[16384];
    const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
    if (n <= 0) {
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return Read::Data;
        return Read::Closed;
    }
    const tds::ByteView raw(buffer, static_cast<std::size_t>(n));
    if (!tls_) {
        plain.insert(plain.end(), raw.begin(), raw.end());
        return Read::Data;
    }
    tls_->receive(raw, plain);
    // The server's part of the handshake, or what TLS answers by itself.
    const tds::Bytes answer = tls_->takeOutgoing();
    if (!answer.empty()) writeRaw(answer);
    if (tls_->closedByClient()) return Read::Closed;
    return Read::Data;
}

void Transport::write(tds::ByteView plain) {
    if (!tls_) return writeRaw(plain);
    writeRaw(tls_->send(plain));
}

void Transport::startTls(const TlsContext& context, bool loginOnly, std::uint16_t spid) {
    tls_ = std::make_unique<TlsChannel>(context, loginOnly, spid);
}

void Transport::writeRaw(tds::ByteView bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd p{socket_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, writeTimeoutMillis_);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) throw ClientGone("the client does not read");
        const ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) throw ClientGone("the client left");
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace vopa::server
