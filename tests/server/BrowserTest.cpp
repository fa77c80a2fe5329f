// The SQL Server Browser: its datagrams decoded and answered (no sockets), the option's address and
// port, which destinations are answered, the answer budget, and the UDP socket itself on loopback.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/Browser.h"
#include "server/tds/Browser.h"

namespace {

using vopa::tds::BrowserInstance;
using vopa::tds::BrowserRequest;
using vopa::tds::BrowserRequestKind;
using vopa::tds::Bytes;

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(BrowserCodec, OnlyTheTwoUnicastRequestsAreRead) {
    struct Case {
        const char* what;
        std::string datagram;
        std::optional<BrowserRequestKind> kind;  // nothing: no request
        std::string name;
    };
    const std::vector<Case> cases = {
        {"every instance", std::string("\x03", 1), BrowserRequestKind::AllInstances, ""},
        {"one instance, NUL-terminated", std::string("\x04SQLEXPRESS\0", 12), BrowserRequestKind::OneInstance,
         "SQLEXPRESS"},
        {"one instance, no terminator", "\x04prova", BrowserRequestKind::OneInstance, "prova"},
        {"a name of 32 bytes", "\x04" + std::string(32, 'A') + std::string(1, '\0'), BrowserRequestKind::OneInstance,
         std::string(32, 'A')},
        {"a name of 33 bytes", "\x04" + std::string(33, 'A'), std::nullopt, ""},
        {"a name of 33 bytes and its NUL", "\x04" + std::string(33, 'A') + std::string(1, '\0'), std::nullopt, ""},
        {"no name", "\x04", std::nullopt, ""},
        {"an empty name", std::string("\x04\0", 2), std::nullopt, ""},
        {"a NUL inside the name", std::string("\x04pr\0ova", 7), std::nullopt, ""},
        {"bytes after the request for every instance", std::string("\x03\0", 2), std::nullopt, ""},
        {"a long datagram starting as a request", "\x03" + std::string(2000, 'x'), std::nullopt, ""},
        {"the broadcast request", "\x02", std::nullopt, ""},
        {"the dedicated administrator connection", std::string("\x0F\x01PROVA\0", 8), std::nullopt, ""},
        {"an answer sent back", std::string("\x05\x03\0abc", 6), std::nullopt, ""},
        {"an empty datagram", "", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const Bytes datagram = bytesOf(c.datagram);
        const std::optional<BrowserRequest> r = vopa::tds::decodeBrowserRequest(datagram);
        ASSERT_EQ(r.has_value(), c.kind.has_value()) << c.what;
        if (!r) continue;
        EXPECT_EQ(r->kind, *c.kind) << c.what;
        EXPECT_EQ(r->instanceName, c.name) << c.what;
    }
}

// An SVR_RESP: 0x05, the text's length (little-endian), the text.
Bytes answer(const std::string& text) {
    Bytes out = {0x05, static_cast<std::uint8_t>(text.size() & 0xFF), static_cast<std::uint8_t>(text.size() >> 8)};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

const char* const kDefaultText =
    "ServerName;UFFICIO;InstanceName;MSSQLSERVER;IsClustered;No;Version;11.0.2100.0;tcp;1433;;";
const char* const kProvaText = "ServerName;UFFICIO;InstanceName;PROVA;IsClustered;No;Version;11.0.2100.0;tcp;50123;;";

TEST(BrowserCodec, EachRequestIsAnsweredAboutTheInstancesItAsksFor) {
    const std::vector<BrowserInstance> served = {{"UFFICIO", "MSSQLSERVER", "11.0.2100.0", 1433},
                                                 {"UFFICIO", "PROVA", "11.0.2100.0", 50123}};
    struct Case {
        const char* what;
        BrowserRequest request;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"every instance", {BrowserRequestKind::AllInstances, ""}, answer(std::string(kDefaultText) + kProvaText)},
        {"one, as named", {BrowserRequestKind::OneInstance, "PROVA"}, answer(kProvaText)},
        {"one, in lower case", {BrowserRequestKind::OneInstance, "prova"}, answer(kProvaText)},
        {"one, mixed case", {BrowserRequestKind::OneInstance, "Prova"}, answer(kProvaText)},
        {"the default instance", {BrowserRequestKind::OneInstance, "mssqlserver"}, answer(kDefaultText)},
        {"an instance not served", {BrowserRequestKind::OneInstance, "ALTRA"}, {}},
        {"a shorter name", {BrowserRequestKind::OneInstance, "PROV"}, {}},
        {"a longer name", {BrowserRequestKind::OneInstance, "PROVAX"}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(vopa::tds::encodeBrowserAnswer(c.request, served), c.expected) << c.what;
    EXPECT_EQ(vopa::tds::encodeBrowserAnswer({BrowserRequestKind::AllInstances, ""}, {}), Bytes{})
        << "nothing served, nothing said";
    EXPECT_EQ(vopa::tds::browserVersion({11, 0, 2100, 0}), "11.0.2100.0");
}

TEST(BrowserCodec, AnAnswerStaysWithinItsLimitAndNeverCarriesAnUnreadableField) {
    const std::string longHost(1100, 'H');
    const std::vector<BrowserInstance> served = {{"UFFICIO", "PROVA", "11.0.2100.0", 50123},
                                                 {longHost, "LUNGO", "11.0.2100.0", 1500},
                                                 {"UFF;ICIO", "PUNTO", "11.0.2100.0", 1501},
                                                 {"UFFICIO", "ZERO", "11.0.2100.0", 0}};
    EXPECT_EQ(vopa::tds::encodeBrowserAnswer({BrowserRequestKind::OneInstance, "LUNGO"}, served), Bytes{})
        << "one instance is answered in 1,024 bytes at most";
    EXPECT_EQ(vopa::tds::encodeBrowserAnswer({BrowserRequestKind::OneInstance, "PUNTO"}, served), Bytes{})
        << "a ';' in a field would shift every field after it";
    EXPECT_EQ(vopa::tds::encodeBrowserAnswer({BrowserRequestKind::OneInstance, "ZERO"}, served), Bytes{});
    const std::string lungo =
        "ServerName;" + longHost + ";InstanceName;LUNGO;IsClustered;No;Version;11.0.2100.0;tcp;1500;;";
    EXPECT_EQ(vopa::tds::encodeBrowserAnswer({BrowserRequestKind::AllInstances, ""}, served),
              answer(std::string(kProvaText) + lungo))
        << "the list of every instance may be longer";

    // Every instance, more than 65,535 bytes of them: those that fit, whole.
    std::vector<BrowserInstance> many;
    for (int i = 0; i < 80; ++i) many.push_back({longHost, "I" + std::to_string(i), "11.0.2100.0", 1500});
    const Bytes all = vopa::tds::encodeBrowserAnswer({BrowserRequestKind::AllInstances, ""}, many);
    ASSERT_GE(all.size(), 3u);
    const std::size_t length = all[1] | all[2] << 8;
    EXPECT_EQ(length, all.size() - 3);
    const std::string text(all.begin() + 3, all.end());
    const std::string one = "ServerName;" + longHost + ";InstanceName;I0;IsClustered;No;Version;11.0.2100.0;tcp;1500;;";
    EXPECT_EQ(text.rfind(one, 0), 0u) << "starts with the first instance";
    EXPECT_LE(text.size(), 65535u);
    EXPECT_GT(text.size() + one.size(), 65535u) << "no room left for one more";
    EXPECT_EQ(text.rfind(";;"), text.size() - 2) << "ends on a whole instance";
}

TEST(BrowserOption, AddressAndPortAsWritten) {
    struct Case {
        const char* text;
        bool accepted;
        const char* address;
        std::uint16_t port;
    };
    const std::vector<Case> cases = {
        {"1500", true, "127.0.0.1", 1500},
        {"0", true, "127.0.0.1", 0},
        {"0.0.0.0", true, "0.0.0.0", 1434},
        {"192.168.1.5:1500", true, "192.168.1.5", 1500},
        {"[::1]:1500", true, "::1", 1500},
        {"[::]", true, "::", 1434},
        {"::", true, "::", 1434},
        {"fe80::1", true, "fe80::1", 1434},
        {"ufficio:1434", true, "ufficio", 1434},
        {"", false, "127.0.0.1", 1434},
        {"70000", false, "127.0.0.1", 1434},
        {"192.168.1.5:", false, "127.0.0.1", 1434},
        {":1500", false, "127.0.0.1", 1434},
        {"192.168.1.5:99999", false, "127.0.0.1", 1434},
        {"192.168.1.5:15a", false, "127.0.0.1", 1434},
        {"[::1", false, "127.0.0.1", 1434},
        {"[::1]x", false, "127.0.0.1", 1434},
        {"[::1]:", false, "127.0.0.1", 1434},
        {"[]:1434", false, "127.0.0.1", 1434},
    };
    for (const Case& c : cases) {
        std::string address = "127.0.0.1";
        std::uint16_t port = 1434;
        EXPECT_EQ(vopa::server::parseBrowserEndpoint(c.text, address, port), c.accepted) << c.text;
        EXPECT_EQ(address, c.address) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

TEST(BrowserDestination, OnlyThisMachinesOwnAddressesAreAnswered) {
    const std::vector<std::string> own = {"127.0.0.1", "192.168.1.5", "::1", "fe80::1"};
    const std::vector<std::pair<const char*, bool>> cases = {
        {"127.0.0.1", true},
        {"192.168.1.5", true},
        {"::ffff:192.168.1.5", true},
        {"::1", true},
        {"fe80::1", true},
        {"fe80:0:0:0:0:0:0:1", true},
        {"192.168.1.255", false},
        {"::ffff:192.168.1.255", false},
        {"255.255.255.255", false},
        {"224.0.0.1", false},
        {"ff02::1", false},
        {"10.0.0.1", false},
        {"", false},
        {"not an address", false},
    };
    for (const auto& [destination, answered] : cases)
        EXPECT_EQ(vopa::server::addressedToThisMachine(destination, own), answered) << destination;
}

TEST(BrowserBudget, AnswersPerSecondAreCapped) {
    using namespace std::chrono_literals;
    vopa::server::AnswerBudget budget(3);
    const auto t0 = std::chrono::steady_clock::now();
    struct Step {
        std::chrono::milliseconds at;
        bool allowed;
    };
    const std::vector<Step> steps = {
        {0ms, true},    {0ms, true},    {0ms, true},    {0ms, false},     // a burst of three, not four
        {100ms, false}, {340ms, true},  {340ms, false},                   // one more every third of a second
        {5000ms, true}, {5000ms, true}, {5000ms, true}, {5000ms, false},  // a quiet time saves three, no more
    };
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(budget.take(t0 + steps[i].at), steps[i].allowed) << "step " << i;
}

// A UDP socket of the test on loopback.
class Udp {
public:
    Udp() : s_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        int on = 1;
        ::setsockopt(s_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    ~Udp() { ::close(s_); }
    // False when the system refuses to send there.
    bool send(const std::string& to, std::uint16_t port, const std::string& bytes) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, to.c_str(), &a.sin_addr);
        return ::sendto(s_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Every datagram that arrives within `wait` (the wait starts again after each).
    std::vector<std::string> receive(std::chrono::milliseconds wait = std::chrono::milliseconds(300)) {
        std::vector<std::string> got;
        pollfd p{s_, POLLIN, 0};
        while (::poll(&p, 1, static_cast<int>(wait.count())) == 1) {
            char buffer[70000];
            const ssize_t n = ::recv(s_, buffer, sizeof buffer, 0);
            if (n < 0) break;
            got.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int s_;
};

std::string text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

class RunningBrowser {
public:
    RunningBrowser(const std::string& address, std::vector<BrowserInstance> served)
        : browser_(address, 0, std::move(served)), thread_([this] { browser_.run(); }) {}
    ~RunningBrowser() {
        browser_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return browser_.port(); }

private:
    vopa::server::Browser browser_;
    std::thread thread_;
};

TEST(BrowserSocket, AnswersEachRequestOnceAndIgnoresTheRest) {
    RunningBrowser browser("127.0.0.1", {{"UFFICIO", "PROVA", "11.0.2100.0", 50123}});
    Udp client;
    struct Case {
        const char* what;
        std::string datagram;
        std::vector<std::string> answers;
    };
    const std::vector<Case> cases = {
        {"every instance", "\x03", {text(answer(kProvaText))}},
        {"the instance, in lower case", std::string("\x04prova\0", 7), {text(answer(kProvaText))}},
        {"an instance not served", "\x04" + std::string("ALTRA") + '\0', {}},
        {"a request with too much after it", "\x03" + std::string(5000, '\x03'), {}},
        {"a truncated request", "\x04", {}},
        {"the broadcast request sent straight to it", "\x02", {}},
        {"every instance, after all that", "\x03", {text(answer(kProvaText))}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(client.send("127.0.0.1", browser.port(), c.datagram)) << c.what;
        EXPECT_EQ(client.receive(), c.answers) << c.what;
    }
}

TEST(BrowserSocket, ARequestSentToABroadcastAddressGetsNoAnswer) {
    RunningBrowser browser("0.0.0.0", {{"UFFICIO", "PROVA", "11.0.2100.0", 50123}});
    Udp client;
    ASSERT_TRUE(client.send("127.0.0.1", browser.port(), "\x03"));
    EXPECT_EQ(client.receive(), std::vector<std::string>{text(answer(kProvaText))}) << "sent to this machine";
    // Loopback's broadcast address reaches a socket bound to every address on Linux.
    if (!client.send("127.255.255.255", browser.port(), "\x03"))
        GTEST_SKIP() << "this system sends no loopback broadcast";
    EXPECT_EQ(client.receive(), std::vector<std::string>{}) << "sent to a broadcast address";
}

TEST(BrowserSocket, ASecondBrowserCannotTakeThePortOfTheFirst) {
    vopa::server::Browser first("127.0.0.1", 0, {});
    EXPECT_THROW(vopa::server::Browser("127.0.0.1", first.port(), {}), std::runtime_error);
}

}  // namespace
