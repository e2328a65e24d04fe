#include "joblark/Foundation/Date.hpp"

#include "joblark/Foundation/ISO8601.hpp"

#include <chrono>

namespace joblark {

Date::Date()
    : seconds_(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count()) {}

std::string Date::description() const {
    std::string text = ISO8601::format(*this, true);
    // Instants beyond the four-digit years still need something readable in a log line.
    if (text.empty())
        text = "Date(" + std::to_string(seconds_) + " s since 1970)";
    return text;
}

} // namespace joblark
