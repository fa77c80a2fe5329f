#pragma once
// The SQL Server Browser's datagrams (UDP port 1434): how a client that knows a server's host and an
// instance name learns the TCP port of that instance. Pure functions over byte buffers; the socket is
// server/Browser.h.
//
// Requests answered, each by one SVR_RESP (0x05, the length of the text as a little-endian USHORT, the
// text):
//   CLNT_UCAST_EX   0x03 alone                          every instance served
//   CLNT_UCAST_INST 0x04, the instance name, [NUL]      that instance (names compared ignoring case),
//                                                       nothing when it is not served
// The text describes each instance as
//   ServerName;HOST;InstanceName;NAME;IsClustered;No;Version;11.0.2100.0;tcp;PORT;;
// Anything else gets no answer: the broadcast request CLNT_BCAST_EX (0x02), the dedicated administrator
// connection's CLNT_UCAST_DAC (0x0F), unknown kinds, a 0x03 with bytes after it, an instance name that
// is empty, longer than 32 bytes or holds a NUL before its end.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/tds/Prelogin.h"
#include "server/tds/Wire.h"

namespace vopa::tds {

struct BrowserInstance {
    std::string serverName;    // this computer's name
    std::string instanceName;  // "MSSQLSERVER" for the default instance
    std::string version;       // "11.0.2100.0"
    std::uint16_t tcpPort = 0;
};

enum class BrowserRequestKind { AllInstances, OneInstance };

struct BrowserRequest {
    BrowserRequestKind kind = BrowserRequestKind::AllInstances;
    std::string instanceName;  // OneInstance: the name asked for, as sent
};

// The longest datagram a request answered can be; a longer one is not read as a request.
inline constexpr std::size_t kMaxBrowserRequest = 1 + 32 + 1;

// The request a datagram carries, or nothing when it is not one this server answers.
std::optional<BrowserRequest> decodeBrowserRequest(ByteView datagram);

// "ServerName;HOST;InstanceName;NAME;IsClustered;No;Version;V;tcp;PORT;;". Empty when a field is empty
// or holds ';' or a NUL (it could not be read back).
std::string describeBrowserInstance(const BrowserInstance& instance);

// The SVR_RESP to a request, or no bytes when there is nothing to answer: an instance that is not
// served, or that cannot be described. An answer about one instance is at most 1,024 bytes of text,
// one about every instance at most 65,535 (the instances that do not fit are left out).
Bytes encodeBrowserAnswer(const BrowserRequest& request, const std::vector<BrowserInstance>& served);

// "11.0.2100.0".
std::string browserVersion(const ProductVersion& version);

}  // namespace vopa::tds
