// A session bus that takes the connection but never answers, as a wedged bus or keyring daemon
// would: the store must give up after its time-out and keep the token in the fallback file.
#include "TemporaryEnvironment.hpp"

#include "Service/CredentialStore.hpp"

#include "joblark/Foundation/Log.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestrova;
using namespace std::chrono_literals;

TEST(UnansweringSecretService, StoreGivesUpAfterItsTimeoutAndUsesTheFile) {
    joblark::testing::TemporaryDirectory home;
    joblark::testing::ScopedEnvironment env;
    env.set("HOME", home.path().string());
    env.set("XDG_DATA_HOME", (home.path() / "data").string());
    // Listening, never accepting: a connection is made, and then nothing is ever said on it.
    const auto socketPath = home.path() / "silent-bus";
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 16), 0);
    env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socketPath.string());

    joblark::LogCapture log;
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(saveCredentials("patient-token"));
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, CredentialStore::timeout - 100ms);
    // The cancelled call ends at once; far below D-Bus's own 25 s.
    EXPECT_LT(waited, CredentialStore::timeout * 3);
    EXPECT_TRUE(log.contains("No Secret Service answered"));

    // Having not answered once, the service is not waited for again.
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(loadCredentials(), "patient-token");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_TRUE(std::filesystem::exists(CredentialStore::fallbackFile()));
    ::close(silent);
}
