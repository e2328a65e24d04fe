#include "Model/User.hpp"

#include "Model/ArchiveCoding.hpp"
#include "Model/Device.hpp"
#include "Model/JSONReading.hpp"
#include "Model/Token.hpp"

#include "joblark/Foundation/UUID.hpp"

namespace kestrova {

std::size_t User::Identifier::hash() const {
    std::size_t seed = std::hash<std::string>{}(id);
    std::size_t time = std::hash<double>{}(updatedAt.timeIntervalSince1970());
    return seed ^ (time + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

User::Identifier User::identifier() const {
    return {id ? *id : joblark::UUID().uuidString(), updatedAt ? *updatedAt : joblark::Date()};
}

void User::populate(const joblark::Dictionary& json) {
    json::readURL(json, "url", url);
    json::readText(json, "uuid", id);
    json::readText(json, "email", email);
    json::readInteger(json, "endpoints_remaining", endpointsRemaining);
    json::readInteger(json, "contacts_remaining", contactsRemaining);
    json::readBool(json, "status_page_enabled", isStatusPageEnabled);
    json::readDate(json, "created_at", createdAt);
    json::readDate(json, "updated_at", updatedAt);
}

void User::encode(joblark::KeyedArchiver& archiver) const {
    archive::encodeString(archiver, id, "id");
    archive::encodeURL(archiver, url, "url");
    archive::encodeString(archiver, email, "email");
    archive::encodeInteger(archiver, endpointsRemaining, "endpointsRemaining");
    archive::encodeInteger(archiver, contactsRemaining, "contactsRemaining");
    archive::encodeBool(archiver, isStatusPageEnabled, "isStatusPageEnabled");
    archive::encodeDate(archiver, createdAt, "createdAt");
    archive::encodeDate(archiver, updatedAt, "updatedAt");
}

std::shared_ptr<User> User::decode(joblark::KeyedUnarchiver& unarchiver) {
    auto user = std::make_shared<User>();
    user->id = unarchiver.decodeString("id");
    user->url = archive::decodeURL(unarchiver, "url");
    user->email = unarchiver.decodeString("email");
    user->endpointsRemaining = unarchiver.decodeInt64("endpointsRemaining");
    user->contactsRemaining = unarchiver.decodeInt64("contactsRemaining");
    user->isStatusPageEnabled = unarchiver.decodeBool("isStatusPageEnabled");
    user->createdAt = archive::decodeDate(unarchiver, "createdAt");
    user->updatedAt = archive::decodeDate(unarchiver, "updatedAt");
    return user;
}

void Device::populate(const joblark::Dictionary& json) {
    json::readURL(json, "url", url);
    json::readText(json, "uuid", id);
    json::readText(json, "name", name);
    json::readText(json, "device_id", deviceId);
    json::readBool(json, "active", isActive);
    json::readDate(json, "created_at", createdAt);
    json::readDate(json, "updated_at", updatedAt);
}

void Token::populate(const joblark::Dictionary& json) {
    json::readText(json, "key", key);
    json::readDate(json, "created_at", createdAt);
}

} // namespace kestrova
