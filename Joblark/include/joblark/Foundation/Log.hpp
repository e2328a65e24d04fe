#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Object.hpp"
#include "joblark/Foundation/Value.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace joblark {

enum class LogLevel { debug = 0, info = 1, defaultLevel = 2, error = 3, fault = 4 };

struct JOBLARK_EXPORT LogEntry {
    LogLevel level;
    std::string subsystem; // empty for the general log
    std::string category;
    std::string message;
};

namespace detail {
inline std::string logArgument(const std::string& s) {
    return s;
}
inline std::string logArgument(std::string_view s) {
    return std::string(s);
}
inline std::string logArgument(const char* s) {
    return s ? s : "(null)";
}
inline std::string logArgument(const Object& o) {
    return o.description();
}
inline std::string logArgument(const Error& e) {
    return e.localizedDescription();
}
inline std::string logArgument(const Value& v) {
    return v.isString() ? *v.asString() : v.description();
}
template <class T>
std::string logArgument(const std::shared_ptr<T>& p) {
    return p ? logArgument(*p) : std::string("(null)");
}
template <class T>
requires std::is_arithmetic_v<T> std::string logArgument(T n) {
    if constexpr (std::is_same_v<T, bool>)
        return n ? "true" : "false";
    else
        return std::to_string(n);
}
/// Fills "%{PUBLIC}@" (and "%@") placeholders in order; surplus placeholders stay as written.
JOBLARK_EXPORT std::string formatLogMessage(std::string_view format, const std::vector<std::string>& args);
} // namespace detail

/// A log handle with a subsystem and category, like the platform's unified log.
/// Lines at or above the process-wide threshold go to standard error, and every line to each active
/// LogCapture. The threshold starts at the default level, or what JOBLARK_LOG says. All members are
/// thread-safe.
class JOBLARK_EXPORT Logger {
public:
    Logger(std::string subsystem, std::string category);

    /// The process-wide threshold for standard error; nothing turns that output off.
    static void setThreshold(std::optional<LogLevel> level);
    /// Sets the threshold from an environment variable the application names ("debug", "info",
    /// "default", "error", "off"); false when it is unset or holds none of those.
    static bool readThresholdFromEnvironment(const char* variable);

    /// The plain, general log (no subsystem).
    static Logger& general();

    template <class... Args>
    void log(LogLevel level, std::string_view format, const Args&... args) const {
        if (!wants(level))
            return;
        write(level, detail::formatLogMessage(format, {detail::logArgument(args)...}));
    }
    template <class... Args>
    void debug(std::string_view format, const Args&... args) const {
        log(LogLevel::debug, format, args...);
    }
    template <class... Args>
    void notice(std::string_view format, const Args&... args) const {
        log(LogLevel::defaultLevel, format, args...);
    }
    template <class... Args>
    void error(std::string_view format, const Args&... args) const {
        log(LogLevel::error, format, args...);
    }
    /// A line written as given, without placeholder processing.
    void write(LogLevel level, std::string message) const;

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

private:
    bool wants(LogLevel level) const;
    std::string subsystem_;
    std::string category_;
};

/// Collects every log line written while it lives (any level, whatever the threshold). For tests.
class JOBLARK_EXPORT LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogEntry> entries() const;
    /// Messages only, in order.
    std::vector<std::string> messages() const;
    bool contains(std::string_view fragment) const;
    std::size_t count(std::string_view fragment) const;
    void clear();

    void append(const LogEntry& entry);

private:
    mutable std::mutex mutex_;
    std::vector<LogEntry> entries_;
};

} // namespace joblark
