#include "joblark/Foundation/UUID.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <unordered_set>

using joblark::UUID;

namespace {

TEST(UUIDTest, RandomIdentifiersAreDistinctVersion4AndRoundTripInAnyCase) {
    std::set<UUID> seen;
    for (int i = 0; i < 200; ++i) {
        UUID uuid;
        EXPECT_EQ(uuid.version(), 4);
        EXPECT_EQ(uuid.bytes()[8] & 0xC0, 0x80) << "RFC 4122 variant";
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 200u);

    const UUID uuid;
    const std::string text = uuid.uuidString();
    ASSERT_EQ(text.size(), 36u);
    for (std::size_t i : {8u, 13u, 18u, 23u})
        EXPECT_EQ(text[i], '-');
    EXPECT_EQ(text.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << "upper case: " << text;
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(UUID::fromString(text), uuid);
    EXPECT_EQ(UUID::fromString(lower), uuid);
}

TEST(UUIDTest, MalformedStringsAreRefused) {
    for (std::string_view bad : {
             "",
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0", // valid prefix followed by more text
             "E621E1F8C36C-495A-93FC-0C247A3E6E5F0",
             "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
             "{621E1F8-C36C-495A-93FC-0C247A3E6E5}",
         })
        EXPECT_FALSE(UUID::fromString(bad)) << bad;
}

TEST(UUIDTest, NameBasedIdentifiersMatchRFC4122Version5) {
    // Reference values computed independently (Python's uuid.uuid5).
    EXPECT_EQ(UUID::nameBased(UUID::dnsNamespace(), "www.example.com").uuidString(),
              "2ED6657D-E927-568B-95E1-2665A8AEA6A2");
    EXPECT_EQ(UUID::nameBased(UUID::urlNamespace(), "https://example.com/").uuidString(),
              "DD2C1780-811A-5296-81C5-178A0EF488BC");
    const UUID space;
    const auto a = UUID::nameBased(space, "machine");
    EXPECT_EQ(a, UUID::nameBased(space, "machine"));
    EXPECT_NE(a, UUID::nameBased(space, "machine2"));
    EXPECT_NE(a, UUID::nameBased(UUID(), "machine"));
    EXPECT_EQ(a.version(), 5);
}

TEST(UUIDTest, OrderingEqualityAndHashFollowTheBytes) {
    const auto low = *UUID::fromString("00000000-0000-4000-8000-000000000001");
    const auto high = *UUID::fromString("00000000-0000-4000-8000-000000000100");
    EXPECT_LT(low, high);
    EXPECT_EQ(UUID(low.bytes()), low);
    EXPECT_EQ((std::unordered_set<UUID>{low, high, UUID(low.bytes())}).size(), 2u);
}

} // namespace
