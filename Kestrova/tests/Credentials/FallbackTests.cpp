// The credential store on a machine where no Secret Service answers.
#include "TemporaryEnvironment.hpp"

#include "Service/CredentialStore.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/OperationQueue.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace kestrova;
using namespace joblark::testing;

namespace {

class FallbackStore : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("HOME", home.path().string());
        env.set("XDG_DATA_HOME", (home.path() / "data").string());
        // A bus address that nobody listens on, as on a headless machine.
        env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home.path() / "no-bus").string());
    }
    TemporaryDirectory home;
    ScopedEnvironment env;
};

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST_F(FallbackStore, TokenGoesToAPrivateFileWithOneWarning) {
    joblark::LogCapture log;
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(saveCredentials("headless-token"));
    // Connection refused is immediate; it must not take the whole time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - started, CredentialStore::timeout);

    auto file = CredentialStore::fallbackFile();
    EXPECT_EQ(file, home.path() / "data" / "kestrova" / "credentials.json");
    ASSERT_TRUE(std::filesystem::exists(file));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(contents(file), R"({"origin":"https://quillnest.example","token":"headless-token"})");

    // What a save killed half-way left goes at the next start.
    const auto litter = file.parent_path() / ".credentials.json.tmp-k1ll3d00";
    std::ofstream(litter) << R"({"tok)";
    std::filesystem::last_write_time(litter,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(loadCredentials(), "headless-token");
    EXPECT_FALSE(std::filesystem::exists(litter));
    ASSERT_TRUE(saveCredentials("replaced"));
    EXPECT_EQ(loadCredentials(), "replaced");
    EXPECT_EQ(log.count("No Secret Service answered"), 1u);
    // The warning names the file, never the token.
    for (const auto& message : log.messages())
        EXPECT_EQ(message.find("replaced"), std::string::npos) << message;

    purgeCredentials();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(loadCredentials(), std::nullopt);
    EXPECT_FALSE(log.contains("Could not save keychain data!"));
    EXPECT_FALSE(log.contains("Could not purge keychain data!"));
}

TEST_F(FallbackStore, UnreadableOrForeignFilesLoadAsNothing) {
    auto file = CredentialStore::fallbackFile();
    for (const char* content : {"", "{", R"({"token":null})", R"({"token":["a"]})", "\xff\xfe"}) {
        std::ofstream(file, std::ios::trunc) << content;
        EXPECT_EQ(loadCredentials(), std::nullopt) << content;
    }
    std::filesystem::remove(file);
    std::filesystem::create_directory(file); // a directory where the file should be
    EXPECT_EQ(loadCredentials(), std::nullopt);
}

TEST_F(FallbackStore, FailedWriteIsReportedAndLogged) {
    // The data directory is a file, so nothing can be written below it.
    std::filesystem::remove_all(home.path() / "data");
    std::ofstream(home.path() / "data") << "in the way";
    joblark::LogCapture log;
    EXPECT_FALSE(saveCredentials("nowhere-to-go"));
    EXPECT_TRUE(log.contains("Could not save keychain data! "));
    EXPECT_EQ(loadCredentials(), std::nullopt);
}

TEST_F(FallbackStore, PurgeCancelsWorkWaitingOnTheMainQueue) {
    auto waiting = std::make_shared<joblark::BlockOperation>([] {});
    auto blocker = std::make_shared<joblark::BlockOperation>([] {});
    waiting->addDependency(blocker); // never runs: its dependency is never queued
    joblark::OperationQueue::main().addOperation(waiting);
    purgeCredentials();
    EXPECT_TRUE(waiting->isCancelled());
}
