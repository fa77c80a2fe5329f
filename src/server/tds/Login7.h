#pragma once
// LOGIN7: the client's login record.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "server/tds/Wire.h"

namespace vopa::tds {

namespace login {
// OptionFlags1
inline constexpr std::uint8_t kUseDbFatal = 0x20;
inline constexpr std::uint8_t kInitDbFatal = 0x40;
inline constexpr std::uint8_t kSetLangWarning = 0x80;
// OptionFlags2
inline constexpr std::uint8_t kInitLangFatal = 0x01;
inline constexpr std::uint8_t kOdbc = 0x02;
inline constexpr std::uint8_t kIntegratedSecurity = 0x80;
// TypeFlags
inline constexpr std::uint8_t kReadOnlyIntent = 0x20;
// OptionFlags3
inline constexpr std::uint8_t kChangePassword = 0x01;
inline constexpr std::uint8_t kUserInstance = 0x02;
inline constexpr std::uint8_t kExtension = 0x10;
}  // namespace login

struct FeatureExtension {
    std::uint8_t id = 0;
    Bytes data;
};

struct Login7 {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;  // 0: the server's default
    std::uint32_t clientProgramVersion = 0;
    std::uint32_t clientPid = 0;
    std::uint32_t connectionId = 0;
    std::uint8_t optionFlags1 = 0;
    std::uint8_t optionFlags2 = 0;
    std::uint8_t typeFlags = 0;
    std::uint8_t optionFlags3 = 0;
    std::int32_t clientTimeZone = 0;
    std::uint32_t clientLcid = 0;
    std::array<std::uint8_t, 6> clientId{};

    std::string hostName;
    std::string userName;
    std::string password;  // de-obfuscated
    std::string appName;
    std::string serverName;
    std::string libraryName;
    std::string language;
    std::string database;
    std::string attachDbFile;
    std::string changePassword;  // de-obfuscated (7.2 and later)
    Bytes sspi;                  // the integrated-security token, when there is one

    bool hasFeatureExtension = false;  // 7.4: the record points at a list of features
    std::vector<FeatureExtension> features;

    bool integratedSecurity() const { return (optionFlags2 & login::kIntegratedSecurity) != 0; }
};

// Parses a LOGIN7 payload. The declared length must lie within the payload and is the bound of every
// offset; each string lies after the fixed part and within that bound, with at most the characters the
// protocol allows for it; the feature list is read to its terminator, each feature within the bound.
Login7 decodeLogin7(ByteView payload);

// The TDS version the server speaks with a client that asked for `requested` (7.1 up to 7.4); a
// version below 7.1 throws ProtocolError.
std::uint32_t negotiateTdsVersion(std::uint32_t requested);

}  // namespace vopa::tds
