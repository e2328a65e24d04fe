#include "Model/Application.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/Log.hpp"

#include <string>

namespace kestrova {

void identifyApplication(std::string_view defaultLevel) {
    joblark::FileLocations::setApplicationName(std::string(applicationName));
    if (joblark::Logger::readThresholdFromEnvironment("KESTROVA_LOG"))
        return;
    if (defaultLevel == "error")
        joblark::Logger::setThreshold(joblark::LogLevel::error);
    else if (defaultLevel == "debug")
        joblark::Logger::setThreshold(joblark::LogLevel::debug);
}

} // namespace kestrova
