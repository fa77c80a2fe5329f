#pragma once
// Wrong passwords typed one after another for the same user cost time: after the third wrong password
// in a row the user's next try waits one second, and each further wrong one doubles the wait, up to
// thirty seconds. The right password ends the user's run. The messages and the attempt count of the
// sign-in are not affected.

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace vopa::signin {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

// Installs the clock the waits are measured with (an empty one: the steady clock) and returns the one
// installed before. Tests install a clock they move by hand.
Clock installClock(Clock clock);

class WrongPasswordDelay {
public:
    // A wrong password for `user`; returns the wait before the user's next try.
    std::chrono::milliseconds wrongPassword(const std::string& user);
    // The right password for `user`: the next wrong one is the first of a new run.
    void rightPassword(const std::string& user);
    // What is left of `user`'s wait now; zero when the user may try.
    std::chrono::milliseconds remaining(const std::string& user) const;

private:
    struct Run {
        int wrong = 0;
        std::chrono::steady_clock::time_point until{};
    };
    std::map<std::string, Run> runs_;
};

}  // namespace vopa::signin
