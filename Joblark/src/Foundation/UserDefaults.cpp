#include "joblark/Foundation/UserDefaults.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace joblark {
namespace {

const Logger& defaultsLog() {
    static const Logger logger("UserDefaults", "Store");
    return logger;
}

/// Preferences files are tiny; anything larger is not ours.
constexpr std::size_t kMaximumFileSize = 1024 * 1024;

std::mutex standardMutex;
std::unique_ptr<UserDefaults> standardDefaults;
Dictionary standardRegistrations; // survive resetStandard()

bool storable(const Value& value) {
    switch (value.kind()) {
    case Value::Kind::data:
    case Value::Kind::error:
    case Value::Kind::object:
    case Value::Kind::taskResult:
        return false;
    case Value::Kind::array:
        return std::all_of(value.asArray()->begin(), value.asArray()->end(), storable);
    case Value::Kind::dictionary:
        return std::all_of(value.asDictionary()->begin(), value.asDictionary()->end(),
                           [](const auto& entry) { return storable(entry.second); });
    default:
        return true;
    }
}

std::optional<double> numberFrom(const Value& value) {
    if (auto b = value.asBool())
        return *b ? 1.0 : 0.0;
    if (auto d = value.asDouble())
        return d;
    if (const std::string* s = value.asString()) {
        double parsed = 0;
        const char* end = s->data() + s->size();
        auto [ptr, ec] = std::from_chars(s->data(), end, parsed);
        if (ec == std::errc() && ptr == end)
            return parsed;
    }
    return std::nullopt;
}

} // namespace

UserDefaults& UserDefaults::standard() {
    std::lock_guard lock(standardMutex);
    if (!standardDefaults) {
        standardDefaults = std::make_unique<UserDefaults>(FileLocations::configDirectory() / fileName);
        standardDefaults->registerDefaults(standardRegistrations);
    }
    return *standardDefaults;
}

void UserDefaults::resetStandard(std::optional<std::filesystem::path> location) {
    std::lock_guard lock(standardMutex);
    if (standardDefaults) {
        std::lock_guard inner(standardDefaults->mutex_);
        standardRegistrations = standardDefaults->registered_;
    }
    // The old instance may still be referenced by a caller on another thread; it stays valid until
    // exit rather than being destroyed under it.
    static std::vector<std::unique_ptr<UserDefaults>> retired;
    if (standardDefaults)
        retired.push_back(std::move(standardDefaults));
    if (location) {
        standardDefaults = std::make_unique<UserDefaults>(*location);
        standardDefaults->registerDefaults(standardRegistrations);
    }
}

UserDefaults::UserDefaults(std::filesystem::path location) : location_(std::move(location)) {}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults)
        registered_.insert_or_assign(key, value);
}

Dictionary UserDefaults::readFileLocked() const {
    auto bytes = FileLocations::readFile(location_, kMaximumFileSize);
    if (!bytes)
        return {};
    auto parsed = JSON::parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!parsed || !parsed->isDictionary()) {
        defaultsLog().error("Ignoring unreadable preferences file %{PUBLIC}@", location_.string());
        return {};
    }
    return std::move(*parsed->asDictionary());
}

std::optional<Value> UserDefaults::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (!values_)
        values_ = readFileLocked();
    if (auto it = values_->find(key); it != values_->end())
        return it->second;
    if (auto it = registered_.find(key); it != registered_.end())
        return it->second;
    return std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) const {
    auto value = object(key);
    if (!value)
        return false;
    if (const std::string* s = value->asString()) {
        std::string lower(*s);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return lower == "true" || lower == "yes" || lower == "1";
    }
    auto number = numberFrom(*value);
    return number && *number != 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    auto value = object(key);
    auto number = value ? numberFrom(*value) : std::nullopt;
    return number && std::isfinite(*number) ? *number : 0.0;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
    auto value = object(key);
    if (!value)
        return 0;
    if (auto i = value->asInteger())
        return *i;
    const double d = doubleForKey(key);
    if (d >= 9.2233720368547758e18)
        return std::numeric_limits<std::int64_t>::max();
    if (d <= -9.2233720368547758e18)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    auto value = object(key);
    if (!value)
        return std::nullopt;
    if (const std::string* s = value->asString())
        return *s;
    if (value->isNumber())
        if (auto text = JSON::write(*value))
            return *text;
    return std::nullopt;
}

bool UserDefaults::set(const Value& value, std::string_view key) {
    if (value.isNull())
        return removeObject(key);
    if (!storable(value)) {
        defaultsLog().error("Unable to store a value of this kind for %{PUBLIC}@", std::string(key));
        return false;
    }
    std::lock_guard lock(mutex_);
    return updateLocked(key, value);
}

bool UserDefaults::removeObject(std::string_view key) {
    std::lock_guard lock(mutex_);
    return updateLocked(key, std::nullopt);
}

bool UserDefaults::updateLocked(std::string_view key, const std::optional<Value>& value) {
    Dictionary current = readFileLocked(); // another program may have changed other keys
    if (value)
        current.insert_or_assign(std::string(key), *value);
    else if (auto it = current.find(key); it != current.end())
        current.erase(it);
    auto text = JSON::write(Value(current));
    if (!text) {
        defaultsLog().error("Unable to encode preferences: %{PUBLIC}@", text.error()->localizedDescription());
        return false;
    }
    std::error_code ignored;
    std::filesystem::create_directories(location_.parent_path(), ignored);
    if (auto written = FileLocations::writeFileAtomically(location_, *text); !written) {
        defaultsLog().error("Unable to write preferences: %{PUBLIC}@", written.errorMessage);
        values_ = std::move(current); // keep the change for this run at least
        return false;
    }
    values_ = std::move(current);
    return true;
}

} // namespace joblark
