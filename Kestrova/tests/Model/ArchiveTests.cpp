#include "JSONFixtures.hpp"
#include "TemporaryEnvironment.hpp"

#include "Model/AppState.hpp"
#include "Model/ArchiveCoding.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/PropertyList.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sys/stat.h>

using namespace kestrova;
using joblark::KeyedArchiver;
using joblark::KeyedUnarchiver;
using kestrova::testing::build;

namespace {

std::shared_ptr<AppState> sampleState() {
    auto state = std::make_shared<AppState>();
    state->user = build<User>(R"({"url":"https://svc.example/api/me","uuid":"u1","email":"me@example.com",
        "endpoints_remaining":0,"contacts_remaining":5,"status_page_enabled":false,
        "created_at":"2025-01-01T00:00:00Z","updated_at":"2026-01-01T10:00:00.250Z"})");
    state->endpoints = {
        build<Endpoint>(R"({"url":"https://svc.example/api/endpoints/1","uuid":"e1","name":"Shop",
            "endpoint_url":"https://shop.example/health?deep=1","check_type":"head","degredation_threshold":300,
            "ensure_valid_cert":true,"cert_check_expiry_threshold":14,"public":true,
            "created_at":"2025-02-01T00:00:00Z","updated_at":"2025-02-02T00:00:00.5Z","status":"inactive",
            "last_check_status":"degraded","last_check_message":"slow",
            "history":[{"uuid":"c1","status":"degraded"}]})"),
        build<Endpoint>(R"({"uuid":"e2"})")};
    auto measure = build<Measure>(R"({"url":"https://svc.example/api/measures/9","uuid":"m1","name":"Queue",
        "public":false,"created_at":"2025-03-01T00:00:00Z","status":"active","last_status":"down",
        "last_assessment_message":"too long","criteria":[{"comparison":"less_than","expected_value":"10"}],
        "history":[{"measurement":"12"}]})");
    measure->setCursorId("cursor");
    state->measures = {measure};
    return state;
}

std::shared_ptr<AppState> roundTrip(const AppState& state) {
    auto data = state.archivedData();
    EXPECT_TRUE(data) << (data ? "" : data.error()->localizedDescription());
    if (!data)
        return nullptr;
    auto back = AppState::fromArchive(*data);
    EXPECT_TRUE(back) << (back ? "" : back.error()->localizedDescription());
    return back ? *back : nullptr;
}

/// Writes the keys of an AppState archive with whatever values a test wants, under the real class name.
class ForgedState : public joblark::Object, public joblark::Coding {
public:
    using Writer = std::function<void(KeyedArchiver&)>;
    explicit ForgedState(Writer writer) : writer_(std::move(writer)) {}
    std::string className() const override { return "Kestrova.AppState"; }
    void encode(KeyedArchiver& archiver) const override { writer_(archiver); }

private:
    Writer writer_;
};

joblark::Data forge(ForgedState::Writer writer) {
    KeyedArchiver archiver;
    archiver.encodeObject(std::make_shared<ForgedState>(std::move(writer)), "root");
    auto data = archiver.encodedData();
    EXPECT_TRUE(data);
    return data ? *data : joblark::Data{};
}

} // namespace

TEST(AppStateArchive, RoundTripKeepsArchivedFieldsDropsTheRestAndKeepsAbsentListsAbsent) {
    auto state = sampleState();
    auto back = roundTrip(*state);
    ASSERT_TRUE(back && back->user && back->endpoints && back->measures);
    const auto& user = *back->user;
    EXPECT_EQ(user.url->absoluteString(), "https://svc.example/api/me");
    EXPECT_EQ(user.email, "me@example.com");
    EXPECT_EQ(user.endpointsRemaining, 0);
    EXPECT_EQ(user.isStatusPageEnabled, false);
    EXPECT_EQ(user.updatedAt, state->user->updatedAt) << "fractional seconds survive";

    ASSERT_EQ(back->endpoints->size(), 2u);
    const auto& e = *(*back->endpoints)[0];
    const auto& original = *(*state->endpoints)[0];
    EXPECT_TRUE(e.isEqual(original));
    EXPECT_EQ(e.endpointUrl->absoluteString(), "https://shop.example/health?deep=1");
    EXPECT_EQ(e.checkType, Endpoint::CheckType::head);
    EXPECT_EQ(e.lastCheckStatus, Check::Status::degraded);
    EXPECT_EQ(e.degredationThreshold, 300);
    EXPECT_EQ(e.certCheckExpiryThreshold, 14);
    EXPECT_EQ(e.isPublic, true);
    EXPECT_EQ(e.updatedAt, original.updatedAt);
    EXPECT_FALSE(e.status || e.lastCheckMessage || e.history) << "not archived";
    const auto& bare = *(*back->endpoints)[1];
    EXPECT_EQ(bare.id, "e2");
    EXPECT_FALSE(bare.url || bare.name || bare.degredationThreshold || bare.isPublic || bare.createdAt);

    ASSERT_EQ(back->measures->size(), 1u);
    const auto& m = *(*back->measures)[0];
    EXPECT_EQ(m.status, Measure::Status::active) << "kept, unlike an endpoint's";
    EXPECT_EQ(m.lastStatus, Assessment::Status::down);
    EXPECT_EQ(m.isPublic, false);
    EXPECT_FALSE(m.criteria || m.history || m.lastAssessmentMessage || m.cursorId());

    // Absent (never loaded) and loaded-but-empty lists stay apart.
    auto loadedEmpty = std::make_shared<AppState>();
    loadedEmpty->endpoints.emplace();
    back = roundTrip(*loadedEmpty);
    ASSERT_TRUE(back && back->endpoints);
    EXPECT_TRUE(back->endpoints->empty());
    EXPECT_FALSE(back->measures || back->user);
}

TEST(AppStateArchive, RecordsClassNamesAndKeysInOrder) {
    auto data = sampleState()->archivedData();
    ASSERT_TRUE(data);
    auto plist = joblark::PropertyList::deserialize(*data);
    ASSERT_TRUE(plist);
    const auto* objects = plist->find("$objects")->asArray();
    ASSERT_TRUE(objects);
    std::set<std::string> classes;
    const joblark::Dictionary* endpointKeys = nullptr;
    for (const auto& object : *objects) {
        const auto* d = object.asDictionary();
        if (!d)
            continue;
        if (const auto* name = d->count("$classname") ? d->at("$classname").asString() : nullptr)
            classes.insert(*name);
        if (d->count("degredationThreshold"))
            endpointKeys = d;
    }
    for (const char* name :
         {"Kestrova.AppState", "Kestrova.User", "Kestrova.Endpoint", "Kestrova.Measure", "NSDate", "NSArray"})
        EXPECT_TRUE(classes.count(name)) << name;
    // History, criteria and checks are not in the archive at all.
    EXPECT_FALSE(classes.count("Kestrova.Check"));
    EXPECT_FALSE(classes.count("Kestrova.Criteria"));
    ASSERT_TRUE(endpointKeys);
    for (const char* key :
         {"id", "url", "name", "endpointUrl", "checkType", "lastCheckStatus", "degredationThreshold",
          "ensureValidCert", "certCheckExpiryThreshold", "isPublic", "createdAt", "updatedAt"})
        EXPECT_TRUE(endpointKeys->count(key)) << key;
    EXPECT_FALSE(endpointKeys->count("status"));
    EXPECT_FALSE(endpointKeys->count("history"));
}

TEST(AppStateArchive, WrongTypedEntriesReadBackAbsent) {
    auto endpoint = build<Endpoint>(R"({"uuid":"e1","last_check_status":"ok"})");
    auto measure = build<Measure>(R"({"uuid":"m1"})");
    auto user = build<User>(R"({"uuid":"u1"})");

    // Lists of the wrong class or with a hole, a user that is an endpoint, a number for a list.
    auto back = AppState::fromArchive(forge([&](KeyedArchiver& a) {
        a.encodeObject(endpoint, "user");
        a.encodeObjects(std::vector{measure}, "endpoints");
        a.encodeInt64(3, "measures");
    }));
    ASSERT_TRUE(back) << back.error()->localizedDescription();
    EXPECT_FALSE((*back)->user || (*back)->endpoints || (*back)->measures);
    back = AppState::fromArchive(forge([&](KeyedArchiver& a) {
        a.encodeObject(user, "user");
        a.encodeValue(joblark::Array{joblark::Value(joblark::ObjectPtr(endpoint)), joblark::Value()},
                      "endpoints");
        a.encodeString("lots", "measures");
    }));
    ASSERT_TRUE(back);
    EXPECT_TRUE((*back)->user);
    EXPECT_FALSE((*back)->endpoints || (*back)->measures);

    // Field values of the wrong type inside an endpoint read back absent.
    class ForgedEndpoint : public joblark::Object, public joblark::Coding {
    public:
        std::string className() const override { return "Kestrova.Endpoint"; }
        void encode(KeyedArchiver& a) const override {
            a.encodeInt64(5, "id");
            a.encodeString("not a url at all \x01", "url");
            a.encodeString("10", "degredationThreshold");
            a.encodeInt64(1, "isPublic");
            a.encodeString("get", "checkType"); // matched exactly, no upper-casing
            a.encodeString("fine", "lastCheckStatus");
            a.encodeString("2026-01-01T00:00:00Z", "createdAt");
        }
    };
    back = AppState::fromArchive(forge([](KeyedArchiver& a) {
        a.encodeObjects(std::vector{std::make_shared<ForgedEndpoint>()}, "endpoints");
    }));
    ASSERT_TRUE(back && (*back)->endpoints && (*back)->endpoints->size() == 1);
    const auto& e = *(*back)->endpoints->front();
    EXPECT_FALSE(e.id || e.url || e.degredationThreshold || e.isPublic || e.checkType || e.lastCheckStatus ||
                 e.createdAt);
}

TEST(AppStateArchive, ForeignClassesAndBadBytesFailCleanly) {
    // A class outside the allow-list fails the whole read.
    class Intruder : public joblark::Object, public joblark::Coding {
    public:
        std::string className() const override { return "Evil.Payload"; }
        void encode(KeyedArchiver&) const override {}
    };
    auto intruded = forge([](KeyedArchiver& a) { a.encodeObject(std::make_shared<Intruder>(), "user"); });
    EXPECT_FALSE(AppState::fromArchive(intruded));

    // A root that is not an AppState.
    auto data =
        KeyedArchiver::archivedData(joblark::Value(joblark::ObjectPtr(build<User>(R"({"uuid":"u"})"))));
    ASSERT_TRUE(data);
    EXPECT_FALSE(AppState::fromArchive(*data));

    for (const std::string bytes : {"", "bplist00", "<?xml version=\"1.0\"?>", "{\"json\":true}"}) {
        auto result = AppState::fromArchive(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        ASSERT_FALSE(result) << bytes;
        EXPECT_FALSE(result.error()->localizedDescription().empty());
    }
}

namespace {
class CacheFile : public ::testing::Test {
protected:
    void SetUp() override { env.set("XDG_CACHE_HOME", dir.path().string()); }
    joblark::testing::TemporaryDirectory dir;
    joblark::testing::ScopedEnvironment env;
};
} // namespace

TEST_F(CacheFile, IsPrivateAndAFailedOrCutWriteLeavesNoUsableHalf) {
    EXPECT_EQ(AppState::cacheFile(), dir.path() / "kestrova" / "AppState.plist");
    EXPECT_FALSE(AppState::readFromFile());
    ASSERT_EQ(sampleState()->writeToFile(), nullptr);
    struct stat info {};
    ASSERT_EQ(::stat(AppState::cacheFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const auto full = *joblark::FileLocations::readFile(AppState::cacheFile());

    // A state that cannot be archived (an e-mail that is not UTF-8) must not touch the file.
    auto broken = sampleState();
    broken->user->email = std::string("\xff\xfe");
    EXPECT_NE(broken->writeToFile(), nullptr);
    EXPECT_EQ(joblark::FileLocations::readFile(AppState::cacheFile()), full);
    EXPECT_NE(sampleState()->writeToFile(dir.path() / "missing" / "AppState.plist"), nullptr);

    for (std::size_t cut : {std::size_t{0}, std::size_t{8}, full.size() / 2, full.size() - 1}) {
        joblark::FileLocations::writeFileAtomically(AppState::cacheFile(),
                                                    std::span<const std::uint8_t>(full.data(), cut));
        EXPECT_FALSE(AppState::readFromFile()) << "cut at " << cut;
    }
}
