#include "Model/Endpoint.hpp"

#include "Model/ArchiveCoding.hpp"
#include "Model/JSONReading.hpp"

#include <cctype>

namespace kestrova {

void Check::populate(const joblark::Dictionary& json) {
    json::readText(json, "uuid", uuid);
    json::readDate(json, "created_at", createdAt);
    json::readBool(json, "ok", isOk);
    json::readInteger(json, "response_time", responseTime);
    json::readEnum(json, "status", status);
    json::readText(json, "message", message);
}

void Endpoint::populate(const joblark::Dictionary& json) {
    json::readURL(json, "url", url);
    json::readText(json, "uuid", id);
    json::readText(json, "name", name);
    json::readURL(json, "endpoint_url", endpointUrl);
    // The probe's HTTP method is matched in upper case, so "get" and "Get" both count.
    if (const auto* value = json::member(json, "check_type"); value && value->asString()) {
        std::string method = *value->asString();
        for (auto& c : method)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (auto parsed = fromRawValue<CheckType>(method))
            checkType = *parsed;
    }
    json::readInteger(json, "degredation_threshold", degredationThreshold);
    json::readBool(json, "ensure_valid_cert", ensureValidCert);
    json::readInteger(json, "cert_check_expiry_threshold", certCheckExpiryThreshold);
    json::readBool(json, "public", isPublic);
    json::readDate(json, "created_at", createdAt);
    json::readDate(json, "updated_at", updatedAt);
    json::readEnum(json, "status", status);
    json::readEnum(json, "last_check_status", lastCheckStatus);
    json::readText(json, "last_check_message", lastCheckMessage);
    json::readList(json, "history", history);
}

void Endpoint::encode(joblark::KeyedArchiver& archiver) const {
    archive::encodeString(archiver, id, "id");
    archive::encodeURL(archiver, url, "url");
    archive::encodeString(archiver, name, "name");
    archive::encodeURL(archiver, endpointUrl, "endpointUrl");
    archive::encodeEnum(archiver, checkType, "checkType");
    archive::encodeEnum(archiver, lastCheckStatus, "lastCheckStatus");
    archive::encodeInteger(archiver, degredationThreshold, "degredationThreshold");
    archive::encodeBool(archiver, ensureValidCert, "ensureValidCert");
    archive::encodeInteger(archiver, certCheckExpiryThreshold, "certCheckExpiryThreshold");
    archive::encodeBool(archiver, isPublic, "isPublic");
    archive::encodeDate(archiver, createdAt, "createdAt");
    archive::encodeDate(archiver, updatedAt, "updatedAt");
}

std::shared_ptr<Endpoint> Endpoint::decode(joblark::KeyedUnarchiver& unarchiver) {
    auto endpoint = std::make_shared<Endpoint>();
    endpoint->id = unarchiver.decodeString("id");
    endpoint->url = archive::decodeURL(unarchiver, "url");
    endpoint->name = unarchiver.decodeString("name");
    endpoint->endpointUrl = archive::decodeURL(unarchiver, "endpointUrl");
    endpoint->checkType = archive::decodeEnum<CheckType>(unarchiver, "checkType");
    endpoint->lastCheckStatus = archive::decodeEnum<Check::Status>(unarchiver, "lastCheckStatus");
    endpoint->degredationThreshold = unarchiver.decodeInt64("degredationThreshold");
    endpoint->ensureValidCert = unarchiver.decodeBool("ensureValidCert");
    endpoint->certCheckExpiryThreshold = unarchiver.decodeInt64("certCheckExpiryThreshold");
    endpoint->isPublic = unarchiver.decodeBool("isPublic");
    endpoint->createdAt = archive::decodeDate(unarchiver, "createdAt");
    endpoint->updatedAt = archive::decodeDate(unarchiver, "updatedAt");
    return endpoint;
}

} // namespace kestrova
