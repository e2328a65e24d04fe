#include "joblark/Foundation/Log.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <strings.h>

namespace joblark {
namespace {

struct LogRegistry {
    std::mutex mutex;
    std::vector<LogCapture*> captures;
    std::atomic<int> captureCount{0};
    std::atomic<int> threshold{static_cast<int>(LogLevel::defaultLevel)};

    LogRegistry() { Logger::readThresholdFromEnvironment("JOBLARK_LOG"); }
};

constexpr int thresholdOff = 100;

// Never destroyed: threads may log while the process exits.
LogRegistry& registry() {
    static auto* r = new LogRegistry;
    return *r;
}

const char* levelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::defaultLevel:
        return "default";
    case LogLevel::error:
        return "error";
    case LogLevel::fault:
        return "fault";
    }
    return "default";
}

} // namespace

std::string detail::formatLogMessage(std::string_view format, const std::vector<std::string>& args) {
    static constexpr std::string_view kPublic = "%{PUBLIC}@";
    static constexpr std::string_view kPlain = "%@";
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        std::size_t width = 0;
        if (format.substr(i, kPublic.size()) == kPublic)
            width = kPublic.size();
        else if (format.substr(i, kPlain.size()) == kPlain)
            width = kPlain.size();
        if (width && next < args.size()) {
            out += args[next++];
            i += width;
        } else {
            out += format[i++];
        }
    }
    return out;
}

void Logger::setThreshold(std::optional<LogLevel> level) {
    registry().threshold.store(level ? static_cast<int>(*level) : thresholdOff, std::memory_order_relaxed);
}

bool Logger::readThresholdFromEnvironment(const char* variable) {
    const char* env = std::getenv(variable);
    if (!env || !*env)
        return false;
    if (!strcasecmp(env, "debug"))
        setThreshold(LogLevel::debug);
    else if (!strcasecmp(env, "info"))
        setThreshold(LogLevel::info);
    else if (!strcasecmp(env, "default"))
        setThreshold(LogLevel::defaultLevel);
    else if (!strcasecmp(env, "error"))
        setThreshold(LogLevel::error);
    else if (!strcasecmp(env, "off") || !strcasecmp(env, "none"))
        setThreshold(std::nullopt);
    else
        return false;
    return true;
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

Logger& Logger::general() {
    static auto* logger = new Logger("", "");
    return *logger;
}

bool Logger::wants(LogLevel level) const {
    auto& r = registry();
    return r.captureCount.load(std::memory_order_acquire) > 0 ||
           static_cast<int>(level) >= r.threshold.load(std::memory_order_relaxed);
}

void Logger::write(LogLevel level, std::string message) const {
    auto& r = registry();
    if (r.captureCount.load(std::memory_order_acquire) > 0) {
        std::lock_guard lock(r.mutex);
        for (auto* capture : r.captures)
            capture->append(LogEntry{level, subsystem_, category_, message});
    }
    if (static_cast<int>(level) < r.threshold.load(std::memory_order_relaxed))
        return;

    auto now = std::chrono::system_clock::now();
    auto seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line = std::string(stamp) + "." + (millis < 100 ? (millis < 10 ? "00" : "0") : "") +
                       std::to_string(millis) + " ";
    if (!subsystem_.empty())
        line += "[" + subsystem_ + ":" + category_ + "] ";
    if (level != LogLevel::defaultLevel && level != LogLevel::info)
        line += std::string("<") + levelName(level) + "> ";
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

LogCapture::LogCapture() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.captures.push_back(this);
    r.captureCount.fetch_add(1, std::memory_order_release);
}

LogCapture::~LogCapture() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.captures.erase(std::remove(r.captures.begin(), r.captures.end(), this), r.captures.end());
    r.captureCount.fetch_sub(1, std::memory_order_release);
}

void LogCapture::append(const LogEntry& entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
}

std::vector<LogEntry> LogCapture::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<std::string> LogCapture::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : entries_)
        out.push_back(e.message);
    return out;
}

bool LogCapture::contains(std::string_view fragment) const {
    return count(fragment) > 0;
}

std::size_t LogCapture::count(std::string_view fragment) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), [&](const LogEntry& e) {
        return e.message.find(fragment) != std::string::npos;
    }));
}

void LogCapture::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

} // namespace joblark
