#pragma once

#include "joblark/Foundation/Export.hpp"

#include <compare>
#include <string>

// Thread safety: Date is an immutable value: safe to share between threads.

namespace joblark {

/// A point in time, independent of any calendar or time zone: seconds since
/// 1970-01-01T00:00:00Z, with sub-second precision (a double keeps about a microsecond for
/// present-day dates).
class JOBLARK_EXPORT Date {
public:
    /// The current instant.
    Date();

    static Date fromTimeIntervalSince1970(double seconds) { return Date(seconds, Tag{}); }

    double timeIntervalSince1970() const { return seconds_; }
    /// Seconds from `other` to this date; positive when this date is later.
    double timeIntervalSince(const Date& other) const { return seconds_ - other.seconds_; }
    Date addingTimeInterval(double seconds) const { return Date(seconds_ + seconds, Tag{}); }

    friend bool operator==(const Date&, const Date&) = default;
    friend std::partial_ordering operator<=>(const Date&, const Date&) = default;

    /// For logs and test messages: "2026-03-04T05:06:07.123Z" (UTC, milliseconds).
    std::string description() const;

private:
    struct Tag {};
    Date(double seconds, Tag) : seconds_(seconds) {}

    double seconds_;
};

} // namespace joblark
