#include "server/Listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "server/Connection.h"

namespace vopa::server {

namespace {

std::string numericAddress(const sockaddr* address, socklen_t length, std::uint16_t& port) {
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (::getnameinfo(address, length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    port = static_cast<std::uint16_t>(std::stoi(service));
    return host;
}

// A numeric address of this machine only: 127.0.0.0/8, ::1 and IPv4-mapped 127.x.
bool isLoopback(const std::string& numericAddress) {
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, numericAddress.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    if (::inet_pton(AF_INET6, numericAddress.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return false;
}

void keepAlive(int socket) {
    // Half-open connections (a client machine gone without a word) are found by TCP keep-alive probes.
    int on = 1, idle = 60, interval = 10, count = 6;
    ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

bool encryptionRequired(const std::string& numericAddress, EncryptionPolicy policy) {
    switch (policy) {
    case EncryptionPolicy::Required:
        return true;
    case EncryptionPolicy::Optional:
        return false;
    case EncryptionPolicy::ByAddress:
        break;
    }
    // Traffic that never leaves this machine cannot be read on the network.
    return !isLoopback(numericAddress);
}

Listener::Listener(Settings settings) : settings_(std::move(settings)) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(settings_.port);
    if (const int rc = ::getaddrinfo(settings_.address.c_str(), port.c_str(), &hints, &found); rc != 0)
        throw std::runtime_error("cannot listen on " + settings_.address + ": " + ::gai_strerror(rc));
    std::string problem = "no address";
    for (addrinfo* a = found; a && socket_ < 0; a = a->ai_next) {
        const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) continue;
        int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(s, a->ai_addr, a->ai_addrlen) == 0 && ::listen(s, 64) == 0) {
            socket_ = s;
        } else {
            problem = std::strerror(errno);
            ::close(s);
        }
    }
    ::freeaddrinfo(found);
    if (socket_ < 0) throw std::runtime_error("cannot listen on " + settings_.address + " port " + port + ": " + problem);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length);
    address_ = numericAddress(reinterpret_cast<sockaddr*>(&bound), length, port_);
    settings_.encryptionRequired = encryptionRequired(address_, settings_.encryption);
    if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
}

Listener::~Listener() {
    stop();
    for (Client& c : clients_) {
        c.connection->shutdown();
        if (c.thread.joinable()) c.thread.join();
    }
    if (socket_ >= 0) ::close(socket_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void Listener::stop() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
}

void Listener::reapFinished() {
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (it->connection->finished()) {
            it->thread.join();
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void Listener::run() {
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, 1000);
        reapFinished();
        if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        if (ready <= 0) continue;
        if (fds[1].revents) break;
        if (!(fds[0].revents & POLLIN)) continue;
        const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;  // the client gave up before it was accepted, or too many files open
        keepAlive(client);
        const std::uint16_t spid = nextSpid_;
        nextSpid_ = nextSpid_ == 32767 ? 51 : static_cast<std::uint16_t>(nextSpid_ + 1);
        auto connection = std::make_shared<Connection>(client, spid, settings_);
        clients_.push_back({connection, std::thread([connection] { connection->run(); })});
    }
    // Each connection ends at its next read; a batch that is running completes first.
    for (Client& c : clients_) c.connection->shutdown();
    for (Client& c : clients_) c.thread.join();
    clients_.clear();
}

}  // namespace vopa::server
