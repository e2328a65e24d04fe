#include "Presentation/OverviewFilter.hpp"

#include <algorithm>
#include <cctype>

namespace kestrova {
namespace {

/// ASCII case folding: names and URLs are matched as typed, without a locale's rules.
bool containsIgnoringCase(std::string_view text, std::string_view query) {
    if (query.empty())
        return true;
    const auto fold = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    return std::search(text.begin(), text.end(), query.begin(), query.end(),
                       [&](char a, char b) { return fold(a) == fold(b); }) != text.end();
}

/// Lower ranks show first.
template <class Status>
int severity(const std::optional<Status>& status) {
    if (!status)
        return 3;
    switch (*status) {
    case Status::down:
        return 0;
    case Status::degraded:
        return 1;
    case Status::ok:
        return 2;
    }
    return 3;
}

template <class Status>
bool isProblem(const std::optional<Status>& status) {
    return status && (*status == Status::down || *status == Status::degraded);
}

int compareNames(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b)
        return a ? -1 : (b ? 1 : 0);
    const auto n = std::min(a->size(), b->size());
    for (std::size_t i = 0; i < n; ++i) {
        const int x = std::tolower(static_cast<unsigned char>((*a)[i]));
        const int y = std::tolower(static_cast<unsigned char>((*b)[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a->size() == b->size() ? 0 : (a->size() < b->size() ? -1 : 1);
}

template <class Resource, class Status>
std::vector<std::size_t> rowsOf(const OverviewFilter& filter,
                                const std::vector<std::shared_ptr<Resource>>& list,
                                std::optional<Status> Resource::*statusField) {
    std::vector<std::size_t> rows;
    rows.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] && filter.matches(*list[i]))
            rows.push_back(i);
    switch (filter.sort) {
    case OverviewFilter::Sort::creation:
        break;
    case OverviewFilter::Sort::name:
        std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
            return compareNames(list[a]->name, list[b]->name) < 0;
        });
        break;
    case OverviewFilter::Sort::worstFirst:
        std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
            return severity((*list[a]).*statusField) < severity((*list[b]).*statusField);
        });
        break;
    }
    return rows;
}

} // namespace

bool OverviewFilter::matches(const Endpoint& endpoint) const {
    if (problemsOnly && !isProblem(endpoint.lastCheckStatus))
        return false;
    if (query.empty())
        return true;
    return containsIgnoringCase(endpoint.name.value_or(""), query) ||
           (endpoint.endpointUrl && containsIgnoringCase(endpoint.endpointUrl->absoluteString(), query));
}

bool OverviewFilter::matches(const Measure& measure) const {
    if (problemsOnly && !isProblem(measure.lastStatus))
        return false;
    return containsIgnoringCase(measure.name.value_or(""), query);
}

std::vector<std::size_t> OverviewFilter::rows(const std::vector<std::shared_ptr<Endpoint>>& list) const {
    return rowsOf(*this, list, &Endpoint::lastCheckStatus);
}

std::vector<std::size_t> OverviewFilter::rows(const std::vector<std::shared_ptr<Measure>>& list) const {
    return rowsOf(*this, list, &Measure::lastStatus);
}

} // namespace kestrova
