#pragma once

#include "quillnest/Service.hpp"

#include <string>
#include <variant>
#include <vector>

namespace quillnest {

/// What the command line asks for: run with these options, or print this text and exit.
struct CommandLine {
    ServiceOptions options;
    /// Set for --help and --version (printed, exit 0).
    std::optional<std::string> text;
};

/// Parses the arguments (without the program name). The error message when they are wrong.
std::variant<CommandLine, std::string> parseCommandLine(const std::vector<std::string>& arguments);

/// $XDG_DATA_HOME/quillnest-local/quillnest.sqlite3, default ~/.local/share/quillnest-local/...
std::filesystem::path defaultDatabasePath();

std::string usage();

} // namespace quillnest
