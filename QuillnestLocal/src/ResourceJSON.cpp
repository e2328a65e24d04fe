#include "quillnest/ResourceJSON.hpp"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>

namespace quillnest {

struct JSONText::Writer {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer{buffer};
};

JSONText::JSONText() : writer_(std::make_unique<Writer>()) {}
JSONText::~JSONText() = default;

JSONText& JSONText::key(std::string_view name) {
    writer_->writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
    return *this;
}
void JSONText::string(std::string_view text) {
    writer_->writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}
void JSONText::optionalString(const std::optional<std::string>& text) {
    if (text)
        string(*text);
    else
        null();
}
void JSONText::null() {
    writer_->writer.Null();
}
void JSONText::boolean(bool value) {
    writer_->writer.Bool(value);
}
void JSONText::integer(std::int64_t value) {
    writer_->writer.Int64(value);
}
void JSONText::timestamp(Millis millis) {
    string(formatTimestamp(millis));
}
void JSONText::startObject() {
    writer_->writer.StartObject();
}
void JSONText::endObject() {
    writer_->writer.EndObject();
}
void JSONText::startArray() {
    writer_->writer.StartArray();
}
void JSONText::endArray() {
    writer_->writer.EndArray();
}
std::string JSONText::take() {
    return std::string(writer_->buffer.GetString(), writer_->buffer.GetSize());
}

void writeUser(JSONText& out, const UserRecord& u, const std::string& origin) {
    out.startObject();
    out.key("url").string(origin + "/api/users/" + u.uuid);
    out.key("uuid").string(u.uuid);
    out.key("email").string(u.email);
    out.key("endpoints_remaining").integer(std::max<std::int64_t>(0, u.endpointLimit - u.endpointCount));
    out.key("contacts_remaining").integer(u.contactsRemaining);
    out.key("status_page_enabled").boolean(u.statusPageEnabled);
    out.key("created_at").timestamp(u.createdAt);
    out.key("updated_at").timestamp(u.updatedAt);
    out.endObject();
}

void writeEndpoint(JSONText& out, const EndpointRecord& e, const std::string& origin) {
    out.startObject();
    out.key("url").string(origin + "/api/endpoints/" + e.uuid);
    out.key("uuid").string(e.uuid);
    out.key("name").string(e.name);
    out.key("endpoint_url").string(e.endpointUrl);
    out.key("check_type").string(e.checkType);
    out.key("degredation_threshold").integer(e.degredationThreshold);
    out.key("ensure_valid_cert").boolean(e.ensureValidCert);
    out.key("cert_check_expiry_threshold").integer(e.certCheckExpiryThreshold);
    out.key("public").boolean(e.isPublic);
    out.key("status").string(e.status);
    out.key("last_check_status").optionalString(e.lastCheckStatus);
    out.key("last_check_message").optionalString(e.lastCheckMessage);
    out.key("created_at").timestamp(e.createdAt);
    out.key("updated_at").timestamp(e.updatedAt);
    out.key("history").startArray();
    for (const auto& c : e.history) {
        out.startObject();
        out.key("uuid").string(c.uuid);
        out.key("created_at").timestamp(c.createdAt);
        out.key("ok").boolean(c.ok);
        out.key("response_time").integer(c.responseTime);
        out.key("status").string(c.status);
        out.key("message").string(c.message);
        out.endObject();
    }
    out.endArray();
    out.endObject();
}

void writeAssessment(JSONText& out, const AssessmentRecord& a) {
    out.startObject();
    out.key("uuid").string(a.uuid);
    out.key("created_at").timestamp(a.createdAt);
    out.key("ok").boolean(a.ok);
    out.key("status").string(a.status);
    out.key("measurement").string(a.measurement);
    out.key("message").string(a.message);
    out.endObject();
}

void writeMeasure(JSONText& out, const MeasureRecord& m, const std::string& origin) {
    out.startObject();
    out.key("url").string(origin + "/api/measures/" + m.uuid);
    out.key("uuid").string(m.uuid);
    out.key("name").string(m.name);
    out.key("public").boolean(m.isPublic);
    out.key("status").string(m.status);
    out.key("last_status").optionalString(m.lastStatus);
    out.key("last_assessment_message").optionalString(m.lastAssessmentMessage);
    out.key("created_at").timestamp(m.createdAt);
    out.key("updated_at").timestamp(m.updatedAt);
    out.key("criteria").startArray();
    for (const auto& c : m.criteria) {
        out.startObject();
        out.key("uuid").string(c.uuid);
        out.key("created_at").timestamp(c.createdAt);
        out.key("updated_at").timestamp(c.updatedAt);
        out.key("expected_value").string(c.expectedValue);
        out.key("comparison").string(c.comparison);
        out.key("value_path").optionalString(c.valuePath);
        out.endObject();
    }
    out.endArray();
    out.key("history").startArray();
    for (const auto& a : m.history)
        writeAssessment(out, a);
    out.endArray();
    out.endObject();
}

void writeDevice(JSONText& out, const DeviceRecord& d, const std::string& origin) {
    out.startObject();
    out.key("url").string(origin + "/api/devices/apns/" + d.uuid);
    out.key("uuid").string(d.uuid);
    out.key("name").string(d.name);
    out.key("device_id").string(d.deviceId);
    out.key("active").boolean(d.active);
    out.key("created_at").timestamp(d.createdAt);
    out.key("updated_at").timestamp(d.updatedAt);
    out.endObject();
}

} // namespace quillnest
