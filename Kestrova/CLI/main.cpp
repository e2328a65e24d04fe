// kestrova-cli: the terminal front end.
#include "CLI/CommandLine.hpp"
#include "Model/Application.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <cstdlib>
#include <iostream>

#include <termios.h>
#include <unistd.h>

namespace {

std::optional<std::string> readSecret(const std::string& prompt) {
    std::string line;
    if (!::isatty(STDIN_FILENO)) {
        if (!std::getline(std::cin, line))
            return std::nullopt;
        return line;
    }
    std::cerr << prompt << std::flush;
    termios saved{};
    const bool hide = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hide) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (hide)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
    if (!read)
        return std::nullopt;
    return line;
}

} // namespace

int main(int argc, char** argv) {
    // The service log lines are for diagnosis; a terminal command shows only errors unless asked.
    kestrova::identifyApplication("error");
    joblark::MainThread::adoptCurrentThread();
    joblark::TaskController controller;
    kestrova::cli::Terminal terminal{
        std::cin,  std::cout, std::cerr, ::isatty(STDOUT_FILENO) != 0, ::isatty(STDIN_FILENO) != 0,
        readSecret};
    const int status = kestrova::cli::run(std::vector<std::string>(argv + 1, argv + argc), terminal);
    std::cout.flush();
    // Leave without tearing down the shared queue and session under work still in flight.
    std::_Exit(status);
}
