#include "TemporaryEnvironment.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace joblark;
using joblark::testing::TemporaryDirectory;

namespace {

TEST(UserDefaultsTest, RegisteredDefaultsAnswerUntilTheUserHasAValue) {
    TemporaryDirectory temp;
    const auto file = temp.path() / "prefs" / "UserDefaults.json";
    UserDefaults defaults(file);
    defaults.registerDefaults({{"kShouldAutoRefresh", true}, {"kRefreshInterval", 30}});
    EXPECT_TRUE(defaults.boolForKey("kShouldAutoRefresh"));
    EXPECT_EQ(defaults.integerForKey("kRefreshInterval"), 30);
    EXPECT_FALSE(defaults.object("absent"));

    ASSERT_TRUE(defaults.set(false, "kShouldAutoRefresh"));
    ASSERT_TRUE(defaults.set(45.7, "kRefreshInterval")); // a slider stores a double
    EXPECT_FALSE(defaults.boolForKey("kShouldAutoRefresh"));
    EXPECT_EQ(defaults.integerForKey("kRefreshInterval"), 45);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("kRefreshInterval"), 45.7);

    // Another instance (another program) sees the file; its own changes keep ours.
    UserDefaults other(file);
    EXPECT_FALSE(other.boolForKey("kShouldAutoRefresh"));
    ASSERT_TRUE(other.set("on", "kTheme"));
    ASSERT_TRUE(defaults.removeObject("kShouldAutoRefresh"));
    EXPECT_TRUE(defaults.boolForKey("kShouldAutoRefresh")) << "the default answers again";
    EXPECT_EQ(UserDefaults(file).stringForKey("kTheme"), "on");

    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(UserDefaultsTest, ConvertsBetweenKindsLikeThePlatformStore) {
    TemporaryDirectory temp;
    UserDefaults defaults(temp.path() / "d.json");
    defaults.registerDefaults(
        {{"yes", "YES"}, {"text", "12.5"}, {"zero", 0}, {"big", 1e300}, {"list", Array{1}}});
    EXPECT_TRUE(defaults.boolForKey("yes"));
    EXPECT_FALSE(defaults.boolForKey("zero"));
    EXPECT_FALSE(defaults.boolForKey("list"));
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("text"), 12.5);
    EXPECT_EQ(defaults.integerForKey("text"), 12);
    EXPECT_EQ(defaults.integerForKey("big"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(defaults.integerForKey("yes"), 0);
    EXPECT_EQ(defaults.stringForKey("zero"), "0");
    EXPECT_FALSE(defaults.stringForKey("list"));

    EXPECT_FALSE(defaults.set(Data{1, 2}, "blob")) << "not a preference value";
    EXPECT_FALSE(defaults.object("blob"));
}

TEST(UserDefaultsTest, AnUnreadableFileIsIgnoredAndReplacedOnTheNextChange) {
    TemporaryDirectory temp;
    const auto file = temp.path() / "d.json";
    ASSERT_TRUE(FileLocations::writeFileAtomically(file, std::string_view("{\"truncated\": [1, 2")));
    UserDefaults defaults(file);
    defaults.registerDefaults({{"kRefreshInterval", 30}});
    EXPECT_EQ(defaults.integerForKey("kRefreshInterval"), 30);
    ASSERT_TRUE(defaults.set(true, "kEnablePushNotifications"));
    EXPECT_TRUE(UserDefaults(file).boolForKey("kEnablePushNotifications"));
}

} // namespace
