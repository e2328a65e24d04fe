#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Log.hpp"

namespace joblark {

/// The library's log channel: subsystem "Queue", category "Task".
JOBLARK_EXPORT const Logger& TaskLog();

} // namespace joblark
