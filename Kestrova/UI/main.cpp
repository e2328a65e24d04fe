// kestrova: the desktop client. Everything it shows is decided in the core; this starts Qt, puts
// Joblark's main thread on Qt's event loop and opens the first window.

#include "UI/App/Application.hpp"

int main(int argc, char* argv[]) {
    return kestrova::ui::runApplication(argc, argv);
}
