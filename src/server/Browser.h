#pragma once
// The SQL Server Browser: a UDP socket that tells clients asking for an instance by name ("HOST\NAME")
// the TCP port it listens on, for the instances this process serves (the datagrams: server/tds/Browser.h).
//
// Only requests sent to one of this machine's own addresses are answered, once per datagram: a request
// sent to a broadcast or multicast address, a truncated or oversized datagram, and anything that is not
// a request get nothing. Answers are also limited to a number per second, so that requests with a forged
// sender cannot make the server flood someone else with answers.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "server/tds/Browser.h"

namespace vopa::server {

// The address and port of the Browser from the option's text: "PORT", "ADDRESS", "ADDRESS:PORT",
// "[IPV6]:PORT", "[IPV6]" or a bare IPv6 address; what the text leaves out keeps the value given (the
// defaults). False when the text is none of those.
bool parseBrowserEndpoint(const std::string& text, std::string& address, std::uint16_t& port);

// True when a datagram's destination (a numeric address; IPv4 also as "::ffff:192.0.2.1") is one of
// `own`, the numeric addresses of this machine: a datagram sent to a broadcast or multicast address, or
// to an address the machine does not have, is not.
bool addressedToThisMachine(const std::string& destination, const std::vector<std::string>& own);

// Answers rationed as a bucket of `perSecond` tokens refilled at `perSecond` a second: a burst of that
// many at most, and that many a second on average.
class AnswerBudget {
public:
    explicit AnswerBudget(int perSecond) : perSecond_(perSecond), tokens_(perSecond) {}
    // True, and one answer less left, when an answer may go at `now`.
    bool take(std::chrono::steady_clock::time_point now);

private:
    double perSecond_;
    double tokens_;
    std::chrono::steady_clock::time_point last_{};
};

class Browser {
public:
    // Answers this many requests a second at most, on average.
    static constexpr int kAnswersPerSecond = 100;

    // Binds the UDP socket; throws std::runtime_error saying why it cannot. Port 0 picks a free one.
    Browser(const std::string& address, std::uint16_t port, std::vector<tds::BrowserInstance> served);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // The numeric address and the port bound.
    const std::string& address() const { return address_; }
    std::uint16_t port() const { return port_; }

    // Answers requests until stop().
    void run();
    // From any thread (not a signal handler).
    void stop();

private:
    void answerWaiting();
    // Whether `destination` is this machine's; the machine's addresses are read again, at most once a
    // second, when it is not among those known.
    bool toThisMachine(const std::string& destination);

    int socket_ = -1;
    int wake_[2] = {-1, -1};
    std::string address_;
    std::uint16_t port_ = 0;
    std::vector<tds::BrowserInstance> served_;
    AnswerBudget budget_{kAnswersPerSecond};
    std::vector<std::string> own_;
    std::chrono::steady_clock::time_point ownRead_{};
};

}  // namespace vopa::server
