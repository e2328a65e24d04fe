// kestrova: the desktop client. Everything it shows is decided in the core; this starts Qt, puts
// Joblark's main thread on Qt's event loop and opens the first window.

#include "UI/App/Application.hpp"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Answered before Qt starts, so that it works without a display (packaging checks, scripts).
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kestrova %s\n", KESTROVA_VERSION);
        return 0;
    }
    return kestrova::ui::runApplication(argc, argv);
}
