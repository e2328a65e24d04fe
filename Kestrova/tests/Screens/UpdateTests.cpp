#include "LocalHTTPServer.hpp"
#include "Recording.hpp"
#include "ScreenEnvironment.hpp"
#include "TemporaryEnvironment.hpp"
#include "TestSupport.hpp"

#include "Shell/AppDelegate.hpp"
#include "Shell/SparkleBridge.hpp"
#include "Shell/UpdateViewController.hpp"
#include "UpdatePlugin/Appcast.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <fstream>

using namespace kestrova;
using namespace kestrova::testing;
using joblark::testing::pumpMainUntil;

namespace {

/// A feed as a release script writes it: the newest item first, versions in an element or only on
/// the enclosure, an item without any version, prose around it.
constexpr std::string_view kFeed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle" xmlns:dc="http://purl.org/dc/elements/1.1/">
  <channel>
    <title>Kestrova Changelog</title>
    <link>https://quillnest.example/demo/appcast.xml</link>
    <item>
      <title>Kestrova 0.10.0</title>
      <sparkle:version>0.10.0</sparkle:version>
      <sparkle:shortVersionString>0.10</sparkle:shortVersionString>
      <sparkle:releaseNotesLink>
        https://quillnest.example/releases/0.10.0.html
      </sparkle:releaseNotesLink>
      <pubDate>Mon, 07 Dec 2026 10:00:00 +0000</pubDate>
      <enclosure url="https://quillnest.example/download/kestrova-0.10.0.tar.gz" length="1623" type="application/octet-stream"/>
    </item>
    <item>
      <title>Kestrova 0.9.2</title>
      <sparkle:releaseNotesLink>https://quillnest.example/releases/0.9.2.html</sparkle:releaseNotesLink>
      <enclosure url="https://quillnest.example/download/kestrova-0.9.2.tar.gz" sparkle:version="0.9.2" length="1600"/>
    </item>
    <item><title>A note without a version</title><description>&lt;b&gt;hello&lt;/b&gt;</description></item>
  </channel>
</rss>)";

TEST(Appcast, VersionsCompareNumberByNumberWhateverSurroundsThem) {
    struct Case {
        const char* a;
        const char* b;
        std::strong_ordering order;
    };
    const std::vector<Case> cases = {
        {"1.10", "1.9", std::strong_ordering::greater},
        {"1.2", "1.2.0", std::strong_ordering::equal},
        {"v2.0", "1.99.99", std::strong_ordering::greater},
        {"2.1-beta3", "2.1", std::strong_ordering::equal},
        {"0.1.0", "0.1.1", std::strong_ordering::less},
        {"99999999999999999999999.1", "18446744073709551615.0", std::strong_ordering::greater},
        {"nonsense", "0", std::strong_ordering::less},
        {"", "", std::strong_ordering::equal},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(versionComponents("release 3.04.1 (build 7)"), (std::vector<std::uint64_t>{3, 4, 1}));
    EXPECT_FALSE(versionComponents("beta"));
}

TEST(Appcast, ItemsAndTheNewestComeFromARealFeed) {
    auto appcast = Appcast::parse(kFeed);
    ASSERT_TRUE(appcast) << appcast.error()->localizedDescription();
    ASSERT_EQ(appcast->items.size(), 2u) << "the item without a version is left out";
    const auto& second = appcast->items[1];
    EXPECT_EQ(second.version, "0.9.2");
    EXPECT_EQ(second.downloadURL, "https://quillnest.example/download/kestrova-0.9.2.tar.gz");
    auto newest = appcast->newestItem();
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->version, "0.10.0");
    EXPECT_EQ(newest->displayVersion, "0.10");
    EXPECT_EQ(newest->releaseNotesLink, "https://quillnest.example/releases/0.10.0.html");

    for (std::string_view bad : {std::string_view("<rss><channel><item>"), std::string_view("not xml at all"),
                                 std::string_view("<!DOCTYPE rss [<!ENTITY a \"aaaa\">]><rss>&a;</rss>")})
        EXPECT_FALSE(Appcast::parse(bad)) << bad;
    auto empty = Appcast::parse("<rss version=\"2.0\"><channel/></rss>");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->newestItem());
}

// --- loading and running the plug-in ----------------------------------------------------------------

struct RecordingUpdater : SparkleBridgeDelegate {
    std::vector<UserActivity> activities;
    void openUpdaterOrMakeKeyAndVisible(std::optional<UserActivity> activity) override {
        if (activity)
            activities.push_back(std::move(*activity));
    }
};

std::string status(const UserActivity& activity) {
    return *activity.userInfo.at("status").asString();
}

class UpdatePlugin : public ScreenTest {};

TEST_F(UpdatePlugin, LoadingFailsCleanlyWithoutAWorkingPlugin) {
    joblark::testing::TemporaryDirectory folder;
    SparkleBridgeConfiguration configuration;
    auto missing = SparkleBridgeClient::load(configuration, {folder.path()});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error()->localizedDescription(), "No update plug-in was found.");

    std::ofstream(folder.path() / std::string(SparkleBridgeClient::pluginFileName)) << "garbage, not ELF";
    auto broken = SparkleBridgeClient::load(configuration, {folder.path()});
    ASSERT_FALSE(broken);
    EXPECT_NE(broken.error()->localizedDescription().find("could not be loaded"), std::string::npos);

    // A real shared library that is not a plug-in.
    std::filesystem::remove(folder.path() / std::string(SparkleBridgeClient::pluginFileName));
    std::filesystem::copy_file(JOBLARK_LIBRARY_PATH,
                               folder.path() / std::string(SparkleBridgeClient::pluginFileName));
    auto foreign = SparkleBridgeClient::load(configuration, {folder.path()});
    ASSERT_FALSE(foreign);
    EXPECT_NE(foreign.error()->localizedDescription().find("is not an update plug-in"), std::string::npos);
}

TEST_F(UpdatePlugin, ThePluginReadsTheFeedAndReportsInTheUpdateWindow) {
    joblark::testing::LocalHTTPServer server;
    server.on("GET", "/demo/appcast.xml", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(kFeed), "application/rss+xml");
    });
    server.on("GET", "/broken.xml", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<rss><channel><item>", "application/rss+xml");
    });
    auto updater = std::make_shared<RecordingUpdater>();
    struct Case {
        const char* name;
        std::string version;
        std::optional<std::string> feed; // the preference; absent: the default feed
        std::string status;
        std::map<std::string, std::string> shown;
    };
    const std::vector<Case> cases = {
        {"newer",
         "0.9.5",
         std::nullopt,
         "available",
         {{"version", "0.10"},
          {"currentVersion", "0.9.5"},
          {"releaseNotesURL", "https://quillnest.example/releases/0.10.0.html"},
          {"downloadURL", "https://quillnest.example/download/kestrova-0.10.0.tar.gz"}}},
        {"same", "0.10.0", std::nullopt, "upToDate", {{"version", "0.10"}, {"currentVersion", "0.10.0"}}},
        {"missing feed", "0.1.0", server.url("/nothing.xml").absoluteString(), "error", {}},
        {"broken feed", "0.1.0", server.url("/broken.xml").absoluteString(), "error", {}},
        {"not a web address", "0.1.0", "file:///etc/passwd", "error", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.feed)
            joblark::UserDefaults::standard().set(*c.feed, AppDelegate::kUpdateFeedURL);
        else
            joblark::UserDefaults::standard().removeObject(AppDelegate::kUpdateFeedURL);
        SparkleBridgeConfiguration configuration{updater, c.version,
                                                 server.url("/demo/appcast.xml").absoluteString()};
        auto plugin = SparkleBridgeClient::load(configuration);
        ASSERT_TRUE(plugin) << plugin.error()->localizedDescription();
        updater->activities.clear();
        (*plugin)->checkForUpdates();
        ASSERT_TRUE(pumpMainUntil([&] { return updater->activities.size() == 2; }, std::chrono::seconds(30)));
        EXPECT_EQ(status(updater->activities[0]), "checking");
        const auto& result = updater->activities[1];
        EXPECT_EQ(result.activityType, "kestrova.Update");
        EXPECT_EQ(status(result), c.status);
        for (const auto& [key, value] : c.shown)
            EXPECT_EQ(result.userInfo.at(key), joblark::Value(value)) << key;
        if (c.status == "error") {
            EXPECT_FALSE(result.userInfo.at("error").asString()->empty());
        }
    }
}

TEST_F(UpdatePlugin, TheUpdateWindowShowsTheNewestActivityAndOpensOnlyWebLinks) {
    auto controller = makeController();
    auto platform = std::make_shared<RecordingPlatform>();
    auto screen = std::make_shared<UpdateViewController>(controller, platform);
    auto title = std::make_shared<RecordingLabel>(), message = std::make_shared<RecordingLabel>();
    auto spinner = std::make_shared<RecordingIndicator>();
    auto notes = std::make_shared<RecordingButton>(), download = std::make_shared<RecordingButton>();
    screen->titleLabel = title;
    screen->messageLabel = message;
    screen->activityIndicator = spinner;
    screen->releaseNotesButton = notes;
    screen->downloadButton = download;

    auto activity = [](std::map<std::string, std::string> info) {
        UserActivity made{"kestrova.Update", {}};
        for (auto& [k, v] : info)
            made.userInfo[k] = v;
        return made;
    };
    controller->activityInbox.push_back(activity({{"status", "checking"}}));
    controller->activityInbox.push_back(activity({{"status", "available"},
                                                  {"version", "2.0"},
                                                  {"currentVersion", "1.0"},
                                                  {"releaseNotesURL", "https://example.com/notes"},
                                                  {"downloadURL", "javascript:alert(1)"}}));
    screen->viewWillAppear();
    EXPECT_TRUE(controller->activityInbox.empty());
    EXPECT_EQ(title->value, "A new version of Kestrova is available!");
    EXPECT_EQ(message->value, "Kestrova 2.0 is now available—you have 1.0.");
    EXPECT_FALSE(spinner->animating);
    EXPECT_FALSE(notes->hidden);
    EXPECT_TRUE(download->hidden) << "a link that is not a web address is not offered";
    screen->releaseNotesButtonWasPressed();
    screen->downloadButtonWasPressed();
    EXPECT_EQ(platform->opened, std::vector<std::string>{"https://example.com/notes"});

    struct Case {
        std::map<std::string, std::string> info;
        std::string title, message;
        bool checking;
    };
    for (const auto& c :
         std::vector<Case>{{{{"status", "checking"}},
                            "Checking for Updates…",
                            "Looking for a newer version of Kestrova.",
                            true},
                           {{{"status", "upToDate"}, {"currentVersion", "1.0"}},
                            "You're up to date!",
                            "Kestrova 1.0 is currently the newest version available.",
                            false},
                           {{{"status", "error"}, {"error", "The update feed lists no versions."}},
                            "Update Error!",
                            "The update feed lists no versions.",
                            false}}) {
        controller->activityInbox.push_back(activity(c.info));
        joblark::NotificationCenter::defaultCenter().post(
            std::string(AppDelegate::shouldDisplayAlertNotification));
        EXPECT_EQ(title->value, c.title);
        EXPECT_EQ(message->value, c.message);
        EXPECT_EQ(spinner->animating, c.checking);
        EXPECT_TRUE(notes->hidden);
    }
}

TEST_F(UpdatePlugin, LaunchLoadsTheBuiltPluginAndCheckForUpdatesOpensTheUpdateWindow) {
    // The default feed: the demo service's own, which offers a newer version.
    joblark::UserDefaults::standard().removeObject(AppDelegate::kUpdateFeedURL);
    auto controller = makeController();
    auto windows = std::make_shared<RecordingWindowSystem>();
    AppDelegate::Options options;
    options.controller = [controller] { return controller; };
    options.applicationVersion = "0.1.0";
    auto app = std::make_shared<AppDelegate>(windows, std::weak_ptr<Platform>(), std::move(options));
    app->applicationDidFinishLaunching();
    ASSERT_TRUE(app->sparklePlugin) << "the build's plug-in folder is searched";
    app->perform(CommandAction::checkForUpdates);
    ASSERT_TRUE(pumpMainUntil([&] { return windows->activations.size() == 2; }, std::chrono::seconds(30)));
    EXPECT_EQ(windows->activations[1].activity->activityType, "kestrova.Update");
    std::optional<UserActivity> latest;
    while (auto taken = controller->takeActivity("kestrova.Update"))
        latest = taken;
    ASSERT_TRUE(latest);
    EXPECT_EQ(UpdateContent::from(*latest).title, "A new version of Kestrova is available!");
    EXPECT_EQ(latest->userInfo.at("version"), joblark::Value("0.9.0"));
}

} // namespace
