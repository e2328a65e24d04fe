#pragma once

// One quillnest-local for the whole test program (the client reads the service's address once), a
// private home, and preferences in a fresh file for every test.

#include "LocalService.hpp"
#include "TemporaryEnvironment.hpp"

#include "State/AppStateController.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace kestrova::testing {

class ScreenEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
    static ScreenEnvironment& current();

    joblark::testing::TemporaryDirectory home, serviceDirectory;
    joblark::testing::ScopedEnvironment environment;
    std::unique_ptr<LocalService> service;
};

/// Fresh preferences with the application's defaults; automatic refresh off so no timer runs
/// unless a test starts one.
class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override;
    /// Lets the controllers' queued saves finish while their cache folder still exists.
    void TearDown() override;
    /// A controller of its own, signed out, with a fixed device id.
    std::shared_ptr<AppStateController> makeController();
    /// Signs `controller` in with the demo token and a first sync.
    void signIn(AppStateController& controller);

    joblark::testing::TemporaryDirectory cache, preferences;
    std::vector<std::weak_ptr<AppStateController>> controllers_;
};

} // namespace kestrova::testing
