#include "TestService.hpp"

#include <sqlite3.h>

#include <fstream>

namespace quillnest::testing {
namespace {

class StorageTest : public ::testing::Test {
protected:
    std::filesystem::path path() const { return directory.path() / "store.sqlite3"; }

    std::int64_t user(Storage& storage, const std::string& email = "ana@example.com") {
        UserRecord created;
        EXPECT_EQ(storage.createUser(email, "hash", 100, &created), CreateOutcome::created);
        return created.id;
    }

    EndpointRecord endpoint(Storage& storage, std::int64_t userId, const std::string& name) {
        EndpointRecord e;
        e.userId = userId;
        e.name = name;
        e.endpointUrl = "http://127.0.0.1:1/";
        EXPECT_EQ(storage.createEndpoint(e, 1000), CreateOutcome::created);
        return e;
    }

    TemporaryDirectory directory;
};

TEST_F(StorageTest, UsesWALRecordsTheSchemaVersionAndRefusesWhatItCannotRead) {
    { Storage storage(path()); }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
    auto single = [&](const char* sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        std::string out;
        if (sqlite3_step(s) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return out;
    };
    EXPECT_EQ(single("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(single("PRAGMA user_version"), std::to_string(Storage::schemaVersion));
    // A database from a newer release is refused rather than misread.
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_THROW(Storage{path()}, StorageError);
    // So is a file that is not a database at all, without a crash.
    const auto garbage = directory.path() / "garbage.sqlite3";
    std::ofstream(garbage) << std::string(4096, 'g');
    EXPECT_THROW(Storage{garbage}, StorageError);
}

TEST_F(StorageTest, TheDatabaseItsJournalsAndANewDirectoryAreTheOwnersAlone) {
    using std::filesystem::perms;
    auto mode = [](const std::filesystem::path& p) {
        return std::filesystem::status(p).permissions() & perms::all;
    };
    auto nested = directory.path() / "a" / "b" / "store.sqlite3";
    {
        Storage storage(nested);
        user(storage); // the WAL and shared-memory files exist while it is open
        EXPECT_EQ(mode(nested.parent_path()), perms::owner_all);
        for (const char* suffix : {"", "-wal", "-shm"})
            EXPECT_EQ(mode(nested.string() + suffix), perms::owner_read | perms::owner_write) << suffix;
    }
    // A database left readable by others is narrowed when opened.
    std::filesystem::permissions(nested, perms::owner_read | perms::owner_write | perms::group_read |
                                             perms::others_read);
    Storage again(nested);
    EXPECT_EQ(mode(nested), perms::owner_read | perms::owner_write);
}

TEST_F(StorageTest, DuplicateAddressesDifferingOnlyInCaseAreRefused) {
    Storage storage(path());
    user(storage, "ana@example.com");
    EXPECT_EQ(storage.createUser("ANA@Example.com", "hash", 1), CreateOutcome::duplicate);
}

TEST_F(StorageTest, HistoryKeepsTheNewestChecksOnly) {
    Storage storage(path());
    auto id = user(storage);
    auto e = endpoint(storage, id, "A");
    for (int i = 0; i < Storage::historyLimit + 12; ++i) {
        CheckRecord check;
        check.createdAt = 1000 + i;
        check.responseTime = i;
        check.status = i % 2 ? "ok" : "down";
        check.message = "check " + std::to_string(i);
        ASSERT_TRUE(storage.recordCheck(e.id, check));
    }
    auto stored = storage.endpoint(id, e.uuid);
    ASSERT_EQ(stored->history.size(), static_cast<std::size_t>(Storage::historyLimit));
    EXPECT_EQ(stored->history.front().responseTime, Storage::historyLimit + 11); // newest first
    EXPECT_EQ(stored->history.back().responseTime, 12);
    EXPECT_EQ(stored->lastCheckStatus, "ok");
    EXPECT_EQ(stored->lastCheckMessage, "check " + std::to_string(Storage::historyLimit + 11));
    // The same bound in a page of the list.
    auto page = storage.endpoints(id, PageQuery{});
    EXPECT_EQ(page.items.front().history.size(), static_cast<std::size_t>(Storage::historyLimit));
    // A check for an endpoint deleted meanwhile is dropped.
    ASSERT_TRUE(storage.deleteEndpoint(id, e.uuid));
    EXPECT_FALSE(storage.recordCheck(e.id, CheckRecord{}));
}

TEST_F(StorageTest, PagesCoverTheCollectionExactlyOnceInBothDirections) {
    Storage storage(path());
    auto id = user(storage);
    auto other = user(storage, "bo@example.com");
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 10; ++i) {
        ids.push_back(endpoint(storage, id, "e" + std::to_string(i)).id);
        endpoint(storage, other, "noise");
    }
    for (bool reverse : {false, true}) {
        for (std::int64_t size : {1, 3, 4, 10, 11}) {
            std::vector<std::int64_t> seen;
            PageQuery query{size, reverse, std::nullopt};
            for (int guard = 0; guard < 20; ++guard) {
                auto page = storage.endpoints(id, query);
                EXPECT_EQ(page.total, 10);
                for (auto& e : page.items)
                    seen.push_back(e.id);
                if (!page.nextSince)
                    break;
                query.since = page.nextSince;
            }
            auto expected = ids;
            if (reverse)
                std::reverse(expected.begin(), expected.end());
            EXPECT_EQ(seen, expected) << "size " << size << (reverse ? " reverse" : "");
        }
    }
    // Past the end: an empty page that still leads back to the last rows.
    auto beyond = storage.endpoints(id, PageQuery{3, false, ids.back()});
    EXPECT_TRUE(beyond.items.empty());
    ASSERT_TRUE(beyond.previousSince);
    auto back = storage.endpoints(id, PageQuery{3, true, beyond.previousSince});
    ASSERT_EQ(back.items.size(), 3u);
    EXPECT_EQ(back.items.front().id, ids.back());
}

} // namespace
} // namespace quillnest::testing
