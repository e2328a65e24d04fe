#pragma once

// Runs real programs for the end-to-end tests: quillnest-local on a free port with a temporary
// database, and kestrova-cli with its own home directory.

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kestrova::testing {

/// A child process with its standard input and output on pipes.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Reads output until a line starting with `prefix` arrives (returned whole) or the time is up.
    std::optional<std::string> waitForLine(const std::string& prefix, std::chrono::milliseconds limit);
    void writeInput(const std::string& text);
    void closeInput();
    /// Waits for the exit status (-1 when the time ran out and the process was killed), collecting
    /// the rest of the output.
    int wait(std::chrono::milliseconds limit);
    const std::string& output() const { return output_; }

private:
    bool readSome(std::chrono::milliseconds limit);

    pid_t pid_ = -1;
    int input_ = -1;
    int outputPipe_ = -1;
    std::string output_;
    std::size_t consumed_ = 0;
    std::optional<int> status_;
};

/// quillnest-local --demo on 127.0.0.1 with a free port and a database in `directory`.
class LocalService {
public:
    explicit LocalService(const std::filesystem::path& directory,
                          const std::vector<std::string>& extraArguments = {});
    bool isRunning() const { return !url.empty(); }
    std::string url;       ///< "http://127.0.0.1:PORT"
    std::string demoToken; ///< the demo account's API token

private:
    ChildProcess process_;
};

/// What one run of kestrova-cli printed and returned.
struct CommandResult {
    int status = -1;
    std::string output;
};

/// Starts kestrova-cli as runCommandLine does, leaving its input open.
std::unique_ptr<ChildProcess> startCommandLine(const std::vector<std::string>& arguments,
                                               const std::filesystem::path& home,
                                               const std::string& serviceUrl);

/// Runs kestrova-cli with `arguments` and `input` on standard input, in `home` (HOME and the XDG
/// directories), against the service at `serviceUrl`.
CommandResult runCommandLine(const std::vector<std::string>& arguments, const std::filesystem::path& home,
                             const std::string& serviceUrl, const std::string& input = {});

} // namespace kestrova::testing
