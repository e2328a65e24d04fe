#pragma once

#include "quillnest/Records.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillnest {

/// JSON text written straight from the records, without building a tree first: a page of 100
/// endpoints with their histories is some 3,000 objects, and the tree's allocations dominated.
class JSONText {
public:
    JSONText();
    ~JSONText();
    JSONText(const JSONText&) = delete;
    JSONText& operator=(const JSONText&) = delete;

    JSONText& key(std::string_view name);
    void string(std::string_view text);
    void optionalString(const std::optional<std::string>& text);
    void null();
    void boolean(bool value);
    void integer(std::int64_t value);
    /// ISO 8601 with milliseconds and "Z".
    void timestamp(Millis millis);
    void startObject();
    void endObject();
    void startArray();
    void endArray();

    std::string take();

private:
    struct Writer;
    std::unique_ptr<Writer> writer_;
};

// The JSON of each resource; `origin` makes their absolute "url".
void writeUser(JSONText& out, const UserRecord& user, const std::string& origin);
void writeEndpoint(JSONText& out, const EndpointRecord& endpoint, const std::string& origin);
void writeMeasure(JSONText& out, const MeasureRecord& measure, const std::string& origin);
void writeAssessment(JSONText& out, const AssessmentRecord& assessment);
void writeDevice(JSONText& out, const DeviceRecord& device, const std::string& origin);

} // namespace quillnest
