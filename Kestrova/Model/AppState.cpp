#include "Model/AppState.hpp"

#include "Model/ArchiveCoding.hpp"

#include "joblark/Foundation/FileLocations.hpp"

namespace kestrova {

namespace {

bool sameStatus(std::string_view resourceStatus, OverallStatus status) {
    return resourceStatus == rawValue(status);
}

/// A list read from the archive counts only when every element is present.
template <class T>
std::optional<std::vector<std::shared_ptr<T>>>
withoutNulls(std::optional<std::vector<std::shared_ptr<T>>> list) {
    if (list)
        for (const auto& element : *list)
            if (!element)
                return std::nullopt;
    return list;
}

} // namespace

bool AppState::allHaveStatus(OverallStatus status) const {
    if (!endpoints || !measures)
        return false;
    for (const auto& endpoint : *endpoints)
        if (!endpoint || !endpoint->lastCheckStatus ||
            !sameStatus(rawValue(*endpoint->lastCheckStatus), status))
            return false;
    for (const auto& measure : *measures)
        if (!measure || !measure->lastStatus || !sameStatus(rawValue(*measure->lastStatus), status))
            return false;
    return true;
}

bool AppState::anyHasStatus(OverallStatus status) const {
    if (!endpoints || !measures)
        return false;
    for (const auto& endpoint : *endpoints)
        if (endpoint && endpoint->lastCheckStatus && sameStatus(rawValue(*endpoint->lastCheckStatus), status))
            return true;
    for (const auto& measure : *measures)
        if (measure && measure->lastStatus && sameStatus(rawValue(*measure->lastStatus), status))
            return true;
    return false;
}

void AppState::encode(joblark::KeyedArchiver& archiver) const {
    archiver.encodeObject(user, "user");
    if (endpoints)
        archiver.encodeObjects(*endpoints, "endpoints");
    else
        archiver.encodeValue(joblark::Value(), "endpoints");
    if (measures)
        archiver.encodeObjects(*measures, "measures");
    else
        archiver.encodeValue(joblark::Value(), "measures");
}

std::shared_ptr<AppState> AppState::decode(joblark::KeyedUnarchiver& unarchiver) {
    auto state = std::make_shared<AppState>();
    state->user = unarchiver.decodeObject<User>("user");
    state->endpoints = withoutNulls(unarchiver.decodeObjects<Endpoint>("endpoints"));
    state->measures = withoutNulls(unarchiver.decodeObjects<Measure>("measures"));
    return state;
}

joblark::Expected<joblark::Data> AppState::archivedData() const {
    // Owned states are archived through their owner; one on the stack through a non-owning pointer
    // that lives only for this call.
    auto self = std::const_pointer_cast<Object>(weak_from_this().lock());
    if (!self)
        self = std::shared_ptr<Object>(std::shared_ptr<Object>(), const_cast<AppState*>(this));
    joblark::KeyedArchiver archiver;
    archiver.encodeObject(self, "root");
    return archiver.encodedData();
}

joblark::Expected<std::shared_ptr<AppState>> AppState::fromArchive(std::span<const std::uint8_t> bytes) {
    archive::registerModelClasses();
    return joblark::KeyedUnarchiver::unarchivedObjectOfClass<AppState>(bytes, archive::allowedModelClasses());
}

std::filesystem::path AppState::cacheFile() {
    return joblark::FileLocations::cacheDirectory() / cacheFileName;
}

joblark::ErrorPtr AppState::writeToFile(const std::filesystem::path& path) const {
    auto data = archivedData();
    if (!data)
        return data.error();
    auto written =
        joblark::FileLocations::writeFileAtomically(path, std::span<const std::uint8_t>(*data), 0600);
    if (!written)
        return joblark::makeError(written.errorMessage);
    return nullptr;
}

joblark::Expected<std::shared_ptr<AppState>> AppState::readFromFile(const std::filesystem::path& path) {
    auto bytes = joblark::FileLocations::readFile(path);
    if (!bytes)
        return joblark::Unexpected{
            joblark::makeError("The cache file " + path.string() + " is missing or cannot be read.")};
    return fromArchive(*bytes);
}

} // namespace kestrova
