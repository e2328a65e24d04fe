#include "joblark/Foundation/UUID.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <unordered_set>

using joblark::UUID;

namespace {

TEST(UUIDTest, RandomIdentifiersAreVersion4AndDistinct) {
    std::set<UUID> seen;
    for (int i = 0; i < 200; ++i) {
        UUID uuid;
        EXPECT_EQ(uuid.version(), 4);
        EXPECT_EQ(uuid.bytes()[8] & 0xC0, 0x80) << "RFC 4122 variant";
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(UUIDTest, StringFormIsUpperCaseAndParsesBackInAnyCase) {
    UUID uuid;
    const std::string text = uuid.uuidString();
    ASSERT_EQ(text.size(), 36u);
    for (std::size_t i : {8u, 13u, 18u, 23u})
        EXPECT_EQ(text[i], '-');
    EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c));
    })) << text;

    EXPECT_EQ(UUID::fromString(text), uuid);
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(UUID::fromString(lower), uuid);
}

TEST(UUIDTest, MalformedStringsAreRefused) {
    // The third one is a valid identifier followed by more text: not accepted by its prefix.
    for (std::string_view bad :
         {"", "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0",
          "E621E1F8C36C-495A-93FC-0C247A3E6E5F0", "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5F\n", "{621E1F8-C36C-495A-93FC-0C247A3E6E5}"})
        EXPECT_FALSE(UUID::fromString(bad)) << bad;
    EXPECT_TRUE(UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
}

TEST(UUIDTest, NameBasedIdentifiersMatchRFC4122Version5) {
    // Reference values computed independently (Python's uuid.uuid5).
    EXPECT_EQ(UUID::nameBased(UUID::dnsNamespace(), "www.example.com").uuidString(),
              "2ED6657D-E927-568B-95E1-2665A8AEA6A2");
    EXPECT_EQ(UUID::nameBased(UUID::urlNamespace(), "https://example.com/").uuidString(),
              "DD2C1780-811A-5296-81C5-178A0EF488BC");

    UUID space;
    auto a = UUID::nameBased(space, "machine");
    EXPECT_EQ(a, UUID::nameBased(space, "machine"));
    EXPECT_NE(a, UUID::nameBased(space, "machine2"));
    EXPECT_NE(a, UUID::nameBased(UUID(), "machine"));
    EXPECT_EQ(a.version(), 5);
    EXPECT_EQ(UUID::nameBased(space, "").version(), 5);
}

TEST(UUIDTest, OrderingEqualityAndHashAgreeWithTheBytes) {
    auto low = *UUID::fromString("00000000-0000-4000-8000-000000000001");
    auto high = *UUID::fromString("00000000-0000-4000-8000-000000000100");
    EXPECT_LT(low, high);
    EXPECT_FALSE(high < low);
    EXPECT_NE(low, high);
    EXPECT_EQ(UUID(low.bytes()), low);

    std::unordered_set<UUID> set{low, high, UUID(low.bytes())};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(std::hash<UUID>{}(low), std::hash<UUID>{}(UUID(low.bytes())));
}

} // namespace
