#pragma once

#include "joblark/Foundation/Log.hpp"

namespace joblark {

/// The library's log channel: subsystem "Queue", category "Task".
const Logger& TaskLog();

} // namespace joblark
