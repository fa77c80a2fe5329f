#include "server/Browser.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace vopa::server {

namespace {

bool digitsOnly(const std::string& s) {
    return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool portNumber(const std::string& s, std::uint16_t& port) {
    if (!digitsOnly(s)) return false;
    const unsigned long value = std::stoul(s);
    if (value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

std::string numericHost(const sockaddr* address, socklen_t length, std::uint16_t* port = nullptr) {
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (::getnameinfo(address, length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) !=
        0)
        return {};
    if (port) *port = static_cast<std::uint16_t>(std::stoi(service));
    return host;
}

// An address in binary, IPv4 in the last four bytes (as IPv4-mapped IPv6), so that both spellings of an
// IPv4 address are equal.
using IpAddress = std::array<std::uint8_t, 16>;

std::optional<IpAddress> ipAddress(const std::string& numeric) {
    IpAddress a{};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, numeric.c_str(), &v4) == 1) {
        a[10] = a[11] = 0xFF;
        std::memcpy(&a[12], &v4, 4);
    } else if (::inet_pton(AF_INET6, numeric.c_str(), &v6) == 1) {
        std::memcpy(a.data(), &v6, 16);
    } else {
        return std::nullopt;
    }
    return a;
}

// The destination address of a datagram received (IP_PKTINFO, IPV6_PKTINFO), numeric; IPv4 reached
// through an IPv6 socket as IPv4 text. Empty when the kernel did not say.
std::string destinationOf(msghdr& message) {
    char text[INET6_ADDRSTRLEN] = {};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            if (::inet_ntop(AF_INET, &info.ipi_addr, text, sizeof text)) return text;
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            if (::inet_ntop(AF_INET6, &info.ipi6_addr, text, sizeof text)) return text;
        }
    }
    return {};
}

}  // namespace

bool parseBrowserEndpoint(const std::string& text, std::string& address, std::uint16_t& port) {
    if (text.empty()) return false;
    if (digitsOnly(text)) return portNumber(text, port);
    std::string host = text, portText;
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close == 1) return false;
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            portText = rest.substr(1);
            if (portText.empty()) return false;
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (host.empty() || portText.empty()) return false;
    }
    std::uint16_t parsedPort = port;
    if (!portText.empty() && !portNumber(portText, parsedPort)) return false;
    address = host;
    port = parsedPort;
    return true;
}

bool addressedToThisMachine(const std::string& destination, const std::vector<std::string>& own) {
    const std::optional<IpAddress> to = ipAddress(destination);
    if (!to) return false;
    return std::any_of(own.begin(), own.end(), [&](const std::string& mine) { return ipAddress(mine) == to; });
}

bool AnswerBudget::take(std::chrono::steady_clock::time_point now) {
    if (last_ != std::chrono::steady_clock::time_point{} && now > last_)
        tokens_ = std::min(perSecond_, tokens_ + std::chrono::duration<double>(now - last_).count() * perSecond_);
    if (now > last_) last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

Browser::Browser(const std::string& address, std::uint16_t port, std::vector<tds::BrowserInstance> served)
    : served_(std::move(served)) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string portText = std::to_string(port);
    if (const int rc = ::getaddrinfo(address.c_str(), portText.c_str(), &hints, &found); rc != 0)
        throw std::runtime_error("cannot listen on " + address + " UDP port " + portText + ": " + ::gai_strerror(rc));
    std::string problem = "no address";
    for (addrinfo* a = found; a && socket_ < 0; a = a->ai_next) {
        const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) continue;
        // No SO_REUSEADDR: a second Browser on the same port must fail, not share the requests.
        int on = 1;
        const bool v6 = a->ai_family == AF_INET6;
        const int options = v6 ? ::setsockopt(s, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on)
                               : ::setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        if (options == 0 && ::bind(s, a->ai_addr, a->ai_addrlen) == 0) {
            socket_ = s;
        } else {
            problem = std::strerror(errno);
            ::close(s);
        }
    }
    ::freeaddrinfo(found);
    if (socket_ < 0) throw std::runtime_error("cannot listen on " + address + " UDP port " + portText + ": " + problem);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length);
    address_ = numericHost(reinterpret_cast<sockaddr*>(&bound), length, &port_);
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        ::close(socket_);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
}

Browser::~Browser() {
    ::close(socket_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void Browser::stop() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
}

void Browser::run() {
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (fds[1].revents) break;
        if (fds[0].revents & POLLIN) answerWaiting();
    }
}

bool Browser::toThisMachine(const std::string& destination) {
    if (addressedToThisMachine(destination, own_)) return true;
    // The machine's addresses change (a cable, DHCP): read them again, but not for every datagram.
    const auto now = std::chrono::steady_clock::now();
    if (ownRead_ != std::chrono::steady_clock::time_point{} && now - ownRead_ < std::chrono::seconds(1)) return false;
    ownRead_ = now;
    own_.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr) continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (i->ifa_addr->sa_family == AF_INET &&
                ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text))
                own_.push_back(text);
            else if (i->ifa_addr->sa_family == AF_INET6 &&
                     ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, text,
                                 sizeof text))
                own_.push_back(text);
        }
        ::freeifaddrs(list);
    }
    return addressedToThisMachine(destination, own_);
}

void Browser::answerWaiting() {
    // A bounded number per wake-up, so that stop() is seen during a flood.
    for (int i = 0; i < 64; ++i) {
        std::uint8_t buffer[tds::kMaxBrowserRequest + 1];
        sockaddr_storage from{};
        iovec part{buffer, sizeof buffer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = ::recvmsg(socket_, &message, MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            continue;
        }
        // A datagram longer than the buffer is longer than any request.
        if (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) continue;
        const std::string destination = destinationOf(message);
        if (destination.empty() || !toThisMachine(destination)) continue;
        std::uint16_t fromPort = 0;
        if (numericHost(reinterpret_cast<sockaddr*>(&from), message.msg_namelen, &fromPort).empty() || fromPort == 0)
            continue;
        const std::optional<tds::BrowserRequest> request =
            tds::decodeBrowserRequest(tds::ByteView(buffer, static_cast<std::size_t>(received)));
        if (!request) continue;
        const tds::Bytes answer = tds::encodeBrowserAnswer(*request, served_);
        if (answer.empty() || !budget_.take(std::chrono::steady_clock::now())) continue;
        ::sendto(socket_, answer.data(), answer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                 message.msg_namelen);
    }
}

}  // namespace vopa::server
