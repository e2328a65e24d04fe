// A Secret Service that holds its bus name but never answers, as a wedged keyring daemon would: the
// store must give up after its time-out and keep the token in the fallback file.
#include "TemporaryEnvironment.hpp"

#include "Service/CredentialStore.hpp"

#include "joblark/Foundation/Log.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace kestrova;
using namespace std::chrono_literals;

namespace {

/// A private bus daemon, stopped when the object goes.
class PrivateBus {
public:
    PrivateBus() {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const char* argv[] = {"dbus-daemon", "--session",         "--nofork",
                              "--nopidfile", "--print-address=1", nullptr};
        if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        // The daemon prints its address once it listens; the read ends at the newline or when it dies.
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            address_ += c;
        ::close(fds[0]);
    }
    ~PrivateBus() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

/// Owns "org.freedesktop.secrets" on the bus and swallows every call made to it.
class SilentSecretService {
public:
    explicit SilentSecretService(const std::string& address) {
        GError* error = nullptr;
        connection_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!connection_) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return;
        }
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 0u), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        if (!reply) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return;
        }
        g_variant_unref(reply);
        // Runs on GDBus's own I/O thread, so no main loop is needed here.
        g_dbus_connection_add_filter(
            connection_,
            [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) -> GDBusMessage* {
                if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
                    g_object_unref(message);
                    return nullptr;
                }
                return message;
            },
            nullptr, nullptr);
        ready_ = true;
    }
    ~SilentSecretService() {
        if (connection_) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
    }
    SilentSecretService(const SilentSecretService&) = delete;
    SilentSecretService& operator=(const SilentSecretService&) = delete;

    bool ready() const { return ready_; }

private:
    GDBusConnection* connection_ = nullptr;
    bool ready_ = false;
};

} // namespace

TEST(UnansweringSecretService, StoreGivesUpAfterItsTimeoutAndUsesTheFile) {
    joblark::testing::TemporaryDirectory home;
    joblark::testing::ScopedEnvironment env;
    env.set("HOME", home.path().string());
    env.set("XDG_DATA_HOME", (home.path() / "data").string());
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    SilentSecretService silent(bus.address());
    ASSERT_TRUE(silent.ready());
    env.set("DBUS_SESSION_BUS_ADDRESS", bus.address());

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

    // The shared session connection would end the process when the private bus stops.
    if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(shared, FALSE);
        g_object_unref(shared);
    }
}
