#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillnest {

/// Milliseconds since 1970 (UTC): what the database stores for every timestamp.
using Millis = std::int64_t;

Millis nowMillis();
/// "2026-03-04T05:06:07.123Z"
std::string formatTimestamp(Millis millis);

struct UserRecord {
    std::int64_t id = 0;
    std::string uuid;
    std::string email;
    std::int64_t endpointLimit = 0;
    std::int64_t endpointCount = 0;
    std::int64_t contactsRemaining = 0;
    bool statusPageEnabled = false;
    Millis createdAt = 0;
    Millis updatedAt = 0;
};

struct CheckRecord {
    std::string uuid;
    Millis createdAt = 0;
    bool ok = false;
    std::int64_t responseTime = 0;
    std::string status; // "ok", "degraded", "down"
    std::string message;
};

struct EndpointRecord {
    std::int64_t id = 0;
    std::string uuid;
    std::int64_t userId = 0;
    std::string name;
    std::string endpointUrl;
    std::string checkType = "GET";
    std::int64_t degredationThreshold = 1000;
    bool ensureValidCert = true;
    std::int64_t certCheckExpiryThreshold = 14;
    bool isPublic = false;
    std::string status = "active";
    std::optional<std::string> lastCheckStatus;
    std::optional<std::string> lastCheckMessage;
    Millis createdAt = 0;
    Millis updatedAt = 0;
    std::vector<CheckRecord> history; // newest first
};

struct CriteriaRecord {
    std::string uuid;
    std::string expectedValue;
    std::string comparison;
    std::optional<std::string> valuePath;
    Millis createdAt = 0;
    Millis updatedAt = 0;
};

struct AssessmentRecord {
    std::string uuid;
    Millis createdAt = 0;
    bool ok = false;
    std::string status;
    std::string measurement;
    std::string message;
};

struct MeasureRecord {
    std::int64_t id = 0;
    std::string uuid;
    std::int64_t userId = 0;
    std::string name;
    bool isPublic = false;
    std::string status = "active";
    std::optional<std::string> lastStatus;
    std::optional<std::string> lastAssessmentMessage;
    Millis createdAt = 0;
    Millis updatedAt = 0;
    std::vector<CriteriaRecord> criteria;
    std::vector<AssessmentRecord> history; // newest first
};

struct DeviceRecord {
    std::int64_t id = 0;
    std::string uuid;
    std::int64_t userId = 0;
    std::string name;
    std::string deviceId;
    std::string registrationId;
    bool active = true;
    Millis createdAt = 0;
    Millis updatedAt = 0;
};

/// One page of a collection walked by row id, in either direction.
struct PageQuery {
    std::int64_t limit = 25;
    bool reverse = false;
    /// Exclusive cursor: the page starts after this row id (before it when reverse).
    std::optional<std::int64_t> since;
};

template <class T>
struct Page {
    std::vector<T> items;
    std::int64_t total = 0;
    /// Cursor of the following page in the same direction, when there is one.
    std::optional<std::int64_t> nextSince;
    /// Cursor of the preceding page (walked in the opposite direction), when there is one.
    std::optional<std::int64_t> previousSince;
};

/// What the prober needs of an endpoint.
struct ProbeTarget {
    std::int64_t id = 0;
    std::string endpointUrl;
    std::string checkType;
    std::int64_t degredationThreshold = 0;
    bool ensureValidCert = true;
    std::int64_t certCheckExpiryThreshold = 0;
};

} // namespace quillnest
