#include "State/RefreshInterval.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <cmath>
#include <string>

namespace kestrova::RefreshInterval {

namespace {

std::string describe(const joblark::Value& value) {
    auto text = joblark::JSON::write(value);
    return text ? *text : "a value that is not a number";
}

std::chrono::seconds replaced(const joblark::Value& value, std::chrono::seconds by, const char* why) {
    joblark::Logger::general().notice("[WARN] kRefreshInterval %{PUBLIC}@ %{PUBLIC}@; refreshing every "
                                      "%{PUBLIC}@ seconds instead.",
                                      describe(value), std::string(why), std::to_string(by.count()));
    return by;
}

} // namespace

std::chrono::seconds fromPreference(const std::optional<joblark::Value>& stored) {
    if (!stored)
        return standard;
    // Seconds become nanoseconds in the timer: a huge value must never get that far.
    double seconds = 0;
    if (auto whole = stored->asInteger(); whole && stored->isInteger())
        seconds = static_cast<double>(*whole);
    else if (auto real = stored->asDouble(); real && stored->isNumber())
        seconds = std::trunc(*real);
    else
        return replaced(*stored, standard, "is not a number");
    if (std::isnan(seconds) || seconds < 0)
        return replaced(*stored, standard, "is not a positive number");
    if (seconds < static_cast<double>(minimum.count()))
        return replaced(*stored, minimum, "is shorter than the shortest interval");
    if (seconds > static_cast<double>(maximum.count()))
        return replaced(*stored, maximum, "is longer than the longest interval");
    return std::chrono::seconds(static_cast<std::int64_t>(seconds));
}

std::chrono::seconds current() {
    return fromPreference(joblark::UserDefaults::standard().object("kRefreshInterval"));
}

} // namespace kestrova::RefreshInterval
