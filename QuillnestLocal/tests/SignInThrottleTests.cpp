#include "quillnest/SignInThrottle.hpp"

#include <gtest/gtest.h>

namespace quillnest {
namespace {

using namespace std::chrono_literals;

TEST(SignInThrottle, WaitsDoubleAfterTheFreeFailuresUpToTheLongest) {
    auto now = SignInThrottle::Clock::time_point{} + 1h;
    SignInPolicy policy;
    policy.accountFailures = 3;
    policy.longestDelay = 4s;
    policy.forgetAfter = 60s;
    SignInThrottle throttle(policy, [&] { return now; });
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(throttle.attempt("Ana@example.com", "10.0.0.1"), 0s);
    // Each allowed attempt counts until it succeeds; refused ones do not.
    for (auto delay : {1s, 2s, 4s, 4s}) {
        EXPECT_EQ(throttle.attempt("ana@EXAMPLE.com", "10.0.0.2"), delay);
        EXPECT_EQ(throttle.attempt("ana@example.com", "10.0.0.2"), delay);
        now += delay - 1ms;
        EXPECT_EQ(throttle.attempt("ana@example.com", "10.0.0.2"), 1s) << "rounded up";
        now += 1ms;
        EXPECT_EQ(throttle.attempt("ana@example.com", "10.0.0.2"), 0s);
    }
    EXPECT_EQ(throttle.attempt("bo@example.com", "10.0.0.1"), 0s) << "other accounts are not held up";
    throttle.succeeded("ANA@example.com", "10.0.0.2");
    EXPECT_EQ(throttle.attempt("ana@example.com", "10.0.0.2"), 0s) << "a success clears the account";

    for (int i = 0; i < 3; ++i)
        throttle.attempt("cy@example.com", "10.0.0.3");
    now += 60s;
    EXPECT_EQ(throttle.attempt("cy@example.com", "10.0.0.3"), 0s) << "a quiet minute forgets";
}

TEST(SignInThrottle, AnAddressIsCountedAcrossAccountsAndSuccessesGiveBackOnlyTheirOwn) {
    auto now = SignInThrottle::Clock::time_point{} + 1h;
    SignInPolicy policy;
    policy.addressFailures = 3;
    SignInThrottle throttle(policy, [&] { return now; });
    throttle.attempt("a@example.com", "10.0.0.1");
    throttle.attempt("b@example.com", "10.0.0.1");
    throttle.attempt("ok@example.com", "10.0.0.1");
    throttle.succeeded("ok@example.com", "10.0.0.1");
    EXPECT_EQ(throttle.attempt("c@example.com", "10.0.0.1"), 0s);
    EXPECT_EQ(throttle.attempt("d@example.com", "10.0.0.1"), 1s);
    EXPECT_EQ(throttle.attempt("d@example.com", "10.0.0.2"), 0s);
}

TEST(SignInThrottle, AFloodOfNamesPrunesTheOldestRecordsFirst) {
    auto now = SignInThrottle::Clock::time_point{} + 1h;
    SignInPolicy policy;
    policy.accountFailures = 1;
    policy.records = 100;
    SignInThrottle throttle(policy, [&] { return now; });
    for (int i = 0; i < 1000; ++i) {
        now += 1ms;
        throttle.attempt("x" + std::to_string(i) + "@example.com", "10.0.0." + std::to_string(i % 200));
    }
    // Pruning dropped the oldest records, not the newest offender.
    EXPECT_EQ(throttle.attempt("x999@example.com", "10.0.1.1"), 1s);
}

} // namespace
} // namespace quillnest
