#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::cli {

/// Exit statuses: the overall status for scripts, 3 when nothing could be known.
enum ExitStatus : int { allOk = 0, degraded = 1, down = 2, unavailable = 3, usageError = 64 };

/// Where the terminal front end reads and writes; tests replace the streams.
struct Terminal {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    /// Colours and prompts only on a real terminal.
    bool outputIsTerminal = false;
    bool inputIsTerminal = false;
    /// Reads one secret line: without echo on a terminal, else the first line of input.
    std::function<std::optional<std::string>(const std::string& prompt)> readSecret;
};

/// Runs one command (arguments without the program name) on the shared state controller and
/// returns the exit status. Must run on the main thread, which it services while waiting.
int run(const std::vector<std::string>& arguments, Terminal& terminal);

/// The usage text.
std::string usage();

} // namespace kestrova::cli
