#include "LocalService.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrova::testing {

using namespace std::chrono;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);

    std::vector<std::string> argumentStrings{program};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argumentStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq != std::string::npos)
            merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : environment)
        merged[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : merged)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    outputPipe_ = out[0];
    if (spawned != 0)
        throw std::runtime_error("could not start " + program + ": " + std::strerror(spawned));
}

ChildProcess::~ChildProcess() {
    if (!status_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0)
        ::close(input_);
    if (outputPipe_ >= 0)
        ::close(outputPipe_);
}

bool ChildProcess::readSome(milliseconds limit) {
    pollfd p{outputPipe_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(outputPipe_, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& prefix, milliseconds limit) {
    const auto deadline = steady_clock::now() + limit;
    for (;;) {
        std::size_t end;
        while ((end = output_.find('\n', consumed_)) != std::string::npos) {
            std::string line = output_.substr(consumed_, end - consumed_);
            consumed_ = end + 1;
            if (line.rfind(prefix, 0) == 0)
                return line;
        }
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0 || !readSome(left))
            return std::nullopt;
    }
}

void ChildProcess::writeInput(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(input_, text.data() + written, text.size() - written);
        if (n <= 0)
            return;
        written += static_cast<std::size_t>(n);
    }
}

void ChildProcess::closeInput() {
    if (input_ >= 0)
        ::close(input_);
    input_ = -1;
}

int ChildProcess::wait(milliseconds limit) {
    const auto deadline = steady_clock::now() + limit;
    while (!status_) {
        int raw = 0;
        const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            break;
        }
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            status_ = -1;
            break;
        }
        readSome(std::min(left, milliseconds(20)));
    }
    while (readSome(milliseconds(0))) {
    }
    return *status_;
}

LocalService::LocalService(const std::filesystem::path& directory,
                           const std::vector<std::string>& extraArguments)
    : process_(QUILLNEST_LOCAL_PATH, [&] {
          std::vector<std::string> args{"--listen", "127.0.0.1:0",
                                        "--db",     (directory / "service.sqlite3").string(),
                                        "--demo",   "--no-probe"};
          args.insert(args.end(), extraArguments.begin(), extraArguments.end());
          return args;
      }()) {
    constexpr std::string_view serving = "quillnest-local serving ";
    if (auto line = process_.waitForLine(std::string(serving), seconds(30))) {
        auto rest = line->substr(serving.size());
        url = rest.substr(0, rest.find(' '));
    }
    if (auto line = process_.waitForLine("Demo token: ", seconds(30)))
        demoToken = line->substr(12);
}

std::unique_ptr<ChildProcess> startCommandLine(const std::vector<std::string>& arguments,
                                               const std::filesystem::path& home,
                                               const std::string& serviceUrl) {
    return std::make_unique<ChildProcess>(
        KESTROVA_CLI_PATH, arguments,
        std::map<std::string, std::string>{
            {"HOME", home.string()},
            {"XDG_CACHE_HOME", (home / "cache").string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"XDG_DATA_HOME", (home / "data").string()},
            {"KESTROVA_SERVICE_URL", serviceUrl}, // empty: no address from the environment
            // No Secret Service here: the token goes to the private fallback file.
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"},
            {"LANG", "C.UTF-8"}});
}

CommandResult runCommandLine(const std::vector<std::string>& arguments, const std::filesystem::path& home,
                             const std::string& serviceUrl, const std::string& input) {
    auto cli = startCommandLine(arguments, home, serviceUrl);
    cli->writeInput(input);
    cli->closeInput();
    CommandResult result;
    result.status = cli->wait(seconds(120));
    result.output = cli->output();
    return result;
}

} // namespace kestrova::testing
