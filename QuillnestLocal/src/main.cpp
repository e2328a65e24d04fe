// quillnest-local: a local monitoring service speaking the Quillnest REST API.
#include "quillnest/Demo.hpp"
#include "quillnest/Options.hpp"
#include "quillnest/Storage.hpp"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <sys/resource.h>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    auto parsed = quillnest::parseCommandLine(arguments);
    if (auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "quillnest-local: " << *error << "\n";
        return 2;
    }
    auto& commandLine = std::get<quillnest::CommandLine>(parsed);
    if (commandLine.text) {
        std::cout << *commandLine.text;
        return 0;
    }

    // Every thread started from here on inherits the blocked signals; this thread waits for them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Every connection is a descriptor; the default soft limit (often 1024) would cap them early.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    try {
        quillnest::Service service(commandLine.options);
        service.start();
        std::cout << "quillnest-local serving " << service.publicUrl() << " (database "
                  << commandLine.options.databasePath.string() << ")\n";
        if (auto token = service.demoToken()) {
            std::cout << "Demo account: " << quillnest::demoEmail << " / " << quillnest::demoPassword << "\n"
                      << "Demo token: " << *token << "\n";
        }
        std::cout << std::flush;
        int received = 0;
        sigwait(&signals, &received);
        std::cout << "Stopping (" << (received == SIGINT ? "SIGINT" : "SIGTERM") << ")\n" << std::flush;
        service.stop();
    } catch (const std::exception& e) {
        std::cerr << "quillnest-local: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
