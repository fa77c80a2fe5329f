#pragma once
// A clock for the sign-in's waits that moves only when the test moves it, installed for the lifetime of
// the object (the previous clock comes back after).

#include <chrono>

#include "signin/WrongPasswordDelay.h"

namespace vopa::testing {

class FakeSignInClock {
public:
    FakeSignInClock() : previous_(signin::installClock([this] { return now_; })) {}
    ~FakeSignInClock() { signin::installClock(previous_); }
    FakeSignInClock(const FakeSignInClock&) = delete;
    FakeSignInClock& operator=(const FakeSignInClock&) = delete;

    void advance(std::chrono::milliseconds by) { now_ += by; }

private:
    std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
    signin::Clock previous_;
};

}  // namespace vopa::testing
