#pragma once

#include "joblark/Foundation/Export.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

/// Where the application keeps its files, following the XDG base directory rules, and the two file
/// operations everything persistent goes through: an atomic write and a bounded read.
namespace joblark::FileLocations {

/// The folder the application owns inside each base directory: its name. An application names
/// itself once at start, before anything asks for a directory; until then the program's own name is
/// used. Thread-safe.
JOBLARK_EXPORT void setApplicationName(std::string name);
JOBLARK_EXPORT std::string applicationName();

/// Reads larger than this are refused unless the caller asks for more, so a hostile or runaway file
/// cannot exhaust memory.
inline constexpr std::size_t defaultReadLimit = std::size_t{64} * 1024 * 1024;

/// $HOME when it is absolute, else the password database entry, else the temporary directory.
JOBLARK_EXPORT std::filesystem::path homeDirectory();

// Each directory is created (mode 0700) when asked for; a failure to create it shows up later as a
// failed write with the system's message. Relative XDG values are ignored, as the XDG rules say.

/// $XDG_CACHE_HOME/<application>, default ~/.cache/<application>.
JOBLARK_EXPORT std::filesystem::path cacheDirectory();
/// $XDG_DOCUMENTS_DIR when set (and absolute), else dataDirectory().
JOBLARK_EXPORT std::filesystem::path documentsDirectory();
/// $XDG_DATA_HOME/<application>, default ~/.local/share/<application>.
JOBLARK_EXPORT std::filesystem::path dataDirectory();
/// $XDG_CONFIG_HOME/<application>, default ~/.config/<application>.
JOBLARK_EXPORT std::filesystem::path configDirectory();

struct JOBLARK_EXPORT WriteResult {
    bool success = false;
    /// Empty on success; otherwise what failed and the system's reason.
    std::string errorMessage;

    explicit operator bool() const { return success; }
};

/// Replaces the file at `path` with `bytes`, or leaves the previous file exactly as it was.
/// Writes a temporary file (created with `mode`, subject to the umask) in the same directory, syncs
/// it, renames it over `path` and syncs the directory. The parent directory must exist.
JOBLARK_EXPORT WriteResult writeFileAtomically(const std::filesystem::path& path,
                                               std::span<const std::uint8_t> bytes, mode_t mode = 0600);
JOBLARK_EXPORT WriteResult writeFileAtomically(const std::filesystem::path& path, std::string_view text,
                                               mode_t mode = 0600);

/// The contents of a regular file, or nothing when it is missing, unreadable, not a regular file or
/// larger than `maxSize` bytes.
JOBLARK_EXPORT std::optional<std::vector<std::uint8_t>> readFile(const std::filesystem::path& path,
                                                                 std::size_t maxSize = defaultReadLimit);

} // namespace joblark::FileLocations
