#include "quillnest/Records.hpp"

#include "joblark/Foundation/ISO8601.hpp"

#include <chrono>

namespace quillnest {

Millis nowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string formatTimestamp(Millis millis) {
    // The middle of the millisecond, so that the formatter's truncation cannot land one below it.
    auto seconds = (static_cast<double>(millis) + 0.5) / 1000.0;
    return joblark::ISO8601::format(joblark::Date::fromTimeIntervalSince1970(seconds), true);
}

} // namespace quillnest
