#include "quillnest/SignInThrottle.hpp"

#include <algorithm>
#include <cctype>

namespace quillnest {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

} // namespace

SignInThrottle::SignInThrottle(SignInPolicy policy, std::function<Clock::time_point()> now)
    : policy_(policy), now_(std::move(now)) {}

std::chrono::seconds SignInThrottle::waitFor(Count& count, int free, Clock::time_point now) const {
    if (count.failures > 0 && now - count.last >= policy_.forgetAfter)
        count = Count{};
    if (count.failures < free)
        return std::chrono::seconds(0);
    // Doubling from the first delay; the shift is bounded before it could overflow.
    const int doublings = std::min(count.failures - free, 20);
    const auto delay =
        std::min<std::chrono::seconds>(policy_.firstDelay * (1LL << doublings), policy_.longestDelay);
    const auto left = count.last + delay - now;
    if (left <= Clock::duration::zero())
        return std::chrono::seconds(0);
    return std::chrono::ceil<std::chrono::seconds>(left);
}

void SignInThrottle::prune(std::unordered_map<std::string, Count>& records, Clock::time_point now) {
    if (records.size() < policy_.records)
        return;
    std::erase_if(records, [&](const auto& r) { return now - r.second.last >= policy_.forgetAfter; });
    // Still full: under a flood of names the quiet half goes, recent offenders stay.
    while (records.size() >= policy_.records) {
        auto oldest = std::min_element(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return a.second.last < b.second.last;
        });
        records.erase(oldest);
    }
}

std::chrono::seconds SignInThrottle::attempt(std::string_view account, const std::string& address) {
    std::lock_guard lock(mutex_);
    const auto now = now_();
    const auto key = lower(account);
    prune(accounts_, now);
    prune(addresses_, now);
    auto& byAccount = accounts_[key];
    auto& byAddress = addresses_[address];
    const auto wait = std::max(waitFor(byAccount, policy_.accountFailures, now),
                               waitFor(byAddress, policy_.addressFailures, now));
    if (wait.count() > 0)
        return wait;
    ++byAccount.failures;
    byAccount.last = now;
    ++byAddress.failures;
    byAddress.last = now;
    return std::chrono::seconds(0);
}

void SignInThrottle::succeeded(std::string_view account, const std::string& address) {
    std::lock_guard lock(mutex_);
    accounts_.erase(lower(account));
    if (auto it = addresses_.find(address); it != addresses_.end() && it->second.failures > 0)
        --it->second.failures;
}

} // namespace quillnest
