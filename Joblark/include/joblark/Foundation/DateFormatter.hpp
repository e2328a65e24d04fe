#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Date.hpp"

#include <memory>
#include <optional>
#include <string>

namespace joblark {

/// The locale's predefined lengths for the date or the time part of a display string.
enum class DateStyle { none, shortStyle, mediumStyle, longStyle, fullStyle };

/// Dates for display, in the user's language and time zone (ICU with CLDR data).
///
/// The locale defaults to the one POSIX programs use for times: the first non-empty of LC_ALL,
/// LC_TIME and LANG ("de_DE.UTF-8" reads as "de_DE"; "C", "POSIX" or none as plain English).
/// The time zone defaults to ICU's default zone, which follows TZ and the system setting.
/// A malformed locale name falls back to that default locale (a well-formed one without data gets
/// ICU's root formats); an unknown zone to UTC.
///
/// Construct once and reuse: building the ICU formatter is the expensive part. string() may be
/// called from several threads at once (calls are serialised inside): thread-safe.
class JOBLARK_EXPORT DateFormatter {
public:
    DateFormatter(DateStyle dateStyle, DateStyle timeStyle, std::optional<std::string> localeId = {},
                  std::optional<std::string> timeZoneId = {});
    ~DateFormatter();
    DateFormatter(DateFormatter&&) noexcept;
    DateFormatter& operator=(DateFormatter&&) noexcept;
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    /// UTF-8. Empty when both styles are none or the date is not finite.
    std::string string(const Date& date) const;

    /// The ICU locale name in use, e.g. "de_DE".
    std::string localeIdentifier() const;
    /// The time zone in use, e.g. "Europe/Berlin".
    std::string timeZoneIdentifier() const;

    /// The locale name derived from LC_ALL / LC_TIME / LANG, e.g. "de_DE" or "en_US_POSIX".
    static std::string environmentLocaleIdentifier();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace joblark
