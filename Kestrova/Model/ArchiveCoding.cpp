#include "Model/ArchiveCoding.hpp"

#include "Model/AppState.hpp"
#include "Model/Device.hpp"
#include "Model/JSONReading.hpp"

#include <cmath>
#include <mutex>

namespace kestrova::archive {

using joblark::KeyedArchiver;
using joblark::KeyedUnarchiver;
using joblark::Value;

void ArchivedDate::encode(KeyedArchiver& archiver) const {
    archiver.encodeDouble(date_.timeIntervalSince1970() - referenceDateOffset, "NS.time");
}

std::shared_ptr<ArchivedDate> ArchivedDate::decode(KeyedUnarchiver& unarchiver) {
    auto seconds = unarchiver.decodeDouble("NS.time");
    if (!seconds || !std::isfinite(*seconds))
        return nullptr;
    return std::make_shared<ArchivedDate>(
        joblark::Date::fromTimeIntervalSince1970(*seconds + referenceDateOffset));
}

void encodeString(KeyedArchiver& archiver, const std::optional<std::string>& value, std::string_view key) {
    if (value)
        archiver.encodeString(*value, key);
    else
        archiver.encodeValue(Value(), key);
}

void encodeInteger(KeyedArchiver& archiver, const std::optional<std::int64_t>& value, std::string_view key) {
    if (value)
        archiver.encodeInt64(*value, key);
    else
        archiver.encodeValue(Value(), key);
}

void encodeBool(KeyedArchiver& archiver, const std::optional<bool>& value, std::string_view key) {
    if (value)
        archiver.encodeBool(*value, key);
    else
        archiver.encodeValue(Value(), key);
}

void encodeURL(KeyedArchiver& archiver, const std::optional<joblark::URL>& value, std::string_view key) {
    encodeString(archiver, value ? std::optional<std::string>(value->absoluteString()) : std::nullopt, key);
}

void encodeDate(KeyedArchiver& archiver, const std::optional<joblark::Date>& value, std::string_view key) {
    archiver.encodeObject(value ? std::make_shared<ArchivedDate>(*value) : nullptr, key);
}

std::optional<joblark::URL> decodeURL(KeyedUnarchiver& unarchiver, std::string_view key) {
    auto text = unarchiver.decodeString(key);
    return text ? json::parseURL(*text) : std::nullopt;
}

std::optional<joblark::Date> decodeDate(KeyedUnarchiver& unarchiver, std::string_view key) {
    auto date = unarchiver.decodeObject<ArchivedDate>(key);
    return date ? std::optional<joblark::Date>(date->date()) : std::nullopt;
}

void registerModelClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        KeyedUnarchiver::registerClass<ArchivedDate>();
        KeyedUnarchiver::registerClass<AppState>();
        KeyedUnarchiver::registerClass<User>();
        KeyedUnarchiver::registerClass<Endpoint>();
        KeyedUnarchiver::registerClass<Measure>();
        KeyedUnarchiver::registerClass<Check>();
        KeyedUnarchiver::registerClass<Assessment>();
        KeyedUnarchiver::registerClass<Criteria>();
        KeyedUnarchiver::registerClass<Device>();
    });
}

const std::vector<std::string>& allowedModelClasses() {
    static const std::vector<std::string> classes{
        std::string(AppState::codingClassName), std::string(User::codingClassName),
        std::string(Endpoint::codingClassName), std::string(Measure::codingClassName),
        std::string(ArchivedDate::codingClassName)};
    return classes;
}

} // namespace kestrova::archive
