#include "Service/DeviceTasks.hpp"
#include "Service/EndpointTasks.hpp"
#include "Service/MeasureTasks.hpp"
#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/Error.hpp"

namespace kestrova {

namespace {
// The lists read only their first page: one fixed URL, whatever page a task was made for.
joblark::URL firstPage(const joblark::URL& collection) {
    return collection.withQueryItems({{"page_size", "100"}});
}
} // namespace

joblark::URL ListEndpoints::url() const {
    return firstPage(ServiceURLs::endpoints());
}

joblark::URL ListMeasures::url() const {
    return firstPage(ServiceURLs::measures());
}

joblark::URL ListUsers::url() const {
    return ServiceURLs::currentUser();
}

SearchDevices::SearchDevices(std::string identifier)
    : Base(ServiceURLs::pushDevices(), std::nullopt, false, 25), deviceId(std::string()) {
    deviceId = std::move(identifier);
}

SearchDevices::SearchDevices(joblark::URL url) : Base(url) {
    joblark::fatalError("Invalid constructor");
}

joblark::URL SearchDevices::url() const {
    return ServiceURLs::pushDevices().withQueryItems({{"device_id", deviceId.value_or("")}});
}

} // namespace kestrova
