#pragma once
// One client connection on its own thread: PRELOGIN, the TLS handshake when encryption is agreed, LOGIN7,
// then requests until the client leaves.
// A malformed, truncated or oversized packet, a timeout or a failed login closes this connection only.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "server/Settings.h"
#include "server/Transport.h"
#include "server/tds/Packet.h"
#include "server/tds/Prelogin.h"

namespace vopa::server {

class RequestDispatcher;

// The version the server gives in PRELOGIN, LOGINACK and the Browser's answers: the TDS 7.4 generation
// of the server.
inline constexpr tds::ProductVersion kServerVersion{11, 0, 2100, 0};

class Connection {
public:
    Connection(int socket, std::uint16_t spid, const Settings& settings);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Serves the client to the end; never throws.
    void run();
    // From another thread: ends run() at its next read (a running batch completes first).
    void shutdown();
    bool finished() const { return finished_; }

private:
    enum class Wait { Login, Idle };
    // The next whole message, or nothing when the client left, timed out or the server stops.
    std::optional<tds::Message> receive(Wait wait);
    // Reads what has arrived without waiting; true when an attention is among it.
    bool attentionArrived();
    // Runs `request` (the dispatcher's work) while a thread of its own watches the client: an
    // attention, or the client leaving, cancels the running batch between statements or inside a
    // long one.
    enum class RequestEnd { Done, Cancelled, ClientGone };
    RequestEnd runWatched(const std::function<void()>& request);
    void send(const tds::Bytes& tokens);
    bool login(const tds::Message& message);
    void serve(const tds::Message& message);
    void refuseLogin(int number, const std::string& text, const std::string& userName, bool alsoFailed);
    void refuseUnencrypted(const tds::Message& login);
    void readSome(int timeoutMillis, bool& closed, bool& timedOut);
    // The client's IP address as text (the key of the failed-login count).
    std::string clientAddress() const;

    int socket_;
    Transport transport_;
    std::uint16_t spid_;
    const Settings& settings_;
    tds::MessageAssembler assembler_;
    std::deque<tds::Message> backlog_;
    std::uint32_t tdsVersion_ = 0;
    std::uint32_t packetSize_ = tds::kDefaultPacketSize;
    std::unique_ptr<RequestDispatcher> dispatcher_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    int wake_ = -1;  // eventfd that ends the watcher of a request when the request is done
};

}  // namespace vopa::server
