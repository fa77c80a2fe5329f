#include "server/LoginThrottle.h"

#include <algorithm>

namespace vopa::server {

namespace {
constexpr auto kForgetAfter = std::chrono::hours(1);
constexpr std::chrono::milliseconds kFirstDelay{500};
constexpr std::chrono::milliseconds kLongestDelay{4000};
}  // namespace

std::chrono::milliseconds LoginThrottle::delayFor(int failures) {
    if (failures < 3) return std::chrono::milliseconds(0);
    std::chrono::milliseconds delay = kFirstDelay;
    for (int i = 3; i < failures && delay < kLongestDelay; ++i) delay *= 2;
    return std::min(delay, kLongestDelay);
}

std::chrono::milliseconds LoginThrottle::failed(const std::string& address, Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Addresses that have been quiet for long are forgotten, so that the table stays small.
    if (records_.size() >= kMaxAddresses)
        std::erase_if(records_, [&](const auto& r) { return now - r.second.last > kForgetAfter; });
    Record& r = records_[address];
    if (r.failures > 0 && now - r.last > kForgetAfter) r.failures = 0;
    r.failures = std::min(r.failures + 1, 1000);
    r.last = now;
    return delayFor(r.failures);
}

void LoginThrottle::succeeded(const std::string& address) {
    const std::lock_guard<std::mutex> lock(mutex_);
    records_.erase(address);
}

}  // namespace vopa::server
