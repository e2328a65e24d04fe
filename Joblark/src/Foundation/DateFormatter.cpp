#include "joblark/Foundation/DateFormatter.hpp"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace joblark {

namespace {

constexpr const char* posixLocale = "en_US_POSIX";

icu::DateFormat::EStyle icuStyle(DateStyle style) {
    switch (style) {
    case DateStyle::none:
        return icu::DateFormat::kNone;
    case DateStyle::shortStyle:
        return icu::DateFormat::kShort;
    case DateStyle::mediumStyle:
        return icu::DateFormat::kMedium;
    case DateStyle::longStyle:
        return icu::DateFormat::kLong;
    case DateStyle::fullStyle:
        return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

// Locale names from the environment or callers are untrusted; ICU only sees tame characters.
bool isPlausibleLocaleName(std::string_view name) {
    if (name.empty() || name.size() > 64)
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

std::optional<icu::Locale> makeLocale(std::string_view name) {
    if (!isPlausibleLocaleName(name))
        return std::nullopt;
    icu::Locale locale(std::string(name).c_str());
    if (locale.isBogus())
        return std::nullopt;
    return locale;
}

std::unique_ptr<icu::TimeZone> makeTimeZone(const std::optional<std::string>& id) {
    if (!id)
        return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createDefault());
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(*id)));
    if (!zone || *zone == icu::TimeZone::getUnknown())
        zone.reset(icu::TimeZone::createTimeZone(icu::UnicodeString("UTC", -1, US_INV)));
    return zone;
}

} // namespace

struct DateFormatter::Impl {
    // ICU formatters keep a working calendar, so one call at a time.
    std::mutex mutex;
    std::unique_ptr<icu::DateFormat> format;
    std::string localeId;
    std::string timeZoneId;
};

std::string DateFormatter::environmentLocaleIdentifier() {
    std::string_view value;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* v = std::getenv(variable);
        if (v && *v) {
            value = v;
            break;
        }
    }
    // "de_DE.UTF-8@euro": the codeset and modifier mean nothing to ICU.
    value = value.substr(0, value.find_first_of(".@"));
    if (value.empty() || value == "C" || value == "POSIX")
        return posixLocale;
    const auto locale = makeLocale(value);
    return locale ? locale->getName() : posixLocale;
}

DateFormatter::DateFormatter(DateStyle dateStyle, DateStyle timeStyle, std::optional<std::string> localeId,
                             std::optional<std::string> timeZoneId)
    : impl_(std::make_unique<Impl>()) {
    std::optional<icu::Locale> locale;
    if (localeId)
        locale = makeLocale(*localeId);
    if (!locale)
        locale = makeLocale(environmentLocaleIdentifier());
    if (!locale)
        locale = icu::Locale(posixLocale);
    impl_->localeId = locale->getName();

    auto zone = makeTimeZone(timeZoneId);
    if (zone) {
        icu::UnicodeString id;
        zone->getID(id);
        id.toUTF8String(impl_->timeZoneId);
    }

    if (dateStyle == DateStyle::none && timeStyle == DateStyle::none)
        return;
    impl_->format.reset(
        icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), *locale));
    if (impl_->format && zone)
        impl_->format->adoptTimeZone(zone.release());
}

DateFormatter::~DateFormatter() = default;
DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;

std::string DateFormatter::string(const Date& date) const {
    const double seconds = date.timeIntervalSince1970();
    if (!impl_ || !std::isfinite(seconds))
        return {};
    std::lock_guard lock(impl_->mutex);
    if (!impl_->format)
        return {};
    icu::UnicodeString text;
    impl_->format->format(seconds * 1000.0, text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

std::string DateFormatter::localeIdentifier() const {
    return impl_ ? impl_->localeId : std::string();
}

std::string DateFormatter::timeZoneIdentifier() const {
    return impl_ ? impl_->timeZoneId : std::string();
}

} // namespace joblark
