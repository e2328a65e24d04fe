#pragma once

#include "joblark/Foundation/Expected.hpp"

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// A software-update feed in the Sparkle appcast style: RSS 2.0 items, each naming a version (a
/// sparkle:version element or the enclosure's sparkle:version attribute), a release-notes link
/// and a download enclosure.
struct Appcast {
    struct Item {
        std::optional<std::string> title;
        std::string version;
        /// sparkle:shortVersionString, for people; the version when absent.
        std::optional<std::string> displayVersion;
        std::optional<std::string> releaseNotesLink;
        std::optional<std::string> downloadURL;
        bool operator==(const Item&) const = default;
    };

    std::vector<Item> items;

    /// Parses a feed. Documents with a DOCTYPE are refused (no entity tricks); items without a
    /// usable version are left out.
    static joblark::Expected<Appcast> parse(std::string_view xml);
    /// The item with the highest version.
    std::optional<Item> newestItem() const;
};

/// "1.10.2" as {1, 10, 2}: a leading "v" or other non-digits are skipped, and the numbers end at
/// the first character that is neither a digit nor a dot ("2.1-beta" is {2, 1}). Nothing when there
/// is no number at all. Numbers too large to hold saturate.
std::optional<std::vector<std::uint64_t>> versionComponents(std::string_view version);

/// Compares two versions number by number, missing numbers counting as 0 ("1.2" equals "1.2.0").
/// A version without numbers sorts before every other.
std::strong_ordering compareVersions(std::string_view a, std::string_view b);

} // namespace kestrova
