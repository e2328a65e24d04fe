#pragma once

#include "Model/RawValue.hpp"

#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"
#include "joblark/Foundation/URL.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// Field-level helpers for the model's keyed archives. An absent field is written as the "$null"
/// reference, and a value of the wrong type reads back absent.
namespace kestrova::archive {

/// A date in the archive, stored as NSKeyedArchiver stores one: class "NSDate", seconds since
/// 2001-01-01 under "NS.time".
class ArchivedDate : public joblark::Object, public joblark::Coding {
public:
    static constexpr std::string_view codingClassName = "NSDate";
    /// Seconds from 1970 to the 2001 reference date.
    static constexpr double referenceDateOffset = 978307200.0;

    explicit ArchivedDate(joblark::Date date) : date_(date) {}
    std::string className() const override { return std::string(codingClassName); }
    const joblark::Date& date() const { return date_; }
    void encode(joblark::KeyedArchiver& archiver) const override;
    static std::shared_ptr<ArchivedDate> decode(joblark::KeyedUnarchiver& unarchiver);

private:
    joblark::Date date_;
};

void encodeString(joblark::KeyedArchiver& archiver, const std::optional<std::string>& value,
                  std::string_view key);
void encodeInteger(joblark::KeyedArchiver& archiver, const std::optional<std::int64_t>& value,
                   std::string_view key);
void encodeBool(joblark::KeyedArchiver& archiver, const std::optional<bool>& value, std::string_view key);
/// As its absolute string.
void encodeURL(joblark::KeyedArchiver& archiver, const std::optional<joblark::URL>& value,
               std::string_view key);
void encodeDate(joblark::KeyedArchiver& archiver, const std::optional<joblark::Date>& value,
                std::string_view key);
template <class E>
void encodeEnum(joblark::KeyedArchiver& archiver, const std::optional<E>& value, std::string_view key) {
    encodeString(archiver, value ? std::optional<std::string>(rawValue(*value)) : std::nullopt, key);
}

std::optional<joblark::URL> decodeURL(joblark::KeyedUnarchiver& unarchiver, std::string_view key);
std::optional<joblark::Date> decodeDate(joblark::KeyedUnarchiver& unarchiver, std::string_view key);
/// Matched exactly against the raw values; anything else reads back absent.
template <class E>
std::optional<E> decodeEnum(joblark::KeyedUnarchiver& unarchiver, std::string_view key) {
    auto text = unarchiver.decodeString(key);
    return text ? fromRawValue<E>(*text) : std::nullopt;
}

/// Registers every archived model class with the unarchiver (once per process).
void registerModelClasses();
/// The classes the cache file may contain.
const std::vector<std::string>& allowedModelClasses();

} // namespace kestrova::archive
