#include "Fixtures.hpp"

#include "Model/RawValue.hpp"

namespace kestrova::ui::tests {
namespace {

template <class Item, class Resource, class Last>
void fill(Resource& resource, const std::string& id, const std::string& name,
          const std::vector<std::string>& statuses, double updatedAt, Last& last) {
    resource.id = id;
    resource.name = name;
    resource.url = joblark::URL::parse("http://127.0.0.1:1/api/resources/" + id);
    resource.updatedAt = joblark::Date::fromTimeIntervalSince1970(updatedAt);
    std::vector<std::shared_ptr<Item>> history;
    for (const auto& status : statuses) {
        auto item = std::make_shared<Item>();
        item->status = fromRawValue<typename Item::Status>(status);
        history.push_back(item);
    }
    if (!history.empty())
        last = history.front()->status;
    resource.history = std::move(history);
}

} // namespace

std::shared_ptr<Endpoint> makeEndpoint(const std::string& id, const std::string& name,
                                       const std::vector<std::string>& statuses, double updatedAt) {
    auto endpoint = std::make_shared<Endpoint>();
    fill<Check>(*endpoint, id, name, statuses, updatedAt, endpoint->lastCheckStatus);
    return endpoint;
}

std::shared_ptr<Measure> makeMeasure(const std::string& id, const std::string& name,
                                     const std::vector<std::string>& statuses, double updatedAt) {
    auto measure = std::make_shared<Measure>();
    fill<Assessment>(*measure, id, name, statuses, updatedAt, measure->lastStatus);
    return measure;
}

std::vector<std::string> mixedHistory(std::size_t count, unsigned seed) {
    std::vector<std::string> statuses;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned v = (seed * 2654435761u + static_cast<unsigned>(i) * 40503u) % 23;
        statuses.push_back(v == 0 ? "down" : v == 1 ? "degraded" : "ok");
    }
    return statuses;
}

} // namespace kestrova::ui::tests
