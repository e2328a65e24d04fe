#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quillnest {

/// When sign-in attempts must wait (see SignInThrottle).
struct SignInPolicy {
    int accountFailures = 5;
    /// Higher than the account's: many people may sign in from one address (loopback, a NAT).
    int addressFailures = 20;
    std::chrono::seconds firstDelay{1};
    std::chrono::seconds longestDelay{300};
    /// A count with no failure for this long starts again from zero.
    std::chrono::seconds forgetAfter{900};
    /// Kept records, at most; the oldest quiet ones go first.
    std::size_t records = 10000;
};

/// Slows password guessing down. Every attempt counts as a failure until it succeeds, so parallel
/// guesses are counted too. Past the free failures of an account (or of a client address), each
/// further attempt waits, twice as long as the one before. A success clears the account's count and
/// takes back its own attempt from the address. Thread-safe.
class SignInThrottle {
public:
    using Clock = std::chrono::steady_clock;

    explicit SignInThrottle(SignInPolicy policy = {}, std::function<Clock::time_point()> now = &Clock::now);

    /// Starts an attempt for `account` (an e-mail address, any case) from `address`. The seconds to
    /// wait when it may not be checked now (nothing is counted then), else zero.
    std::chrono::seconds attempt(std::string_view account, const std::string& address);
    /// The attempt's password was right.
    void succeeded(std::string_view account, const std::string& address);

private:
    struct Count {
        int failures = 0;
        Clock::time_point last{};
    };
    std::chrono::seconds waitFor(Count& count, int free, Clock::time_point now) const;
    void prune(std::unordered_map<std::string, Count>& records, Clock::time_point now);

    SignInPolicy policy_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    std::unordered_map<std::string, Count> accounts_;
    std::unordered_map<std::string, Count> addresses_;
};

} // namespace quillnest
