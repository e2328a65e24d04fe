#pragma once

// A state controller of the test's own with a state built by hand, and models to put in it.

#include "RecordingViews.hpp"
#include "TemporaryEnvironment.hpp"
#include "TestSupport.hpp"

#include "State/AppStateController.hpp"

#include <gtest/gtest.h>

namespace kestrova::testing {

inline std::shared_ptr<Check> check(std::optional<Check::Status> status,
                                    std::optional<std::int64_t> responseTime = {}) {
    auto c = std::make_shared<Check>();
    c->status = status;
    c->responseTime = responseTime;
    return c;
}

inline std::shared_ptr<Endpoint> endpoint(std::string id,
                                          std::optional<Check::Status> last = Check::Status::ok) {
    auto e = std::make_shared<Endpoint>();
    e->id = id;
    e->name = "Endpoint " + id;
    e->url = joblark::URL::parse("http://service.test/api/endpoints/" + id);
    e->endpointUrl = joblark::URL::parse("https://" + id + ".example/health");
    e->lastCheckStatus = last;
    e->updatedAt = joblark::Date::fromTimeIntervalSince1970(1'700'000'000);
    return e;
}

inline std::shared_ptr<Measure> measure(std::string id,
                                        std::optional<Assessment::Status> last = Assessment::Status::ok) {
    auto m = std::make_shared<Measure>();
    m->id = id;
    m->name = "Measure " + id;
    m->url = joblark::URL::parse("http://service.test/api/measures/" + id);
    m->lastStatus = last;
    m->updatedAt = joblark::Date::fromTimeIntervalSince1970(1'700'000'000);
    return m;
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("HOME", home.path().string());
        for (const char* variable : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            env.set(variable, (home.path() / variable).string());
        env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        joblark::testing::useTaskController();
        controller = AppStateController::make(home.path() / "AppState.plist");
        host = std::make_shared<RecordingHost>();
        platform = std::make_shared<RecordingPlatform>();
    }

    /// Signs a user in locally (no service) with these lists.
    void setState(std::optional<std::vector<std::shared_ptr<Endpoint>>> endpoints,
                  std::optional<std::vector<std::shared_ptr<Measure>>> measures, bool withUser = true) {
        controller->state = std::make_shared<AppState>();
        if (withUser) {
            controller->state->user = std::make_shared<User>();
            controller->state->user->id = "user";
            controller->state->user->isStatusPageEnabled = true;
        }
        controller->state->endpoints = std::move(endpoints);
        controller->state->measures = std::move(measures);
    }

    joblark::testing::TemporaryDirectory home;
    joblark::testing::ScopedEnvironment env;
    std::shared_ptr<AppStateController> controller;
    std::shared_ptr<RecordingHost> host;
    std::shared_ptr<RecordingPlatform> platform;
};

} // namespace kestrova::testing
