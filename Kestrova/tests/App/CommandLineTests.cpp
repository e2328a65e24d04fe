#include "LocalService.hpp"
#include "TemporaryEnvironment.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/JSON.hpp"

#include <gtest/gtest.h>

#include <fstream>

using namespace kestrova::testing;
using joblark::testing::TemporaryDirectory;

namespace {

class CommandLineTest : public ::testing::Test {
protected:
    CommandResult cli(const std::vector<std::string>& arguments, const std::string& input = {}) {
        return runCommandLine(arguments, home.path(), service.url, input);
    }
    void setPreferences(const std::string& json) {
        std::filesystem::create_directories(home.path() / "config" / "kestrova");
        std::ofstream(home.path() / "config" / "kestrova" / "UserDefaults.json") << json;
    }
    std::filesystem::path cacheFile() const { return home.path() / "cache" / "kestrova" / "AppState.plist"; }

    TemporaryDirectory serviceDirectory;
    TemporaryDirectory home;
    LocalService service{serviceDirectory.path()};
};

TEST_F(CommandLineTest, SignsInShowsStatusAndFollowsItInTheExitStatus) {
    ASSERT_TRUE(service.isRunning());
    auto signedOut = cli({"status"});
    EXPECT_EQ(signedOut.status, 3);
    EXPECT_NE(signedOut.output.find("Not signed in"), std::string::npos);

    auto wrong = cli({"login", "demo@quillnest.local"}, "not-the-password\n");
    EXPECT_EQ(wrong.status, 3);
    EXPECT_NE(wrong.output.find("Sign-in failed"), std::string::npos);

    auto login = cli({"login", "demo@quillnest.local"}, "kestrova\n");
    ASSERT_EQ(login.status, 0) << login.output;
    EXPECT_NE(login.output.find("Signed in as demo@quillnest.local."), std::string::npos);
    EXPECT_EQ(login.output.find("kestrova\n"), std::string::npos) << "the password is never echoed";

    // The demo's built-in reporter soon has "Disk space" down (its free share stays under 20%).
    CommandResult status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    do {
        status = cli({"status"});
    } while (status.status == 0 && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(status.status, 2) << status.output;
    EXPECT_NE(status.output.find("Overall: DOWN"), std::string::npos) << status.output;
    for (const char* name : {"Demo OK", "Demo Down", "Disk space", "Build"})
        EXPECT_NE(status.output.find(name), std::string::npos) << name;

    auto json = cli({"status", "--json"});
    auto document = joblark::JSON::parse(json.output);
    ASSERT_TRUE(document && document->isDictionary()) << json.output;
    EXPECT_EQ(*document->find("overall"), joblark::Value("down"));
    EXPECT_EQ(document->find("endpoints")->asArray()->size(), 5u);
    EXPECT_TRUE(document->find("data_from")->isNull());

    // Without "Disk space" the worst left is the build's coverage; without the build, all is well.
    auto refused = cli({"delete", "Disk space"}, "n\n");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("Not deleted."), std::string::npos);
    ASSERT_EQ(cli({"delete", "Disk space", "--yes"}).status, 0);
    EXPECT_EQ(cli({"status"}).status, 1);
    ASSERT_EQ(cli({"delete", "Build"}, "y\n").status, 0);
    EXPECT_EQ(cli({"status"}).status, 0);

    // Offline: the cached data is shown with its time, and nothing certain is claimed.
    TemporaryDirectory elsewhere;
    auto offline = runCommandLine({"status"}, home.path(), "http://127.0.0.1:9", "");
    EXPECT_EQ(offline.status, 3);
    EXPECT_NE(offline.output.find("(offline: data from "), std::string::npos) << offline.output;
    EXPECT_NE(offline.output.find("Demo OK"), std::string::npos);

    EXPECT_EQ(cli({"logout"}).status, 0);
    EXPECT_EQ(cli({"status"}).status, 3);
}

TEST_F(CommandLineTest, TheServiceAddressIsChosenAtSignInAndTheTokenStaysWithIt) {
    // No address in the environment: the one given at sign-in is remembered.
    auto run = [&](const std::vector<std::string>& arguments, const std::string& url,
                   const std::string& input = {}) {
        return runCommandLine(arguments, home.path(), url, input);
    };
    auto refused = run({"login", "--service", "ftp://example.com", "demo@quillnest.local"}, "", "kestrova\n");
    EXPECT_EQ(refused.status, 64) << refused.output;
    EXPECT_NE(refused.output.find("is not an http or https service address"), std::string::npos);

    auto login = run({"login", "--service", service.url + "/", "demo@quillnest.local"}, "", "kestrova\n");
    ASSERT_EQ(login.status, 0) << login.output;
    EXPECT_LT(run({"status"}, "").status, 3) << "the remembered address answers";
    std::ifstream credentials(home.path() / "data" / "kestrova" / "credentials.json");
    const std::string record((std::istreambuf_iterator<char>(credentials)), {});
    EXPECT_NE(record.find("\"origin\":\"" + service.url + "\""), std::string::npos) << record;

    // Another service (here named by the environment) never gets that token.
    auto elsewhere = run({"status"}, "http://127.0.0.1:9");
    EXPECT_EQ(elsewhere.status, 3);
    EXPECT_NE(elsewhere.output.find("Not signed in"), std::string::npos) << elsewhere.output;
}

TEST_F(CommandLineTest, ChangesResourcesWithTheFormsRules) {
    ASSERT_TRUE(service.isRunning());
    ASSERT_EQ(cli({"login", "--token"}, service.demoToken + "\n").status, 0);

    auto invalid = cli({"add", "Local", "http://localhost:8080/health"});
    EXPECT_EQ(invalid.status, 64);
    EXPECT_NE(invalid.output.find(
                  "Invalid: The URL you entered is not allowed. Please use a valid http/https URL."),
              std::string::npos)
        << invalid.output;
    auto noName = cli({"add", "  ", "nonsense"});
    EXPECT_NE(noName.output.find("Invalid name: The name you entered is too short."), std::string::npos);

    auto added = cli({"add", " Status page ", "https://status.example.com/health\n"});
    ASSERT_EQ(added.status, 0) << added.output;
    auto json = joblark::JSON::parse(cli({"status", "--json"}).output);
    ASSERT_TRUE(json);
    std::string id;
    for (const auto& e : *json->find("endpoints")->asArray())
        if (*e.find("name") == joblark::Value("Status page")) { // NOLINT
            id = *e.find("id")->asString();
            EXPECT_EQ(*e.find("endpoint_url"), joblark::Value("https://status.example.com/health"));
            EXPECT_EQ(*e.find("status"), joblark::Value("active"));
        }
    ASSERT_FALSE(id.empty());

    ASSERT_EQ(cli({"pause", id.substr(0, 8)}).status, 0);
    ASSERT_EQ(cli({"cert", "off", id}).status, 0);
    auto usage = cli({"cert", "maybe", id});
    EXPECT_EQ(usage.status, 64);
    json = joblark::JSON::parse(cli({"status", "--json"}).output);
    for (const auto& e : *json->find("endpoints")->asArray()) {
        if (*e.find("id") == joblark::Value(id)) {
            EXPECT_EQ(*e.find("status"), joblark::Value("inactive"));
        }
    }

    auto unknown = cli({"resume", "no-such-thing"});
    EXPECT_EQ(unknown.status, 64);
    EXPECT_NE(unknown.output.find("No endpoint or measure \"no-such-thing\"."), std::string::npos);
    EXPECT_EQ(cli({"frobnicate"}).status, 64);
}

TEST_F(CommandLineTest, ServiceFailuresLeaveTheCachedStateAsItWas) {
    ASSERT_TRUE(service.isRunning());
    ASSERT_EQ(cli({"login", "--token"}, service.demoToken + "\n").status, 0);
    const auto before = joblark::FileLocations::readFile(cacheFile());
    ASSERT_TRUE(before);

    // Every API answer of this one is a fault: server errors, throttling, slow bodies, dropped
    // connections.
    TemporaryDirectory faultyDirectory;
    LocalService faulty(faultyDirectory.path(), {"--faults=1", "--faults-seed", "7"});
    ASSERT_TRUE(faulty.isRunning());
    // The token is kept with the service that issued it; here that service has turned faulty.
    const auto credentials = home.path() / "data" / "kestrova" / "credentials.json";
    auto record = joblark::JSON::parse(
        std::string_view(reinterpret_cast<const char*>(joblark::FileLocations::readFile(credentials)->data()),
                         joblark::FileLocations::readFile(credentials)->size()));
    ASSERT_TRUE(record && record->asDictionary());
    auto moved = *record->asDictionary();
    moved["origin"] = faulty.url;
    ASSERT_TRUE(joblark::FileLocations::writeFileAtomically(credentials, *joblark::JSON::write(moved)));
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto status = runCommandLine({"status"}, home.path(), faulty.url);
        EXPECT_EQ(status.status, 3) << status.output;
        EXPECT_NE(status.output.find("Could not reach the service: "), std::string::npos) << status.output;
        EXPECT_NE(status.output.find("(offline: data from "), std::string::npos);
    }
    auto add = runCommandLine({"add", "Site", "https://site.example.com"}, home.path(), faulty.url);
    EXPECT_EQ(add.status, 3);
    EXPECT_NE(add.output.find("Error creating Endpoint: "), std::string::npos) << add.output;
    EXPECT_EQ(joblark::FileLocations::readFile(cacheFile()), before) << "nothing was folded in";
    EXPECT_EQ(cli({"status", "--offline"}).status, 3);
}

TEST_F(CommandLineTest, DamagedFilesAndPreferencesAreReportedNeverFatal) {
    ASSERT_TRUE(service.isRunning());
    ASSERT_EQ(cli({"login", "--token"}, service.demoToken + "\n").status, 0);
    // Seconds beyond what a timer can count once hung "status" at full speed; now they are clamped.
    setPreferences(R"({"kRefreshInterval": 1e300})");
    EXPECT_NE(cli({"status"}).status, 3);

    // The cache keeps no histories: offline, no uptime is claimed.
    auto offline = cli({"status", "--offline"});
    EXPECT_EQ(offline.status, 3);
    EXPECT_NE(offline.output.find("Demo OK"), std::string::npos) << offline.output;
    EXPECT_NE(offline.output.find("  \u2013  "), std::string::npos) << offline.output;
    EXPECT_EQ(offline.output.find("0%"), std::string::npos) << offline.output;
    auto json = joblark::JSON::parse(cli({"status", "--json", "--offline"}).output);
    ASSERT_TRUE(json);
    EXPECT_TRUE(json->find("endpoints")->asArray()->front().find("uptime")->isNull());

    ASSERT_TRUE(
        joblark::FileLocations::writeFileAtomically(cacheFile(), std::string_view("bplist00 damaged")));
    const std::string damaged = "the cached state could not be read; it is refreshed at the next sync";
    offline = cli({"status", "--offline"});
    EXPECT_EQ(offline.status, 3);
    EXPECT_NE(offline.output.find(damaged), std::string::npos) << offline.output;
    auto online = cli({"status"});
    EXPECT_NE(online.output.find(damaged), std::string::npos);
    EXPECT_NE(online.output.find("Demo OK"), std::string::npos) << "refreshed";
    EXPECT_EQ(cli({"status", "--offline"}).output.find(damaged), std::string::npos) << "and saved again";

    // A cache that cannot be written is said so.
    std::filesystem::remove_all(cacheFile().parent_path());
    std::ofstream(cacheFile().parent_path()) << "in the way";
    auto unsaved = cli({"status"});
    EXPECT_NE(unsaved.output.find("the cached state could not be saved: "), std::string::npos)
        << unsaved.output;
}

TEST_F(CommandLineTest, ASignOutInAnotherTerminalHolds) {
    ASSERT_TRUE(service.isRunning());
    ASSERT_EQ(cli({"login", "--token"}, service.demoToken + "\n").status, 0);
    setPreferences(R"({"kRefreshInterval": 1})"); // clamped to the shortest interval, 5 s
    auto watch = startCommandLine({"watch"}, home.path(), service.url);
    ASSERT_TRUE(watch->waitForLine("Watching; refreshing every 5 seconds.", std::chrono::seconds(60)))
        << watch->output();
    ASSERT_EQ(cli({"logout"}).status, 0);

    // The watch's next refresh finds the token gone: it signs out too and writes nothing back.
    EXPECT_EQ(watch->wait(std::chrono::seconds(60)), 3) << watch->output();
    EXPECT_NE(watch->output().find("Signed out elsewhere; stopped watching."), std::string::npos)
        << watch->output();
    EXPECT_FALSE(std::filesystem::exists(home.path() / "data" / "kestrova" / "credentials.json"));
    auto json = joblark::JSON::parse(cli({"status", "--json", "--offline"}).output);
    ASSERT_TRUE(json) << "signed out, nothing cached";
    EXPECT_EQ(*json->find("signed_in"), joblark::Value(false));
    EXPECT_TRUE(json->find("endpoints")->asArray()->empty());
}

} // namespace
