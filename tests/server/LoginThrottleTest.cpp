// The wait before answering failed logins: from the third failure in a row from one address, doubling
// up to a ceiling, started again by a success or by an hour without failures, and kept per address.

#include <gtest/gtest.h>

#include "server/LoginThrottle.h"

using vopa::server::LoginThrottle;
using namespace std::chrono_literals;

TEST(LoginThrottle, WaitsFromTheThirdFailureInARowDoublingToACeiling) {
    LoginThrottle t;
    const auto now = LoginThrottle::Clock::now();
    const std::chrono::milliseconds expected[] = {0ms, 0ms, 500ms, 1000ms, 2000ms, 4000ms, 4000ms, 4000ms};
    int n = 0;
    for (const auto wait : expected) EXPECT_EQ(t.failed("10.0.0.1", now), wait) << "failure " << ++n;
    EXPECT_EQ(t.failed("10.0.0.2", now), 0ms) << "another address has a count of its own";
    t.succeeded("10.0.0.1");
    EXPECT_EQ(t.failed("10.0.0.1", now), 0ms) << "a success starts the count again";
    EXPECT_EQ(t.failed("10.0.0.1", now), 0ms);
    EXPECT_EQ(t.failed("10.0.0.1", now), 500ms);
    EXPECT_EQ(t.failed("10.0.0.1", now + 2h), 0ms) << "an hour without failures starts it again";
    EXPECT_EQ(LoginThrottle::delayFor(100000), 4000ms);
}
