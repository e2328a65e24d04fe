#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/Object.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace joblark {
namespace {

// Equal by identifier, like a model object; still a different sender.
class Endpoint : public Object {
public:
    explicit Endpoint(int id) : id_(id) {}
    bool isEqual(const Object& other) const override {
        auto* e = dynamic_cast<const Endpoint*>(&other);
        return e && e->id_ == id_;
    }

private:
    int id_;
};

TEST(NotificationCenter, FiltersByNameAndSenderInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto observe = [&](std::optional<std::string> name, std::optional<Value> sender, std::string label) {
        return center.addObserver(name, sender, [&calls, label](const Notification& n) {
            calls.push_back(label + ":" + n.name +
                            (n.userInfo.empty() ? "" : n.userInfo.at("k").description()));
        });
    };
    auto first = std::make_shared<Endpoint>(1);
    auto error = makeError("failed");
    std::vector<ObserverToken> tokens;
    tokens.push_back(observe("x", std::nullopt, "a"));
    tokens.push_back(observe(std::nullopt, std::nullopt, "all"));
    tokens.push_back(observe("y", std::nullopt, "c"));
    tokens.push_back(observe("s", Value(first), "first"));
    tokens.push_back(observe("s", Value(error), "error"));
    tokens.push_back(observe("s", Value("alpha"), "alpha"));
    center.post("x");
    center.post("y", {}, Dictionary{{"k", Value(7)}});
    EXPECT_EQ(calls, (std::vector<std::string>{"a:x", "all:x", "all:y7", "c:y7"}));

    calls.clear();
    center.post("s", Value(first));
    center.post("s", Value(std::make_shared<Endpoint>(1))); // equal, but another object
    center.post("s", Value(makeError("failed")));           // same text, another error
    center.post("s", Value(error));
    center.post("s", Value(std::string("alpha"))); // plain values match by equality
    center.post("s", Value("beta"));
    center.post("s"); // no sender at all
    EXPECT_EQ(calls, (std::vector<std::string>{"all:s", "first:s", "all:s", "all:s", "all:s", "error:s",
                                               "all:s", "alpha:s", "all:s", "all:s"}));
}

TEST(NotificationCenter, CallbacksMayAddAndRemoveObservers) {
    NotificationCenter center;
    std::vector<std::string> calls;
    ObserverToken self, later, added;
    self = center.addObserver("n", std::nullopt, [&](const Notification&) {
        calls.push_back("self");
        self.remove();  // itself, mid-call
        later.remove(); // one still due in this very post
        added = center.addObserver("n", std::nullopt, [&](const Notification&) { calls.push_back("added"); });
    });
    later = center.addObserver("n", std::nullopt, [&](const Notification&) { calls.push_back("later"); });
    auto last = center.addObserver("n", std::nullopt, [&](const Notification&) { calls.push_back("last"); });
    center.post("n");
    center.post("n"); // an observer added during a post sees the next one
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "last", "last", "added"}));
}

TEST(NotificationCenter, TokensOwnTheirObservers) {
    auto center = std::make_unique<NotificationCenter>();
    int calls = 0;
    {
        auto scoped = center->addObserver("n", std::nullopt, [&](const Notification&) { ++calls; });
        center->post("n");
    }
    auto token = center->addObserver("n", std::nullopt, [&](const Notification&) { calls += 10; });
    token = center->addObserver("n", std::nullopt, [&](const Notification&) { calls += 100; });
    center->post("n"); // the scoped one is gone; assigning over a token removed its observer
    EXPECT_EQ(calls, 101);
    center.reset();
    token.remove(); // the centre is gone: nothing to do, and no crash
    EXPECT_FALSE(token.isActive());
}

TEST(NotificationCenter, DefaultCenterTakesPostsFromManyThreads) {
    constexpr int kThreads = 4, kPosts = 500;
    auto& center = NotificationCenter::defaultCenter();
    std::atomic<int> received{0};
    auto token = center.addObserver("test.many", std::nullopt, [&](const Notification&) { ++received; });
    std::atomic<bool> posting{true};
    std::thread churn([&] { // observers coming and going during delivery
        while (posting)
            auto t = center.addObserver("test.many", std::nullopt, [](const Notification&) {});
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([] {
            for (int i = 0; i < kPosts; ++i)
                NotificationCenter::defaultCenter().post("test.many");
        });
    for (auto& p : posters)
        p.join();
    posting = false;
    churn.join();
    EXPECT_EQ(received, kThreads * kPosts);
}

} // namespace
} // namespace joblark
