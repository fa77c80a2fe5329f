#include "server/tds/Browser.h"

#include <algorithm>

namespace vopa::tds {

namespace {

constexpr std::uint8_t kUnicastAll = 0x03;
constexpr std::uint8_t kUnicastInstance = 0x04;
constexpr std::uint8_t kResponse = 0x05;
constexpr std::size_t kMaxInstanceName = 32;
constexpr std::size_t kMaxOneInstanceText = 1024;
constexpr std::size_t kMaxAllInstancesText = 0xFFFF;

char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiUpper(x) == asciiUpper(y); });
}

bool usableField(const std::string& field) {
    return !field.empty() && field.find(';') == std::string::npos && field.find('\0') == std::string::npos;
}

Bytes response(const std::string& text) {
    Bytes out;
    Writer w(out);
    w.u8(kResponse);
    w.u16(static_cast<std::uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

}  // namespace

std::optional<BrowserRequest> decodeBrowserRequest(ByteView datagram) {
    if (datagram.empty() || datagram.size() > kMaxBrowserRequest) return std::nullopt;
    switch (datagram[0]) {
        case kUnicastAll:
            if (datagram.size() != 1) return std::nullopt;
            return BrowserRequest{BrowserRequestKind::AllInstances, {}};
        case kUnicastInstance: {
            ByteView name = datagram.subspan(1);
            // The terminating NUL is optional: some clients send the name alone.
            if (!name.empty() && name.back() == 0) name = name.first(name.size() - 1);
            if (name.empty() || name.size() > kMaxInstanceName) return std::nullopt;
            if (std::find(name.begin(), name.end(), std::uint8_t{0}) != name.end()) return std::nullopt;
            return BrowserRequest{BrowserRequestKind::OneInstance, std::string(name.begin(), name.end())};
        }
        default:
            return std::nullopt;
    }
}

std::string describeBrowserInstance(const BrowserInstance& instance) {
    if (!usableField(instance.serverName) || !usableField(instance.instanceName) || !usableField(instance.version) ||
        instance.tcpPort == 0)
        return {};
    return "ServerName;" + instance.serverName + ";InstanceName;" + instance.instanceName + ";IsClustered;No;Version;" +
           instance.version + ";tcp;" + std::to_string(instance.tcpPort) + ";;";
}

Bytes encodeBrowserAnswer(const BrowserRequest& request, const std::vector<BrowserInstance>& served) {
    if (request.kind == BrowserRequestKind::OneInstance) {
        const auto found = std::find_if(served.begin(), served.end(), [&](const BrowserInstance& i) {
            return sameName(i.instanceName, request.instanceName);
        });
        if (found == served.end()) return {};
        const std::string text = describeBrowserInstance(*found);
        if (text.empty() || text.size() > kMaxOneInstanceText) return {};
        return response(text);
    }
    std::string text;
    for (const BrowserInstance& i : served) {
        const std::string one = describeBrowserInstance(i);
        if (!one.empty() && text.size() + one.size() <= kMaxAllInstancesText) text += one;
    }
    if (text.empty()) return {};
    return response(text);
}

std::string browserVersion(const ProductVersion& version) {
    return std::to_string(version.major) + '.' + std::to_string(version.minor) + '.' + std::to_string(version.build) +
           '.' + std::to_string(version.subBuild);
}

}  // namespace vopa::tds
