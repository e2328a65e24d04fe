#include "joblark/StorageController.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/PropertyList.hpp"

#include "../Foundation/BinaryPlistWriter.hpp"
#include "../Foundation/TemporaryEnvironment.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace joblark;
namespace fs = std::filesystem;

namespace {

class Bookmark : public Object, public Coding {
public:
    static constexpr std::string_view codingClassName = "Kestrova.TestBookmark";
    std::string className() const override { return std::string(codingClassName); }

    Bookmark(std::string initialTitle, std::int64_t initialVisits)
        : title(std::move(initialTitle)), visits(initialVisits) {}
    std::string title;
    std::int64_t visits;

    void encode(KeyedArchiver& archiver) const override {
        archiver.encodeString(title, "title");
        archiver.encodeInt64(visits, "visits");
    }
    static std::shared_ptr<Bookmark> decode(KeyedUnarchiver& unarchiver) {
        auto title = unarchiver.decodeString("title");
        auto visits = unarchiver.decodeInt64("visits");
        if (!title || !visits)
            return nullptr;
        return std::make_shared<Bookmark>(*title, *visits);
    }
};

constexpr std::string_view clearingMessage =
    "Unable to use existing data from store. Clearing stored value. ";

/// Makes every write to a regular file fail (EFBIG) while it lives; works for root too, where
/// permissions do not.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

class StorageControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        KeyedUnarchiver::registerClass<Bookmark>();
        env.set("HOME", temp.path().string());
        env.set("XDG_DATA_HOME", (temp.path() / "data").string());
        env.unset("XDG_DOCUMENTS_DIR");
    }

    fs::path storeDirectory() const { return temp.path() / "data" / "kestrova"; }

    /// The file's dictionary as another process would read it.
    Dictionary fileContents(const fs::path& path) const {
        auto bytes = FileLocations::readFile(path);
        if (!bytes)
            return {};
        auto value = PropertyList::deserialize(*bytes);
        EXPECT_TRUE(value && value->isDictionary()) << path;
        return value && value->isDictionary() ? *value->asDictionary() : Dictionary{};
    }

    void writeStoreFile(const fs::path& path, const Dictionary& contents) const {
        auto bytes = PropertyList::serialize(Value(contents));
        ASSERT_TRUE(bytes);
        ASSERT_TRUE(FileLocations::writeFileAtomically(path, *bytes));
    }

    static Data archived(const Value& value) { return *KeyedArchiver::archivedData(value); }

    joblark::testing::TemporaryDirectory temp;
    joblark::testing::ScopedEnvironment env;
};

TEST_F(StorageControllerTest, StoredPlainValuesLoadBackInAnotherController) {
    StorageController writer("Test.archive");
    EXPECT_EQ(writer.location(), storeDirectory() / "Test.archive");
    const Array list{1, "two", Dictionary{{"three", 3.0}}};
    const Dictionary settings{{"enabled", true}, {"limits", Array{1, 2}}};
    ASSERT_TRUE(writer.storeValue("hello", "greeting"));
    ASSERT_TRUE(writer.storeValue(std::int64_t{-42}, "answer"));
    ASSERT_TRUE(writer.storeValue(2.5, "ratio"));
    ASSERT_TRUE(writer.storeValue(true, "flag"));
    ASSERT_TRUE(writer.storeValue(Data{1, 2, 3}, "blob"));
    ASSERT_TRUE(writer.storeValue(list, "list"));
    ASSERT_TRUE(writer.storeValue(settings, "settings"));

    StorageController reader("Test.archive");
    EXPECT_EQ(reader.loadStoredValue<std::string>("greeting"), "hello");
    EXPECT_EQ(reader.loadStoredValue<std::int64_t>("answer"), -42);
    EXPECT_EQ(reader.loadStoredValue<double>("ratio"), 2.5);
    EXPECT_EQ(reader.loadStoredValue<bool>("flag"), true);
    EXPECT_EQ(reader.loadStoredValue<Data>("blob"), (Data{1, 2, 3}));
    EXPECT_EQ(reader.loadStoredValue<Array>("list"), list);
    EXPECT_EQ(reader.loadStoredValue<Dictionary>("settings"), settings);
    EXPECT_EQ(reader.loadStoredValue<Value>("greeting"), Value("hello"));
    EXPECT_FALSE(reader.loadStoredValue<std::string>("absent"));

    // Another type than the stored one gives nothing but keeps the value.
    LogCapture log;
    EXPECT_FALSE(reader.loadStoredValue<std::int64_t>("greeting"));
    EXPECT_FALSE(reader.loadStoredValue<bool>("answer"));
    EXPECT_EQ(reader.loadStoredValue<std::string>("greeting"), "hello");
    EXPECT_TRUE(log.entries().empty());

    // Overwriting replaces the value.
    ASSERT_TRUE(reader.storeValue("bye", "greeting"));
    EXPECT_EQ(StorageController("Test.archive").loadStoredValue<std::string>("greeting"), "bye");
}

TEST_F(StorageControllerTest, CodingObjectsRoundTripAndNeedToBeAllowed) {
    StorageController writer("Objects.archive");
    ASSERT_TRUE(writer.storeValue(std::make_shared<Bookmark>("Status page", 12), "bookmark"));
    ASSERT_TRUE(writer.storeValue(Array{Value(std::make_shared<Bookmark>("A", 1))}, "bookmarks"));

    StorageController reader("Objects.archive");
    auto bookmark = reader.loadStoredValue<std::shared_ptr<Bookmark>>("bookmark");
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->title, "Status page");
    EXPECT_EQ(bookmark->visits, 12);

    auto list = reader.loadStoredValue<Array>("bookmarks", {std::string(Bookmark::codingClassName)});
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    auto first = list->front().asObject<Bookmark>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->title, "A");

    // Without the class in the allow-list the data counts as unusable: logged and cleared.
    LogCapture log;
    EXPECT_FALSE(reader.loadStoredValue<Array>("bookmarks"));
    EXPECT_EQ(log.count(clearingMessage), 1u);
    EXPECT_FALSE(fileContents(writer.location()).contains("bookmarks"));
    EXPECT_TRUE(fileContents(writer.location()).contains("bookmark"));
}

TEST_F(StorageControllerTest, UnusableEntryIsClearedOnceAndSparesTheOthers) {
    const auto path = storeDirectory() / "DataStore.archive";
    fs::create_directories(storeDirectory());
    writeStoreFile(path,
                   Dictionary{{"bad", Data{1, 2, 3}}, {"good", archived("fine")}, {"text", "not data"}});

    StorageController controller{std::string(StorageController::defaultFileName)};
    ASSERT_EQ(controller.location(), path);
    LogCapture log;
    EXPECT_FALSE(controller.loadStoredValue<std::string>("bad"));
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(clearingMessage, 0), 0u) << messages[0];
    EXPECT_GT(messages[0].size(), clearingMessage.size()) << "the error's description follows";
    EXPECT_EQ(log.entries()[0].level, LogLevel::defaultLevel);
    EXPECT_TRUE(log.entries()[0].subsystem.empty());

    const auto onDisk = fileContents(path);
    EXPECT_FALSE(onDisk.contains("bad"));
    EXPECT_EQ(onDisk.at("good"), Value(archived("fine")));
    EXPECT_EQ(onDisk.at("text"), Value("not data"));

    // The key is gone now: nothing, and nothing logged.
    log.clear();
    EXPECT_FALSE(controller.loadStoredValue<std::string>("bad"));
    EXPECT_TRUE(log.entries().empty());

    // An entry that is not data yields nothing and is left alone.
    EXPECT_FALSE(controller.loadStoredValue<std::string>("text"));
    EXPECT_TRUE(log.entries().empty());
    EXPECT_TRUE(controller.store().contains("text"));

    EXPECT_EQ(StorageController{std::string(StorageController::defaultFileName)}.loadStoredValue<std::string>(
                  "good"),
              "fine");
}

TEST_F(StorageControllerTest, MissingOrUnreadableFileStartsEmptyAndIsReplacedByTheNextStore) {
    StorageController missing(temp.path() / "none" / "Missing.archive");
    EXPECT_TRUE(missing.store().empty());
    EXPECT_FALSE(missing.loadStoredValue<std::string>("anything"));

    const auto garbled = temp.path() / "Garbled.archive";
    std::ofstream(garbled) << "this is not a property list";
    StorageController controller(garbled);
    EXPECT_TRUE(controller.store().empty());
    ASSERT_TRUE(controller.storeValue("fresh", "key"));
    EXPECT_EQ(fileContents(garbled).size(), 1u);
    EXPECT_EQ(StorageController(garbled).loadStoredValue<std::string>("key"), "fresh");

    // A property list that is not a dictionary counts as unreadable too.
    const auto array = temp.path() / "Array.archive";
    ASSERT_TRUE(FileLocations::writeFileAtomically(array, *PropertyList::serialize(Value(Array{1}))));
    EXPECT_TRUE(StorageController(array).store().empty());
}

TEST_F(StorageControllerTest, EntriesThatCouldNotBeWrittenBackAreDroppedOnLoad) {
    // A key that is not UTF-8 reads fine but no property list writer accepts it again.
    joblark::testing::BinaryPlistWriter writer;
    auto good = writer.string("good");
    auto bad = writer.string("bad \xFF key");
    auto value = writer.data(archived("kept"));
    const auto path = temp.path() / "Foreign.archive";
    ASSERT_TRUE(FileLocations::writeFileAtomically(
        path, writer.finish(writer.dictionary({good, bad}, {value, value}))));

    StorageController controller(path);
    EXPECT_EQ(controller.store().size(), 1u);
    EXPECT_EQ(controller.loadStoredValue<std::string>("good"), "kept");
    EXPECT_TRUE(controller.storeValue("new", "other"));
    EXPECT_EQ(fileContents(path).size(), 2u);
}

TEST_F(StorageControllerTest, StoreFileIsABinaryPropertyListWithMode0600) {
    const mode_t previous = ::umask(0);
    StorageController controller(temp.path() / "Private.archive");
    const bool stored = controller.storeValue(7, "count");
    ::umask(previous);
    ASSERT_TRUE(stored);
    struct stat info {};
    ASSERT_EQ(::stat(controller.location().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    auto bytes = FileLocations::readFile(controller.location());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
    EXPECT_EQ(fileContents(controller.location()).at("count"), Value(archived(7)));
}

TEST_F(StorageControllerTest, PurgeEmptiesMemoryAndFile) {
    StorageController controller(temp.path() / "Purge.archive");
    ASSERT_TRUE(controller.storeValue("a", "one"));
    ASSERT_TRUE(controller.storeValue("b", "two"));
    controller.purge();
    EXPECT_TRUE(controller.store().empty());
    EXPECT_FALSE(controller.loadStoredValue<std::string>("one"));
    ASSERT_TRUE(fs::exists(controller.location()));
    EXPECT_TRUE(fileContents(controller.location()).empty());
    EXPECT_FALSE(StorageController(controller.location()).loadStoredValue<std::string>("two"));
}

TEST_F(StorageControllerTest, FailedWriteReturnsFalseAndKeepsThePreviousFile) {
    // The parent of the location is a regular file: nothing can be created there.
    std::ofstream(temp.path() / "blocker") << "file";
    StorageController blocked(temp.path() / "blocker" / "DataStore.archive");
    LogCapture log;
    EXPECT_FALSE(blocked.storeValue("value", "key"));
    EXPECT_TRUE(log.entries().empty()) << "a failed write is the caller's to report";

    StorageController controller(temp.path() / "Intact.archive");
    ASSERT_TRUE(controller.storeValue("original", "key"));
    const auto before = FileLocations::readFile(controller.location());
    bool stored = true;
    {
        FileSizeLimit limit(16);
        stored = controller.storeValue(std::string(4096, 'x'), "big");
    }
    EXPECT_FALSE(stored);
    EXPECT_EQ(FileLocations::readFile(controller.location()), before);
    EXPECT_EQ(StorageController(controller.location()).loadStoredValue<std::string>("key"), "original");
    std::vector<std::string> leftovers;
    for (const auto& entry : fs::directory_iterator(temp.path()))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            leftovers.push_back(entry.path());
    EXPECT_TRUE(leftovers.empty()) << ::testing::PrintToString(leftovers);
}

TEST_F(StorageControllerTest, ClearingLogsWhenTheStoreCannotBeRewritten) {
    const auto path = temp.path() / "Rewrite Me.archive";
    writeStoreFile(path, Dictionary{{"bad", Data{0xde, 0xad}}});
    StorageController controller(path);
    EXPECT_EQ(controller.locationURLString(), "file://" + temp.path().string() + "/Rewrite%20Me.archive");

    LogCapture log;
    {
        FileSizeLimit limit(1);
        EXPECT_FALSE(controller.loadStoredValue<std::string>("bad"));
    }
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind(clearingMessage, 0), 0u);
    EXPECT_EQ(messages[1],
              "Unable to write store to file://" + temp.path().string() + "/Rewrite%20Me.archive");
    EXPECT_EQ(messages[1].rfind("Unable to write store to file:///", 0), 0u);
    // Still cleared in memory, so it is not reported again.
    EXPECT_FALSE(controller.loadStoredValue<std::string>("bad"));
    EXPECT_EQ(log.messages().size(), 2u);
}

TEST_F(StorageControllerTest, UnarchivableValueIsLoggedAndLeavesTheStoreUnchanged) {
    StorageController controller(temp.path() / "Unchanged.archive");
    ASSERT_TRUE(controller.storeValue("kept", "key"));
    const auto before = FileLocations::readFile(controller.location());

    LogCapture log;
    EXPECT_FALSE(controller.storeValue(Value(makeError("not archivable")), "key"));
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Unable to store data to User Defaults. Errors cannot be archived.");
    EXPECT_EQ(controller.loadStoredValue<std::string>("key"), "kept");
    EXPECT_EQ(FileLocations::readFile(controller.location()), before);
}

TEST_F(StorageControllerTest, DefaultControllerCanBeReplaced) {
    EXPECT_EQ(StorageController::defaultController().location().filename(), "DataStore.archive");
    StorageController::setDefault(StorageController(temp.path() / "Replacement.archive"));
    EXPECT_EQ(StorageController::defaultController().location(), temp.path() / "Replacement.archive");
    ASSERT_TRUE(StorageController::defaultController().storeValue("shared", "key"));
    EXPECT_EQ(StorageController(temp.path() / "Replacement.archive").loadStoredValue<std::string>("key"),
              "shared");
    // Leave no controller pointing into this test's directory.
    StorageController::setDefault(
        StorageController(fs::temp_directory_path() / "joblark-unused" / "DataStore.archive"));
}

} // namespace
