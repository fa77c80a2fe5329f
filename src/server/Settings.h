#pragma once
// How vopa-server listens and how long it waits for its clients.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "server/LoginThrottle.h"

namespace vopa::server {

class TlsContext;

// Whether a client must encrypt: `ByAddress` requires it on any address but loopback.
enum class EncryptionPolicy { ByAddress, Required, Optional };

// True when clients of a server listening on `numericAddress` ("127.0.0.1", "::1", "0.0.0.0") must
// encrypt their connection under `policy`.
bool encryptionRequired(const std::string& numericAddress, EncryptionPolicy policy);

struct Settings {
    std::string address = "127.0.0.1";
    std::uint16_t port = 1433;  // 0: any free port
    std::string instance = "(local)";  // the engine's server name of the instance served
    std::string serverName;            // shown in messages; empty: this computer's name
    // A logged-in client that sends nothing for this long is disconnected.
    std::chrono::seconds idleTimeout{8 * 60 * 60};
    // A request (or the login) whose bytes stop arriving for this long is given up, and so is a client
    // that does not read the answer.
    std::chrono::seconds readTimeout{60};
    // The certificate offered to clients; none: encryption is not supported.
    std::shared_ptr<const TlsContext> tls;
    EncryptionPolicy encryption = EncryptionPolicy::ByAddress;
    // Set by the listener from the address it listens on and the policy.
    bool encryptionRequired = false;
    // Failed logins per client address, shared by the server's connections (copies of the settings
    // share it).
    std::shared_ptr<LoginThrottle> throttle = std::make_shared<LoginThrottle>();
};

}  // namespace vopa::server
