#include "server/Connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "platform/engine/EngineError.h"
#include "server/RequestDispatch.h"
#include "server/tds/Login7.h"
#include "server/tds/Prelogin.h"
#include "server/tds/Requests.h"
#include "server/tds/Tokens.h"

namespace vopa::server {

namespace {

constexpr const char* kProgramName = "Microsoft SQL Server";

int millis(std::chrono::seconds s) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(s).count();
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

}  // namespace

Connection::Connection(int socket, std::uint16_t spid, const Settings& settings)
    : socket_(socket), transport_(socket, millis(settings.readTimeout)), spid_(spid), settings_(settings),
      wake_(::eventfd(0, EFD_CLOEXEC)) {}

Connection::~Connection() {
    dispatcher_.reset();  // the engine session ends before its connection
    ::close(socket_);
    if (wake_ >= 0) ::close(wake_);
}

void Connection::shutdown() {
    stopping_ = true;
    ::shutdown(socket_, SHUT_RDWR);
}

void Connection::run() {
    try {
        std::optional<tds::Message> m = receive(Wait::Login);
        bool encrypted = false;
        if (m && m->type == tds::PacketType::Prelogin) {
            const tds::Prelogin prelogin = tds::decodePrelogin(m->payload);
            const tds::Encryption encryption = tds::negotiateEncryption(
                prelogin.encryption, settings_.tls != nullptr, settings_.encryptionRequired);
            if (prelogin.encryption &&
                (*prelogin.encryption == static_cast<std::uint8_t>(tds::Encryption::On) ||
                 *prelogin.encryption == static_cast<std::uint8_t>(tds::Encryption::Required)) && !settings_.tls)
                std::cerr << "connection " << spid_
                          << ": the client requires encryption, which this server does not offer (no certificate)\n";
            // The handshake may only start once the client has the answer: bytes sent before it would be
            // taken as plain (a login among them).
            if (encryption != tds::Encryption::NotSupported && !assembler_.empty())
                throw tds::ProtocolError("the client sent more before the PRELOGIN answer");
            send(tds::encodePreloginResponse(kServerVersion, encryption));
            if (encryption != tds::Encryption::NotSupported) {
                // The handshake comes next inside PRELOGIN packets; the login is read through TLS.
                transport_.startTls(*settings_.tls, encryption == tds::Encryption::Off, spid_);
                encrypted = true;
            }
            m = receive(Wait::Login);
        }
        if (m) {
            if (m->type != tds::PacketType::Login7) throw tds::ProtocolError("a request before the login");
            if (settings_.encryptionRequired && !encrypted) refuseUnencrypted(*m);
            else if (login(*m)) {
                while (auto request = receive(Wait::Idle)) serve(*request);
            }
        }
    } catch (const tds::ProtocolError& e) {
        std::cerr << "connection " << spid_ << ": closed on a protocol error: " << e.what() << '\n';
    } catch (const ClientGone&) {
    } catch (const std::exception& e) {
        std::cerr << "connection " << spid_ << ": closed: " << e.what() << '\n';
    }
    ::shutdown(socket_, SHUT_RDWR);
    finished_ = true;
}

void Connection::readSome(int timeoutMillis, bool& closed, bool& timedOut) {
    tds::Bytes plain;
    const Transport::Read r = transport_.read(timeoutMillis, plain);
    closed = r == Transport::Read::Closed;
    timedOut = r == Transport::Read::TimedOut;
    if (!plain.empty()) assembler_.feed(plain);
}

std::optional<tds::Message> Connection::receive(Wait wait) {
    bool partial = false;  // bytes of a message have come, not yet all of them
    for (;;) {
        if (!backlog_.empty()) {
            tds::Message m = std::move(backlog_.front());
            backlog_.pop_front();
            return m;
        }
        if (assembler_.hasMessage()) return assembler_.next();
        if (stopping_) return std::nullopt;
        const bool waitingForLogin = wait == Wait::Login;
        const int timeout = millis(waitingForLogin || partial ? settings_.readTimeout : settings_.idleTimeout);
        bool closed = false, timedOut = false;
        readSome(timeout, closed, timedOut);
        if (closed) return std::nullopt;
        if (timedOut) {
            std::cerr << "connection " << spid_ << ": "
                      << (waitingForLogin || partial ? "no data from the client in time" : "idle too long") << ", closed\n";
            return std::nullopt;
        }
        partial = !assembler_.hasMessage();
    }
}

bool Connection::attentionArrived() {
    bool attention = false;
    for (;;) {
        bool closed = false, timedOut = false;
        readSome(0, closed, timedOut);
        if (closed) stopping_ = true;
        if (closed || timedOut) break;
    }
    while (assembler_.hasMessage()) {
        tds::Message m = assembler_.next();
        if (m.type == tds::PacketType::Attention) attention = true;
        else backlog_.push_back(std::move(m));
    }
    return attention;
}

Connection::RequestEnd Connection::runWatched(const std::function<void()>& request) {
    dispatcher_->resetCancel();
    if (wake_ < 0) {
        request();
        return attentionArrived() ? RequestEnd::Cancelled : RequestEnd::Done;
    }
    bool attention = false, gone = false;
    std::exception_ptr watchFailure;
    std::thread watcher([&] {
        try {
            for (;;) {
                pollfd p[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
                if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
                if (p[1].revents) break;  // the request is done
                if (!p[0].revents) continue;
                bool closed = false, timedOut = false;
                readSome(0, closed, timedOut);
                while (assembler_.hasMessage()) {
                    tds::Message m = assembler_.next();
                    if (m.type == tds::PacketType::Attention) attention = true;
                    else backlog_.push_back(std::move(m));
                }
                gone = closed;
                if (attention || gone) {
                    dispatcher_->cancel();
                    break;
                }
            }
        } catch (...) {
            watchFailure = std::current_exception();
            dispatcher_->cancel();
        }
    });
    const auto done = [&] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t w = ::write(wake_, &one, sizeof one);
        watcher.join();
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t r = ::read(wake_, &count, sizeof count);
    };
    try {
        request();
    } catch (...) {
        done();
        throw;
    }
    done();
    if (watchFailure) std::rethrow_exception(watchFailure);
    if (gone) {
        stopping_ = true;
        return RequestEnd::ClientGone;
    }
    return attention || attentionArrived() ? RequestEnd::Cancelled : RequestEnd::Done;
}

void Connection::send(const tds::Bytes& tokens) {
    tds::Bytes packets;
    tds::writePackets(tds::PacketType::TabularResult, tokens, packetSize_, spid_, packets);
    transport_.write(packets);
}

void Connection::refuseLogin(int number, const std::string& text, const std::string& userName, bool alsoFailed) {
    tds::TokenWriter w(tdsVersion_);
    ResultEncoder encoder(tdsVersion_, settings_.serverName);
    w.message(encoder.message(engine::EngineError(number, text, 14, 1), 1));
    if (alsoFailed)
        w.message(encoder.message(engine::EngineError(18456, "Login failed for user '" + userName + "'.", 14, 1), 1));
    w.done(tds::done::kError, 0, 0);
    send(w.take());
}

void Connection::refuseUnencrypted(const tds::Message& login) {
    // The login came in plain: it is not decoded (its password stays unread), only its TDS version is
    // taken, for the form of the error.
    const auto& p = login.payload;
    const std::uint32_t requested = p.size() >= 8 ? static_cast<std::uint32_t>(p[4] | p[5] << 8 | p[6] << 16) |
                                                        static_cast<std::uint32_t>(p[7]) << 24
                                                  : 0;
    tdsVersion_ = tds::negotiateTdsVersion(requested);
    std::cerr << "connection " << spid_ << ": refused a client that does not encrypt\n";
    refuseLogin(18456, "Login failed. Encryption is required to connect to this server.", "", false);
}

std::string Connection::clientAddress() const {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    char text[INET6_ADDRSTRLEN] = {};
    if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return "?";
    if (peer.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
    else if (peer.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr, text, sizeof text);
    return text[0] ? text : "?";
}

bool Connection::login(const tds::Message& message) {
    const tds::Login7 l = tds::decodeLogin7(message.payload);
    tdsVersion_ = tds::negotiateTdsVersion(l.tdsVersion);
    if (l.integratedSecurity() || !l.sspi.empty()) {
        refuseLogin(18452,
                    "Login failed. Integrated (Windows) authentication is not available on this server; "
                    "connect with a SQL Server login and password.",
                    l.userName, false);
        return false;
    }
    const std::string failed = "Login failed for user '" + l.userName + "'.";
    if (l.userName.empty()) {
        refuseLogin(18456, failed, l.userName, false);
        return false;
    }
    engine::ConnectOptions options{settings_.instance, l.database, l.userName, l.password};
    const std::string address = clientAddress();
    try {
        dispatcher_ = std::make_unique<RequestDispatcher>(options, tdsVersion_, settings_.serverName,
                                                          engine::SignIn::CheckPassword);
        settings_.throttle->succeeded(address);
    } catch (const engine::EngineError& e) {
        if (e.number() == engine::err::LoginFailed) {
            // An unknown login, a wrong password and a disabled login get the same answer; the reason
            // stays here. Repeated failures from one address wait before the answer (this thread only).
            std::cerr << "connection " << spid_ << " from " << address << ": " << e.what() << '\n';
            const std::chrono::milliseconds wait = settings_.throttle->failed(address);
            // In short steps, so that a stopping server does not wait for it.
            for (auto until = std::chrono::steady_clock::now() + wait; !stopping_ && std::chrono::steady_clock::now() < until;)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            refuseLogin(18456, failed, l.userName, false);
        } else if (e.number() == engine::err::LoginFailedDatabase) {
            refuseLogin(e.number(), e.what(), l.userName, true);  // the text ends "The login failed."
        } else if (e.number() == engine::err::DefaultDatabaseUnavailable) {
            refuseLogin(e.number(), e.what(), l.userName, true);
        } else {
            std::cerr << "connection " << spid_ << ": login of '" << l.userName << "' failed: " << e.what() << '\n';
            refuseLogin(18456, failed, l.userName, false);
        }
        return false;
    }
    const std::uint32_t packetSize = tds::negotiatePacketSize(l.packetSize);
    ResultEncoder encoder(tdsVersion_, settings_.serverName);
    tds::TokenWriter w(tdsVersion_);
    const std::string database = dispatcher_->currentDatabase();
    w.envDatabase(database, "master");
    w.message(encoder.info(5701, "Changed database context to '" + database + "'."));
    w.envCollation(tds::Collation{});
    w.envLanguage("us_english", "");
    w.message(encoder.info(5703, "Changed language setting to us_english."));
    w.loginAck(kProgramName, kServerVersion);
    w.envPacketSize(packetSize, tds::kDefaultPacketSize);
    w.done(tds::done::kFinal, 0, 0);
    send(w.take());
    packetSize_ = packetSize;
    assembler_.setPacketSize(packetSize);
    return true;
}

void Connection::serve(const tds::Message& m) {
    tds::TokenWriter w(tdsVersion_);
    switch (m.type) {
    case tds::PacketType::Attention:
        // Nothing is running any more: the acknowledgement alone.
        w.done(tds::done::kAttention, 0, 0);
        return send(w.take());
    case tds::PacketType::SqlBatch:
    case tds::PacketType::Rpc: {
        tds::Bytes answer;
        if (m.resetConnection()) answer = dispatcher_->reset();
        tds::Bytes results;
        const RequestEnd end = runWatched([&] {
            results = m.type == tds::PacketType::SqlBatch ? dispatcher_->batch(tds::decodeSqlBatch(m.payload, tdsVersion_))
                                                          : dispatcher_->rpc(tds::decodeRpc(m.payload, tdsVersion_));
        });
        // A cancel that came while the request ran stopped it: what it had done is dropped and the
        // cancel acknowledged. A client that left gets nothing.
        if (end == RequestEnd::ClientGone) return;
        if (end == RequestEnd::Cancelled) {
            w.done(tds::done::kAttention, 0, 0);
            return send(w.take());
        }
        answer.insert(answer.end(), results.begin(), results.end());
        return send(answer);
    }
    case tds::PacketType::TransactionManager: {
        tds::Bytes answer;
        if (m.resetConnection()) answer = dispatcher_->reset();
        const tds::Bytes results = dispatcher_->transaction(tds::decodeTransactionManager(m.payload, tdsVersion_));
        answer.insert(answer.end(), results.begin(), results.end());
        return send(answer);
    }
    default:
        throw tds::ProtocolError("a message of type " + std::to_string(static_cast<int>(m.type)) + " after the login");
    }
}

}  // namespace vopa::server
