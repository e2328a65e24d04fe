#pragma once

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

/// The folder the application owns inside each base directory.
inline constexpr std::string_view applicationFolder = "kestrova";

/// Reads larger than this are refused unless the caller asks for more, so a hostile or runaway file
/// cannot exhaust memory.
inline constexpr std::size_t defaultReadLimit = std::size_t{64} * 1024 * 1024;

/// $HOME when it is absolute, else the password database entry, else the temporary directory.
std::filesystem::path homeDirectory();

// Each directory is created (mode 0700) when asked for; a failure to create it shows up later as a
// failed write with the system's message. Relative XDG values are ignored, as the XDG rules say.

/// $XDG_CACHE_HOME/kestrova, default ~/.cache/kestrova.
std::filesystem::path cacheDirectory();
/// $XDG_DOCUMENTS_DIR when set (and absolute), else dataDirectory().
std::filesystem::path documentsDirectory();
/// $XDG_DATA_HOME/kestrova, default ~/.local/share/kestrova.
std::filesystem::path dataDirectory();
/// $XDG_CONFIG_HOME/kestrova, default ~/.config/kestrova.
std::filesystem::path configDirectory();

struct WriteResult {
    bool success = false;
    /// Empty on success; otherwise what failed and the system's reason.
    std::string errorMessage;

    explicit operator bool() const { return success; }
};

/// Replaces the file at `path` with `bytes`, or leaves the previous file exactly as it was.
/// Writes a temporary file (created with `mode`, subject to the umask) in the same directory, syncs
/// it, renames it over `path` and syncs the directory. The parent directory must exist.
WriteResult writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                                mode_t mode = 0600);
WriteResult writeFileAtomically(const std::filesystem::path& path, std::string_view text, mode_t mode = 0600);

/// The contents of a regular file, or nothing when it is missing, unreadable, not a regular file or
/// larger than `maxSize` bytes.
std::optional<std::vector<std::uint8_t>> readFile(const std::filesystem::path& path,
                                                  std::size_t maxSize = defaultReadLimit);

} // namespace joblark::FileLocations
