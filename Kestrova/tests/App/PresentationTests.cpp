#include "Forms/AddEndpointForm.hpp"
#include "Presentation/StatusPresentation.hpp"

#include <gtest/gtest.h>

using namespace kestrova;

namespace {

std::shared_ptr<Check> check(std::optional<Check::Status> status) {
    auto c = std::make_shared<Check>();
    c->status = status;
    return c;
}

std::shared_ptr<Endpoint> endpointWith(std::optional<Check::Status> last,
                                       std::vector<std::shared_ptr<Check>> history) {
    auto e = std::make_shared<Endpoint>();
    e->lastCheckStatus = last;
    e->history = std::move(history);
    return e;
}

// The worst-of rule itself is the overview header's table (presentation tests); the CLI and the
// tray take it from the same function.
TEST(StatusPresentationTest, NoStateIsAllClear) {
    EXPECT_EQ(overallStatus(nullptr), OverallStatus::ok);
}

TEST(StatusPresentationTest, HistoryBarFillsFromTheRightWithTheNewestLast) {
    using S = Check::Status;
    auto endpoint = endpointWith(S::ok, {check(S::ok), check(S::down), check(S::degraded)});
    auto tiles = historyTiles(*endpoint);
    EXPECT_EQ(std::count(tiles.begin(), tiles.end(), HistoryTile::placeholder), 27);
    EXPECT_EQ(tiles[27], HistoryTile::degraded);
    EXPECT_EQ(tiles[28], HistoryTile::down);
    EXPECT_EQ(tiles[29], HistoryTile::ok) << "the newest check at the right end";
    EXPECT_EQ(uptimeText(*endpoint), "33%");

    std::vector<std::shared_ptr<Check>> many(40, check(S::ok));
    many[0] = check(std::nullopt);
    many[39] = check(S::down); // beyond the bar, but counted in the uptime
    auto full = endpointWith(S::ok, many);
    tiles = historyTiles(*full);
    EXPECT_EQ(tiles[29], HistoryTile::unknown);
    EXPECT_EQ(std::count(tiles.begin(), tiles.end(), HistoryTile::ok), 29);
    EXPECT_EQ(uptimeText(*full), "95%"); // 38 of 40

    auto twentyNine = std::vector<std::shared_ptr<Check>>(30, check(S::ok));
    twentyNine[3] = check(S::degraded);
    EXPECT_EQ(uptimeText(*endpointWith(S::ok, twentyNine)), "96%") << "truncated, not rounded";
    EXPECT_EQ(overviewText(*endpointWith(S::ok, {})), "");
    // Without a history (the cache keeps none) no uptime was measured, so none is shown.
    auto unknown = std::make_shared<Endpoint>();
    EXPECT_EQ(uptimeText(*unknown), "\u2013");
    EXPECT_EQ(uptimeText(Measure()), "\u2013");
    unknown->updatedAt = joblark::Date::fromTimeIntervalSince1970(0);
    EXPECT_EQ(overviewText(*unknown).rfind("\u2013, ", 0), 0u) << overviewText(*unknown);
}

TEST(AddEndpointFormTest, TheFirstFailingRuleDecides) {
    const std::string notAllowed = "The URL you entered is not allowed. Please use a valid http/https URL.";
    struct Case {
        const char* name;
        const char* url;
        const char* title; // nullptr: accepted
        std::string description;
    };
    const std::vector<Case> cases{
        {"   ", "ht tp://a b", "Invalid name", "The name you entered is too short."},
        {"Site", "ht tp://a b", "Invalid URL", "The URL you entered is not valid."},
        {"Site", "example.com/x", "Invalid", notAllowed},
        {"Site", "HTTPS://example.com", "Invalid", notAllowed},
        {"Site", "ftp://example.com", "Invalid", notAllowed},
        {"Site", "file:///etc/passwd", "Invalid", notAllowed},
        {"Site", "http://localhost:8080/health", "Invalid", notAllowed},
        {"Site", "http://localhost", "Invalid", notAllowed},
        {"S", "http://127.0.0.1:8080/health", nullptr, ""},
        {" Site\n", " https://example.com/status\n", nullptr, ""},
    };
    for (const auto& c : cases) {
        auto form = validateEndpointForm(c.name, c.url);
        if (!c.title) {
            ASSERT_TRUE(form) << c.url;
            EXPECT_EQ(form->name, std::string(c.name).find("Site") != std::string::npos ? "Site" : c.name);
            EXPECT_EQ(form->url.absoluteString().find(' '), std::string::npos);
            continue;
        }
        ASSERT_FALSE(form) << c.url;
        auto alert = alertText(form.error(), kInvalidFormTitle);
        EXPECT_EQ(alert.title, c.title) << c.url;
        EXPECT_EQ(alert.message, c.description) << c.url;
    }
    auto plain = alertText(std::make_shared<joblark::GenericError>("Endpoint limit reached"),
                           kCreateEndpointErrorTitle);
    EXPECT_EQ(plain.title, "Error creating Endpoint");
    EXPECT_EQ(plain.message, "Endpoint limit reached");
}

} // namespace
