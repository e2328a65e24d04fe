#include "joblark/Foundation/FileLocations.hpp"

#include "TemporaryEnvironment.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace joblark;
namespace fs = std::filesystem;

namespace {

class FileLocationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("HOME", (temp.path() / "home").string());
        for (const char* name : {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR"})
            env.unset(name);
        previousUmask = ::umask(022);
    }
    void TearDown() override { ::umask(previousUmask); }

    static mode_t permissions(const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }
    static std::vector<std::string> directoryEntries(const fs::path& directory) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static void writeText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

    joblark::testing::TemporaryDirectory temp;
    joblark::testing::ScopedEnvironment env;
    mode_t previousUmask = 022;
};

TEST_F(FileLocationsTest, DirectoriesFollowAbsoluteXDGVariablesAndArePrivate) {
    env.set("XDG_CACHE_HOME", (temp.path() / "cache").string());
    env.set("XDG_DATA_HOME", (temp.path() / "data").string());
    env.set("XDG_CONFIG_HOME", (temp.path() / "config").string());

    EXPECT_EQ(FileLocations::cacheDirectory(), temp.path() / "cache" / "kestrova");
    EXPECT_EQ(FileLocations::dataDirectory(), temp.path() / "data" / "kestrova");
    EXPECT_EQ(FileLocations::configDirectory(), temp.path() / "config" / "kestrova");
    for (const char* base : {"cache", "data", "config"}) {
        auto directory = temp.path() / base / "kestrova";
        EXPECT_TRUE(fs::is_directory(directory)) << directory;
        EXPECT_EQ(permissions(directory), 0700u) << directory;
    }
}

TEST_F(FileLocationsTest, DefaultsLieUnderHomeAndRelativeValuesAreIgnored) {
    const auto home = temp.path() / "home";
    EXPECT_EQ(FileLocations::cacheDirectory(), home / ".cache" / "kestrova");
    EXPECT_EQ(FileLocations::dataDirectory(), home / ".local" / "share" / "kestrova");
    EXPECT_EQ(FileLocations::configDirectory(), home / ".config" / "kestrova");
    EXPECT_TRUE(fs::is_directory(home / ".local" / "share" / "kestrova"));

    env.set("XDG_CACHE_HOME", "relative/cache");
    env.set("XDG_DATA_HOME", "");
    EXPECT_EQ(FileLocations::cacheDirectory(), home / ".cache" / "kestrova");
    EXPECT_EQ(FileLocations::dataDirectory(), home / ".local" / "share" / "kestrova");
    EXPECT_FALSE(fs::exists("relative/cache"));
}

TEST_F(FileLocationsTest, DocumentsUseXDGDocumentsDirOtherwiseTheDataDirectory) {
    env.set("XDG_DATA_HOME", (temp.path() / "data").string());
    EXPECT_EQ(FileLocations::documentsDirectory(), temp.path() / "data" / "kestrova");

    env.set("XDG_DOCUMENTS_DIR", "Documents");
    EXPECT_EQ(FileLocations::documentsDirectory(), temp.path() / "data" / "kestrova");

    env.set("XDG_DOCUMENTS_DIR", (temp.path() / "Documents").string());
    EXPECT_EQ(FileLocations::documentsDirectory(), temp.path() / "Documents");
    EXPECT_TRUE(fs::is_directory(temp.path() / "Documents"));
}

TEST_F(FileLocationsTest, AtomicWriteCreatesAndReplacesWithTheRequestedMode) {
    const auto path = temp.path() / "store.bin";
    auto first = FileLocations::writeFileAtomically(path, std::string_view("first version"));
    ASSERT_TRUE(first.success) << first.errorMessage;
    EXPECT_TRUE(first.errorMessage.empty());
    EXPECT_EQ(permissions(path), 0600u);

    const std::vector<std::uint8_t> second{0, 1, 2, 255};
    ASSERT_TRUE(FileLocations::writeFileAtomically(path, second));
    EXPECT_EQ(FileLocations::readFile(path), second);

    ASSERT_TRUE(FileLocations::writeFileAtomically(temp.path() / "shared.txt", std::string_view("x"), 0640));
    EXPECT_EQ(permissions(temp.path() / "shared.txt"), 0640u);
    // No temporary files are left behind.
    EXPECT_EQ(directoryEntries(temp.path()), (std::vector<std::string>{"shared.txt", "store.bin"}));
}

TEST_F(FileLocationsTest, FailedAtomicWriteLeavesThePreviousStateAndNoTemporaryFile) {
    // A regular file where a directory should be: fails even for root.
    writeText(temp.path() / "blocker", "not a directory");
    auto blocked =
        FileLocations::writeFileAtomically(temp.path() / "blocker" / "file", std::string_view("data"));
    EXPECT_FALSE(blocked.success);
    EXPECT_NE(blocked.errorMessage.find((temp.path() / "blocker" / "file").string()), std::string::npos)
        << blocked.errorMessage;
    EXPECT_EQ(FileLocations::readFile(temp.path() / "blocker"),
              std::vector<std::uint8_t>(std::string_view("not a directory").begin(),
                                        std::string_view("not a directory").end()));

    // The rename fails when the target is a non-empty directory: the temporary file is removed and
    // the directory keeps its contents.
    fs::create_directory(temp.path() / "occupied");
    writeText(temp.path() / "occupied" / "inside", "kept");
    auto renamed = FileLocations::writeFileAtomically(temp.path() / "occupied", std::string_view("data"));
    EXPECT_FALSE(renamed.success);
    EXPECT_FALSE(renamed.errorMessage.empty());
    EXPECT_EQ(directoryEntries(temp.path()), (std::vector<std::string>{"blocker", "occupied"}));
    EXPECT_EQ(directoryEntries(temp.path() / "occupied"), (std::vector<std::string>{"inside"}));

    EXPECT_FALSE(FileLocations::writeFileAtomically(temp.path() / "missing" / "file", std::string_view("x")));
    EXPECT_FALSE(FileLocations::writeFileAtomically(fs::path(), std::string_view("x")));
}

TEST_F(FileLocationsTest, ReadFileRefusesWhatIsNotASmallEnoughRegularFile) {
    const auto path = temp.path() / "sized";
    writeText(path, std::string(100, 'a'));
    ASSERT_TRUE(FileLocations::readFile(path));
    EXPECT_EQ(FileLocations::readFile(path)->size(), 100u);
    EXPECT_TRUE(FileLocations::readFile(path, 100));
    EXPECT_FALSE(FileLocations::readFile(path, 99));

    writeText(temp.path() / "empty", "");
    ASSERT_TRUE(FileLocations::readFile(temp.path() / "empty"));
    EXPECT_TRUE(FileLocations::readFile(temp.path() / "empty")->empty());

    EXPECT_FALSE(FileLocations::readFile(temp.path() / "absent"));
    EXPECT_FALSE(FileLocations::readFile(temp.path()));
    // A FIFO would block a plain open until a writer appears.
    ASSERT_EQ(::mkfifo((temp.path() / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(FileLocations::readFile(temp.path() / "fifo"));
}

} // namespace
