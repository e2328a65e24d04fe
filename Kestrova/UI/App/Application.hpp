#pragma once

namespace kestrova::ui {

/// Starts Qt and the application on the core, opens the first window and runs the event loop.
int runApplication(int argc, char* argv[]);

} // namespace kestrova::ui
