#include "joblark/Tasks/StorageController.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/PropertyList.hpp"

#include "BinaryPlistWriter.hpp"
#include "TemporaryEnvironment.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace joblark;
using joblark::testing::BinaryPlistWriter;
namespace fs = std::filesystem;

namespace {

struct Bookmark : Object, Coding {
    static constexpr std::string_view codingClassName = "Kestrova.TestBookmark";
    explicit Bookmark(std::string initialTitle) : title(std::move(initialTitle)) {}
    std::string title;

    std::string className() const override { return std::string(codingClassName); }
    void encode(KeyedArchiver& archiver) const override { archiver.encodeString(title, "title"); }
    static std::shared_ptr<Bookmark> decode(KeyedUnarchiver& unarchiver) {
        auto title = unarchiver.decodeString("title");
        return title ? std::make_shared<Bookmark>(*title) : nullptr;
    }
};

constexpr std::string_view clearingMessage =
    "Unable to use existing data from store. Clearing stored value. ";

/// Runs `body` while every write to a regular file past `bytes` fails (EFBIG); unlike permissions,
/// this holds for root too.
template <class Body>
auto withFileSizeLimit(rlim_t bytes, Body body) {
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    auto result = body();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    return result;
}

Data archived(const Value& value) {
    return *KeyedArchiver::archivedData(value);
}

/// The file's dictionary as another process would read it (empty when there is no file).
Dictionary onDisk(const fs::path& path) {
    auto bytes = FileLocations::readFile(path);
    auto value = bytes ? PropertyList::deserialize(*bytes) : Expected<Value>(Dictionary{});
    EXPECT_TRUE(value && value->isDictionary()) << path;
    return value && value->isDictionary() ? *value->asDictionary() : Dictionary{};
}

void writeFile(const fs::path& path, const Value& contents) {
    ASSERT_TRUE(FileLocations::writeFileAtomically(path, *PropertyList::serialize(contents)));
}

class StorageControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        KeyedUnarchiver::registerClass<Bookmark>();
        env.set("HOME", temp.path().string());
        env.set("XDG_DATA_HOME", (temp.path() / "data").string());
        env.unset("XDG_DOCUMENTS_DIR");
    }
    fs::path file(const char* name) const { return temp.path() / name; }

    joblark::testing::TemporaryDirectory temp;
    joblark::testing::ScopedEnvironment env;
};

TEST_F(StorageControllerTest, StoredValuesLoadBackInAnotherController) {
    const Array list{1, "two", Dictionary{{"three", 3.0}}};
    const Dictionary settings{{"enabled", true}, {"limits", Array{1, 2}}};
    FileLocations::setApplicationName("storage-app");
    EXPECT_EQ(StorageController().location(), temp.path() / "data" / "storage-app" / "DataStore.archive");
    StorageController writer(file("Test.archive"));
    for (const auto& [key, value] : std::vector<std::pair<std::string, Value>>{
             {"greeting", "hello"},
             {"answer", -42},
             {"ratio", 2.5},
             {"flag", true},
             {"blob", Data{1, 2, 3}},
             {"list", list},
             {"settings", settings},
             {"bookmark", std::make_shared<Bookmark>("Status page")},
             {"bookmarks", Array{Value(std::make_shared<Bookmark>("A"))}}})
        ASSERT_TRUE(writer.storeValue(value, key)) << key;

    StorageController reader(file("Test.archive"));
    EXPECT_EQ(reader.loadStoredValue<std::string>("greeting"), "hello");
    EXPECT_EQ(reader.loadStoredValue<std::int64_t>("answer"), -42);
    EXPECT_EQ(reader.loadStoredValue<double>("ratio"), 2.5);
    EXPECT_EQ(reader.loadStoredValue<bool>("flag"), true);
    EXPECT_EQ(reader.loadStoredValue<Data>("blob"), (Data{1, 2, 3}));
    EXPECT_EQ(reader.loadStoredValue<Array>("list"), list);
    EXPECT_EQ(reader.loadStoredValue<Dictionary>("settings"), settings);
    EXPECT_EQ(reader.loadStoredValue<Value>("greeting"), Value("hello"));
    EXPECT_FALSE(reader.loadStoredValue<std::string>("absent"));
    // The class of a shared_ptr<Bookmark> is allowed implicitly; inside an Array it has to be listed.
    auto bookmark = reader.loadStoredValue<std::shared_ptr<Bookmark>>("bookmark");
    ASSERT_NE(bookmark, nullptr);
    EXPECT_EQ(bookmark->title, "Status page");
    auto bookmarks = reader.loadStoredValue<Array>("bookmarks", {std::string(Bookmark::codingClassName)});
    ASSERT_TRUE(bookmarks && bookmarks->size() == 1 && bookmarks->front().asObject<Bookmark>());
    EXPECT_EQ(bookmarks->front().asObject<Bookmark>()->title, "A");

    // Another type than the stored one gives nothing but keeps the value.
    LogCapture log;
    EXPECT_FALSE(reader.loadStoredValue<std::int64_t>("greeting"));
    EXPECT_FALSE(reader.loadStoredValue<bool>("answer"));
    EXPECT_EQ(reader.loadStoredValue<std::string>("greeting"), "hello");
    EXPECT_TRUE(log.entries().empty());

    ASSERT_TRUE(reader.storeValue("bye", "greeting")); // overwrites
    EXPECT_EQ(StorageController(file("Test.archive")).loadStoredValue<std::string>("greeting"), "bye");

    reader.purge();
    EXPECT_TRUE(reader.store().empty());
    ASSERT_TRUE(fs::exists(file("Test.archive")));
    EXPECT_TRUE(onDisk(file("Test.archive")).empty());
}

TEST_F(StorageControllerTest, UnreadableFilesAndEntriesGiveWayToAPrivateBinaryStore) {
    std::ofstream(file("Garbled.archive")) << "this is not a property list";
    writeFile(file("Array.archive"), Array{1}); // a property list, but not a dictionary
    // A key that is not UTF-8 reads fine, but no writer accepts it again: only "good" survives.
    const Value kept = archived("kept");
    ASSERT_TRUE(FileLocations::writeFileAtomically(
        file("Foreign.archive"), BinaryPlistWriter::of(Dictionary{{"good", kept}, {"bad \xFF key", kept}})));
    for (auto [name, entries] : {std::pair{"Missing.archive", 0u}, std::pair{"Garbled.archive", 0u},
                                 std::pair{"Array.archive", 0u}, std::pair{"Foreign.archive", 1u}}) {
        StorageController controller(file(name));
        EXPECT_EQ(controller.store().size(), entries) << name;
        const mode_t previousMask = ::umask(0);
        const bool stored = controller.storeValue("fresh", "key");
        ::umask(previousMask);
        ASSERT_TRUE(stored) << name;
        struct stat info {};
        ASSERT_EQ(::stat(file(name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << name;
        const auto bytes = FileLocations::readFile(file(name)).value_or(Data{});
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(0, 8), "bplist00") << name;
        EXPECT_EQ(onDisk(file(name)).size(), entries + 1) << name;
        EXPECT_EQ(onDisk(file(name)).at("key"), Value(archived("fresh"))) << name;
    }
}

TEST_F(StorageControllerTest, UnusableEntriesAreClearedOnceAndFailedWritesKeepThePreviousFile) {
    const auto path = file("Rewrite Me.archive");
    writeFile(path, Dictionary{{"bad", Data{1, 2, 3}},
                               {"worse", Data{0xde, 0xad}},
                               {"good", archived("fine")},
                               {"text", "not data"}});
    StorageController controller(path);
    LogCapture log;
    EXPECT_FALSE(controller.loadStoredValue<std::string>("bad"));
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message.rfind(clearingMessage, 0), 0u) << entries[0].message;
    EXPECT_GT(entries[0].message.size(), clearingMessage.size()) << "the error's description follows";
    EXPECT_EQ(entries[0].level, LogLevel::defaultLevel);
    EXPECT_TRUE(entries[0].subsystem.empty());
    EXPECT_EQ(onDisk(path),
              (Dictionary{{"worse", Data{0xde, 0xad}}, {"good", archived("fine")}, {"text", "not data"}}));
    // Gone now, so nothing more is logged; an entry that is not data gives nothing and stays.
    EXPECT_FALSE(controller.loadStoredValue<std::string>("bad"));
    EXPECT_FALSE(controller.loadStoredValue<std::string>("text"));
    EXPECT_TRUE(controller.store().contains("text"));
    EXPECT_EQ(log.entries().size(), 1u);

    // What cannot be archived is logged and changes nothing.
    log.clear();
    EXPECT_FALSE(controller.storeValue(Value(makeError("not archivable")), "good"));
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"Unable to store data to User Defaults. Errors cannot be archived."});
    EXPECT_EQ(controller.loadStoredValue<std::string>("good"), "fine");

    // A failed write is the caller's to report; only clearing an entry logs that it could not write.
    log.clear();
    const auto before = FileLocations::readFile(path);
    const auto [stored, worse] = withFileSizeLimit(16, [&] {
        return std::pair{controller.storeValue(std::string(4096, 'x'), "big"),
                         controller.loadStoredValue<std::string>("worse")};
    });
    EXPECT_FALSE(stored);
    EXPECT_FALSE(worse);
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind(clearingMessage, 0), 0u) << messages[0];
    EXPECT_EQ(messages[1],
              "Unable to write store to file://" + temp.path().string() + "/Rewrite%20Me.archive");
    EXPECT_FALSE(controller.loadStoredValue<std::string>("worse")); // cleared in memory: not reported again
    EXPECT_EQ(log.messages().size(), 2u);
    EXPECT_EQ(FileLocations::readFile(path), before);
    EXPECT_EQ(StorageController(path).loadStoredValue<std::string>("good"), "fine");
    for (const auto& entry : fs::directory_iterator(temp.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

} // namespace
