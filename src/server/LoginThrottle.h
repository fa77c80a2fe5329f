#pragma once
// Slows down guessing: failed logins are counted per client address, and from the third failure in a
// row the answer to each failed login waits, half a second at first, doubling up to four seconds. A
// successful login from the address starts the count again, and so does an hour without failures.
// Shared by every connection of a server; the caller waits on its own connection's thread, so no other
// connection or the listener waits with it.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace vopa::server {

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // Counts a failure from the address; how long to wait before answering it.
    std::chrono::milliseconds failed(const std::string& address, Clock::time_point now = Clock::now());
    void succeeded(const std::string& address);

    // The wait for the n-th failure in a row (n from 1).
    static std::chrono::milliseconds delayFor(int failures);

private:
    struct Record {
        int failures = 0;
        Clock::time_point last;
    };
    static constexpr std::size_t kMaxAddresses = 10000;
    std::mutex mutex_;
    std::map<std::string, Record> records_;
};

}  // namespace vopa::server
