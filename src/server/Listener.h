#pragma once
// The listening socket and the accept loop: one Connection on its own thread per client; stop() ends
// the loop and every connection (each finishes the request it is running) before run() returns.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/Settings.h"

namespace vopa::server {

class Connection;

class Listener {
public:
    // Binds and listens; throws std::runtime_error saying why it cannot.
    explicit Listener(Settings settings);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // The address and port listened on ("127.0.0.1", "::1"), the port as bound (a free one for 0).
    const std::string& address() const { return address_; }
    std::uint16_t port() const { return port_; }

    void run();
    // From any thread (not a signal handler).
    void stop();

private:
    struct Client {
        std::shared_ptr<Connection> connection;
        std::thread thread;
    };
    void reapFinished();

    Settings settings_;
    int socket_ = -1;
    int wake_[2] = {-1, -1};
    std::string address_;
    std::uint16_t port_ = 0;
    std::uint16_t nextSpid_ = 51;
    std::vector<Client> clients_;
};

}  // namespace vopa::server
