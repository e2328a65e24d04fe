#pragma once

#include "joblark/Foundation/URL.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrova {

/// The application's resource folder (the "www" pages among others). Passed to the screens that
/// read from it, so tests and the installed program each name their own.
class ResourceBundle {
public:
    /// Names the variable that points the program at another resource folder.
    static constexpr const char* overrideVariable = "KESTROVA_RESOURCES";

    explicit ResourceBundle(std::filesystem::path root);

    /// The program's resources, looked for once: the folder KESTROVA_RESOURCES names, else
    /// ../share/kestrova beside the program (an installed program), else the source tree's Resources
    /// folder that the build names (a program run from the build tree).
    static const ResourceBundle& main();
    /// The folders main() tries, in order.
    static std::vector<std::filesystem::path> candidateRoots(const char* overrideValue,
                                                             const std::filesystem::path& programDirectory);

    const std::filesystem::path& root() const { return root_; }
    bool containsDirectory(std::string_view name) const;
    /// The file `name`.`extension` in `subdirectory`, when it exists. Names that would leave the
    /// subdirectory ("..", "/") find nothing.
    std::optional<joblark::URL> url(std::string_view name, std::string_view extension,
                                    std::string_view subdirectory) const;
    /// Whether a file URL names something inside `subdirectory` (after resolving "..").
    bool contains(const joblark::URL& fileURL, std::string_view subdirectory) const;

private:
    std::filesystem::path root_;
};

} // namespace kestrova
