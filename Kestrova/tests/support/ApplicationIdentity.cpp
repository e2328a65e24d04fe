// Every test program of the application runs as the application does: its folders are named
// "kestrova" before any test asks for one.
#include "Model/Application.hpp"

namespace {
const bool identified = [] {
    kestrova::identifyApplication();
    return true;
}();
} // namespace
