#include "joblark/Foundation/FileLocations.hpp"

#include "TemporaryEnvironment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>

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
    static std::vector<std::string> entries(const fs::path& directory) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    joblark::testing::TemporaryDirectory temp;
    joblark::testing::ScopedEnvironment env;
    mode_t previousUmask = 022;
};

TEST_F(FileLocationsTest, DirectoriesFollowAbsoluteXDGVariablesOrHomeAndArePrivate) {
    const auto home = temp.path() / "home";
    // Unnamed, the program's own name is the folder; a name that is not one component is refused.
    EXPECT_EQ(FileLocations::cacheDirectory(), home / ".cache" / program_invocation_short_name);
    FileLocations::setApplicationName("kestrova");
    FileLocations::setApplicationName("../escape");
    EXPECT_EQ(FileLocations::cacheDirectory(), home / ".cache" / "kestrova");
    EXPECT_EQ(FileLocations::configDirectory(), home / ".config" / "kestrova");
    env.set("XDG_CACHE_HOME", "relative/cache"); // relative and empty values are ignored
    env.set("XDG_DATA_HOME", "");
    EXPECT_EQ(FileLocations::cacheDirectory(), home / ".cache" / "kestrova");
    EXPECT_EQ(FileLocations::dataDirectory(), home / ".local" / "share" / "kestrova");
    EXPECT_EQ(FileLocations::documentsDirectory(), home / ".local" / "share" / "kestrova");
    EXPECT_FALSE(fs::exists("relative/cache"));
    EXPECT_EQ(permissions(home / ".local" / "share" / "kestrova"), 0700u);

    const std::tuple<const char*, const char*, fs::path (*)()> absolute[] = {
        {"XDG_CACHE_HOME", "cache", FileLocations::cacheDirectory},
        {"XDG_DATA_HOME", "data", FileLocations::dataDirectory},
        {"XDG_CONFIG_HOME", "config", FileLocations::configDirectory},
    };
    for (const auto& [variable, base, directory] : absolute) {
        env.set(variable, (temp.path() / base).string());
        EXPECT_EQ(directory(), temp.path() / base / "kestrova") << variable;
        EXPECT_EQ(permissions(temp.path() / base / "kestrova"), 0700u) << variable;
    }
    env.set("XDG_DOCUMENTS_DIR", "Documents"); // relative: the data directory is used
    EXPECT_EQ(FileLocations::documentsDirectory(), temp.path() / "data" / "kestrova");
    env.set("XDG_DOCUMENTS_DIR", (temp.path() / "Documents").string());
    EXPECT_EQ(FileLocations::documentsDirectory(), temp.path() / "Documents");
    EXPECT_TRUE(fs::is_directory(temp.path() / "Documents"));
}

TEST_F(FileLocationsTest, AtomicWriteReplacesWithTheRequestedModeOrKeepsTheOldState) {
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

    // A regular file where a directory should be fails even for root.
    std::ofstream(temp.path() / "blocker") << "not a directory";
    auto blocked =
        FileLocations::writeFileAtomically(temp.path() / "blocker" / "file", std::string_view("data"));
    EXPECT_FALSE(blocked.success);
    EXPECT_NE(blocked.errorMessage.find((temp.path() / "blocker" / "file").string()), std::string::npos)
        << blocked.errorMessage;
    const std::string_view blockerText = "not a directory";
    EXPECT_EQ(FileLocations::readFile(temp.path() / "blocker"),
              std::vector<std::uint8_t>(blockerText.begin(), blockerText.end()));
    // The rename onto a non-empty directory fails: the temporary file goes, the directory keeps its contents.
    fs::create_directory(temp.path() / "occupied");
    std::ofstream(temp.path() / "occupied" / "inside") << "kept";
    auto renamed = FileLocations::writeFileAtomically(temp.path() / "occupied", second);
    EXPECT_FALSE(renamed.success);
    EXPECT_FALSE(renamed.errorMessage.empty());
    EXPECT_EQ(entries(temp.path()),
              (std::vector<std::string>{"blocker", "occupied", "shared.txt", "store.bin"}));
    EXPECT_EQ(entries(temp.path() / "occupied"), (std::vector<std::string>{"inside"}));
    EXPECT_EQ(FileLocations::readFile(path), second);
    EXPECT_FALSE(FileLocations::writeFileAtomically(fs::path(), std::string_view("x")));
}

TEST_F(FileLocationsTest, AWriterKilledMidWriteLeavesNoTemporaryFileAndStaleOnesGo) {
    const auto path = temp.path() / "store.bin";
    ASSERT_TRUE(FileLocations::writeFileAtomically(path, std::string_view("kept")));
    // The file size limit kills the writer with SIGXFSZ in the middle of its data.
    auto killedMidWrite = [&] {
        const rlimit size{4096, 4096}, core{0, 0};
        ::setrlimit(RLIMIT_CORE, &core);
        ::setrlimit(RLIMIT_FSIZE, &size);
        std::signal(SIGXFSZ, SIG_DFL);
        FileLocations::writeFileAtomically(path, std::string(1 << 20, 'x'));
    };
    EXPECT_EXIT(killedMidWrite(), ::testing::KilledBySignal(SIGXFSZ), "");
    EXPECT_EQ(entries(temp.path()), std::vector<std::string>{"store.bin"});
    EXPECT_EQ(FileLocations::readFile(path), (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));

    // What older writers left: only ".store.bin.tmp-" and eight letters or digits, once old enough.
    for (const char* name : {".store.bin.tmp-abcd1234", ".store.bin.tmp-fresh123", ".store.bin.tmp-short",
                             ".other.tmp-abcd1234", "store.bin.tmp-abcd1234"})
        std::ofstream(temp.path() / name) << "partial";
    for (const char* name :
         {".store.bin.tmp-abcd1234", ".store.bin.tmp-short", ".other.tmp-abcd1234", "store.bin.tmp-abcd1234"})
        fs::last_write_time(temp.path() / name, fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(FileLocations::removeStaleTemporaryFiles(path, std::chrono::minutes(10)), 1u);
    EXPECT_EQ(entries(temp.path()),
              (std::vector<std::string>{".other.tmp-abcd1234", ".store.bin.tmp-fresh123",
                                        ".store.bin.tmp-short", "store.bin", "store.bin.tmp-abcd1234"}));
}

TEST_F(FileLocationsTest, ReadFileRefusesWhatIsNotASmallEnoughRegularFile) {
    const auto path = temp.path() / "sized";
    std::ofstream(path) << std::string(100, 'a');
    ASSERT_TRUE(FileLocations::readFile(path, 100));
    EXPECT_EQ(FileLocations::readFile(path, 100)->size(), 100u);
    EXPECT_FALSE(FileLocations::readFile(path, 99));
    std::ofstream(temp.path() / "empty").flush();
    ASSERT_TRUE(FileLocations::readFile(temp.path() / "empty"));
    EXPECT_TRUE(FileLocations::readFile(temp.path() / "empty")->empty());
    EXPECT_FALSE(FileLocations::readFile(temp.path() / "absent"));
    EXPECT_FALSE(FileLocations::readFile(temp.path()));
    // A FIFO would block a plain open until a writer appears.
    ASSERT_EQ(::mkfifo((temp.path() / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(FileLocations::readFile(temp.path() / "fifo"));
}

} // namespace
