#include "ServiceServer.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace kestrova::testing {

namespace {
std::unique_ptr<joblark::testing::LocalHTTPServer>& serverHolder() {
    static std::unique_ptr<joblark::testing::LocalHTTPServer> server;
    return server;
}
} // namespace

joblark::testing::LocalHTTPServer& serviceServer() {
    return *serverHolder();
}

} // namespace kestrova::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    auto& server = kestrova::testing::serverHolder();
    server = std::make_unique<joblark::testing::LocalHTTPServer>();
    if (!server->isRunning())
        return 1;
    // The service base URL is read once, on first use; it must name the server before that.
    std::string origin = server->urlString("");
    ::setenv("KESTROVA_SERVICE_URL", origin.c_str(), 1);
    int status = RUN_ALL_TESTS();
    server.reset();
    return status;
}
