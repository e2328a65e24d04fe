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

TEST(NotificationCenter, DeliversMatchingNamesInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto a = center.addObserver("x", std::nullopt, [&](const Notification&) { calls.push_back("a"); });
    auto all = center.addObserver(std::nullopt, std::nullopt,
                                  [&](const Notification& n) { calls.push_back("all:" + n.name); });
    auto c = center.addObserver("y", std::nullopt, [&](const Notification& n) {
        calls.push_back("c:" + n.userInfo.at("k").description());
    });
    center.post("x");
    center.post("y", {}, Dictionary{{"k", Value(7)}});
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "all:x", "all:y", "c:7"}));
}

TEST(NotificationCenter, ObjectSendersMatchByIdentityPlainValuesByEquality) {
    NotificationCenter center;
    auto first = std::make_shared<Endpoint>(1);
    auto error = makeError("failed");
    int fromFirst = 0, fromError = 0, fromName = 0;
    auto t1 = center.addObserver("changed", Value(first), [&](const Notification&) { ++fromFirst; });
    auto t2 = center.addObserver("changed", Value(error), [&](const Notification&) { ++fromError; });
    auto t3 = center.addObserver("changed", Value("alpha"), [&](const Notification&) { ++fromName; });

    center.post("changed", Value(first));
    center.post("changed", Value(std::make_shared<Endpoint>(1))); // equal, but another object
    center.post("changed", Value(makeError("failed")));           // same text, another error
    center.post("changed", Value(error));
    center.post("changed", Value(std::string("alpha")));
    center.post("changed", Value("beta"));
    center.post("changed"); // no sender at all
    EXPECT_EQ(fromFirst, 1);
    EXPECT_EQ(fromError, 1);
    EXPECT_EQ(fromName, 1);
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
    center->post("n");
    EXPECT_EQ(calls, 1);

    auto token = center->addObserver("n", std::nullopt, [&](const Notification&) { ++calls; });
    ObserverToken moved(std::move(token));
    center->post("n");
    EXPECT_EQ(calls, 2);
    moved = center->addObserver("n", std::nullopt, [&](const Notification&) { calls += 10; });
    center->post("n"); // assigning over a token removed its observer
    EXPECT_EQ(calls, 12);

    center.reset();
    moved.remove(); // the centre is gone: nothing to do, and no crash
    EXPECT_FALSE(moved.isActive());
}

TEST(NotificationCenter, DefaultCenterTakesPostsFromManyThreads) {
    constexpr int kThreads = 4, kPosts = 500;
    auto& center = NotificationCenter::defaultCenter();
    std::atomic<int> received{0};
    auto token =
        center.addObserver("test.many-threads", std::nullopt, [&](const Notification&) { ++received; });
    std::atomic<bool> posting{true};
    std::thread churn([&] { // observers coming and going during delivery
        while (posting)
            auto t = center.addObserver("test.many-threads", std::nullopt, [](const Notification&) {});
    });
    std::vector<std::thread> posters;
    std::atomic<int> sameCenter{0};
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&] {
            if (&NotificationCenter::defaultCenter() == &center)
                ++sameCenter;
            for (int i = 0; i < kPosts; ++i)
                NotificationCenter::defaultCenter().post("test.many-threads");
        });
    for (auto& p : posters)
        p.join();
    posting = false;
    churn.join();
    EXPECT_EQ(received, kThreads * kPosts);
    EXPECT_EQ(sameCenter, kThreads);
}

} // namespace
} // namespace joblark
