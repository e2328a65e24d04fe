#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Date.hpp"

#include <optional>
#include <string>
#include <string_view>

// Thread safety: Free functions without shared state: safe to call from any thread.

namespace joblark {

/// The two internet date-time forms (RFC 3339 profile of ISO 8601) that web services send.
enum class ISO8601Options {
    /// "2026-03-04T05:06:07Z", "2026-03-04T07:06:07+02:00"
    internetDateTime,
    /// "2026-03-04T05:06:07.123Z": 1 to 9 fraction digits
    internetDateTimeWithFractionalSeconds,
};

/// Strict reading and writing of internet date-times.
///
/// Parsing accepts exactly "YYYY-MM-DDThh:mm:ss[.f{1,9}](Z|±hh:mm)" with ASCII digits, an upper
/// case 'T' and 'Z', years 0000-9999 and real calendar dates (proleptic Gregorian). A second of 60
/// is accepted only where a leap second can fall (23:59:60 UTC) and reads as the next midnight,
/// since a Date counts no leap seconds. Anything else, including lower case 't'/'z', gives nothing.
namespace ISO8601 {

JOBLARK_EXPORT std::optional<Date> parse(std::string_view text, ISO8601Options options);

/// Tries the form without fractional seconds, then the form with them.
JOBLARK_EXPORT std::optional<Date> parseInternetDate(std::string_view text);

/// UTC with "Z"; with milliseconds when `fractionalSeconds` (sub-millisecond parts are cut, never
/// rounded up). Empty for dates that have no four-digit year (before 0000 or after 9999) or are
/// not finite.
JOBLARK_EXPORT std::string format(const Date& date, bool fractionalSeconds = true);

} // namespace ISO8601

} // namespace joblark
