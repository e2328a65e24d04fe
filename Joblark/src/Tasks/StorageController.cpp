#include "joblark/Tasks/StorageController.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/PropertyList.hpp"

#include <system_error>

namespace joblark {
namespace {

/// Percent-encodes everything but the characters a URL path may hold as they are.
std::string percentEncodedPath(const std::string& path) {
    static constexpr std::string_view hex = "0123456789ABCDEF";
    static constexpr std::string_view allowed = "-._~!$&'()*+,;=:@/";
    std::string encoded;
    encoded.reserve(path.size());
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || allowed.find(c) != std::string_view::npos;
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0F];
        }
    }
    return encoded;
}

} // namespace

StorageController& StorageController::defaultController() {
    static StorageController controller{std::string(defaultFileName)};
    return controller;
}

void StorageController::setDefault(StorageController controller) {
    defaultController() = std::move(controller);
}

StorageController::StorageController(std::string fileName)
    : location_(FileLocations::documentsDirectory() / fileName) {}

StorageController::StorageController(const std::filesystem::path& location) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(location, error);
    location_ = error ? location : absolute;
}

std::string StorageController::locationURLString() const {
    return "file://" + percentEncodedPath(location_.string());
}

const Dictionary& StorageController::store() {
    return loadedStore();
}

Dictionary& StorageController::loadedStore() {
    if (!store_) {
        store_.emplace();
        if (auto bytes = FileLocations::readFile(location_)) {
            auto contents = PropertyList::deserialize(*bytes);
            if (contents && contents->isDictionary())
                store_ = std::move(*contents->asDictionary());
        }
        // An entry that cannot be written back (a key that is not UTF-8, say) would make every later
        // write fail; such entries are unusable anyway, so they are left behind.
        if (!PropertyList::makeNode(Value(*store_))) {
            erase_if(*store_, [](const auto& entry) {
                return !PropertyList::makeNode(Value(Dictionary{{entry.first, entry.second}}));
            });
        }
    }
    return *store_;
}

bool StorageController::writeStore() {
    auto bytes = PropertyList::serialize(Value(loadedStore()), PropertyList::Format::binary);
    if (!bytes)
        return false;
    return FileLocations::writeFileAtomically(location_, *bytes, 0600).success;
}

std::optional<Value> StorageController::loadArchivedValue(std::string_view key,
                                                          const std::vector<std::string>& allowedClasses) {
    auto& entries = loadedStore();
    auto entry = entries.find(key);
    if (entry == entries.end())
        return std::nullopt;
    const Data* data = entry->second.asData();
    if (!data)
        return std::nullopt;

    auto decoded = KeyedUnarchiver::unarchivedObject(*data, allowedClasses);
    if (decoded)
        return std::move(*decoded);

    // Unusable data would fail the same way on every launch; drop it so the next store starts clean.
    Logger::general().write(LogLevel::defaultLevel,
                            "Unable to use existing data from store. Clearing stored value. " +
                                decoded.error()->localizedDescription());
    entries.erase(entry);
    if (!writeStore())
        Logger::general().write(LogLevel::defaultLevel, "Unable to write store to " + locationURLString());
    return std::nullopt;
}

bool StorageController::storeValue(const Value& object, std::string_view key) {
    auto data = KeyedArchiver::archivedData(object);
    if (!data) {
        Logger::general().write(LogLevel::defaultLevel, "Unable to store data to User Defaults. " +
                                                            data.error()->localizedDescription());
        return false;
    }
    loadedStore().insert_or_assign(std::string(key), Value(std::move(*data)));
    return writeStore();
}

void StorageController::purge() {
    store_ = Dictionary{};
    // Best effort: an unwritable location already shows up when values are stored.
    writeStore();
}

} // namespace joblark
