#include "WrongPasswordDelay.h"

#include <algorithm>
#include <utility>

namespace vopa::signin {
namespace {

using std::chrono::milliseconds;

// Wrong passwords in a row that cost nothing; the wait after the next one; the longest wait.
constexpr int kFreeWrongPasswords = 2;
constexpr milliseconds kFirstWait{1000};
constexpr milliseconds kLongestWait{30000};

Clock& installedClock() {
    static Clock clock;
    return clock;
}

std::chrono::steady_clock::time_point now() {
    const Clock& clock = installedClock();
    return clock ? clock() : std::chrono::steady_clock::now();
}

milliseconds waitAfter(int wrongInARow) {
    if (wrongInARow <= kFreeWrongPasswords) return milliseconds{0};
    milliseconds wait = kFirstWait;
    for (int n = kFreeWrongPasswords + 1; n < wrongInARow && wait < kLongestWait; ++n) wait *= 2;
    return std::min(wait, kLongestWait);
}

}  // namespace

Clock installClock(Clock clock) { return std::exchange(installedClock(), std::move(clock)); }

milliseconds WrongPasswordDelay::wrongPassword(const std::string& user) {
    Run& run = runs_[user];
    ++run.wrong;
    const milliseconds wait = waitAfter(run.wrong);
    run.until = now() + wait;
    return wait;
}

void WrongPasswordDelay::rightPassword(const std::string& user) { runs_.erase(user); }

milliseconds WrongPasswordDelay::remaining(const std::string& user) const {
    const auto it = runs_.find(user);
    if (it == runs_.end()) return milliseconds{0};
    const auto left = std::chrono::ceil<milliseconds>(it->second.until - now());
    return std::max(left, milliseconds{0});
}

}  // namespace vopa::signin
