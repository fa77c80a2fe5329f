// The SQL Server Browser without sockets: its datagrams decoded and answered, the option's address and
// port, which destinations are answered, and the answer budget (its socket: NamedInstance in ServerTest).

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
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

}  // namespace
