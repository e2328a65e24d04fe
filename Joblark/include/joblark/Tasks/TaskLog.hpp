#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Log.hpp"

// Thread safety: Thread-safe: the channel is created once, on first use from any thread.

namespace joblark {

/// The library's log channel: subsystem "Queue", category "Task".
JOBLARK_EXPORT const Logger& TaskLog();

} // namespace joblark
