#include "TestService.hpp"

#include "quillnest/Options.hpp"

#include <map>

namespace quillnest::testing {
namespace {

class FaultTest : public ServiceFixture {
protected:
    void SetUp() override {
        startService([](ServiceOptions& o) {
            o.faults.rate = 1.0;
            o.faults.seed = 7;
            o.faults.slowBodySeconds = 0.3;
        });
    }
};

TEST_F(FaultTest, EveryKindOfFaultReachesTheClient) {
    auto token = account("ana@example.com");
    std::map<std::string, int> kinds;
    for (int i = 0; i < 80; ++i) {
        auto started = std::chrono::steady_clock::now();
        auto answer = client->get("/api/me", token);
        auto took = std::chrono::steady_clock::now() - started;
        if (answer.status == 0) {
            ++kinds["dropped"];
            continue;
        }
        if (answer.status == 200) {
            // A slow body still arrives whole.
            EXPECT_EQ(answer["count"], joblark::Value(1));
            EXPECT_GE(took, std::chrono::milliseconds(250));
            ++kinds["slow"];
            continue;
        }
        EXPECT_FALSE(answer.text("message").empty()) << answer.status;
        if (answer.status == 429) {
            EXPECT_TRUE(answer.headers.count("Retry-After"));
        }
        ++kinds[std::to_string(answer.status)];
    }
    for (const char* kind : {"500", "502", "504", "429", "slow", "dropped"})
        EXPECT_GT(kinds[kind], 0) << kind;
    EXPECT_EQ(kinds.size(), 6u);
}

TEST_F(FaultTest, PagesAndDemoTargetsAreNeverFaulted) {
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(client->get("/profile").status, 200);
        EXPECT_EQ(client->get("/demo/ok").status, 200);
    }
}

TEST(CommandLine, ReadsEveryOption) {
    auto parsed = parseCommandLine({"--listen", "[::1]:9000", "--db", "/tmp/x.sqlite3", "--demo",
                                    "--probe-interval", "2.5", "--public-url", "https://monitor.example.com",
                                    "--faults=0.5", "--faults-seed", "42", "--endpoint-limit=7"});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed)) << std::get<std::string>(parsed);
    const auto& o = std::get<CommandLine>(parsed).options;
    EXPECT_EQ(o.host, "::1");
    EXPECT_EQ(o.port, 9000);
    EXPECT_EQ(o.databasePath, "/tmp/x.sqlite3");
    EXPECT_TRUE(o.demo);
    EXPECT_DOUBLE_EQ(o.probing.interval, 2.5);
    EXPECT_EQ(o.publicUrl, "https://monitor.example.com");
    EXPECT_DOUBLE_EQ(o.faults.rate, 0.5);
    EXPECT_EQ(o.faults.seed, 42u);
    EXPECT_EQ(o.endpointLimit, 7);

    auto defaults = std::get<CommandLine>(parseCommandLine({"--faults"})).options;
    EXPECT_EQ(defaults.host, "127.0.0.1") << "reachable from this machine only unless asked";
    EXPECT_GT(defaults.faults.rate, 0);
}

TEST(CommandLine, TheDefaultDatabaseLivesInTheUsersDataDirectory) {
    ScopedEnvironment environment;
    environment.set("XDG_DATA_HOME", "/data/home");
    EXPECT_EQ(defaultDatabasePath(), std::filesystem::path("/data/home/quillnest-local/quillnest.sqlite3"));
    environment.set("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(defaultDatabasePath().parent_path().filename(), "quillnest-local");
    EXPECT_NE(defaultDatabasePath().string().find("/.local/share/"), std::string::npos);
}

} // namespace
} // namespace quillnest::testing
