#pragma once

// Find and sort in the overview: which resources a list shows, and in what order.

#include "Model/Endpoint.hpp"
#include "Model/Measure.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

struct OverviewFilter {
    enum class Sort {
        creation,  ///< the state's order: oldest first
        name,      ///< by name, ignoring case; unnamed last
        worstFirst ///< down, degraded, ok, then never checked; creation order within each
    };

    /// Matched, ignoring case, against the name and (for endpoints) the monitored address.
    std::string query;
    /// Only what is down or degraded.
    bool problemsOnly = false;
    Sort sort = Sort::creation;

    bool isActive() const { return !query.empty() || problemsOnly || sort != Sort::creation; }
    bool operator==(const OverviewFilter&) const = default;

    bool matches(const Endpoint& endpoint) const;
    bool matches(const Measure& measure) const;

    /// The positions in `list` of the resources shown, in the order shown.
    std::vector<std::size_t> rows(const std::vector<std::shared_ptr<Endpoint>>& list) const;
    std::vector<std::size_t> rows(const std::vector<std::shared_ptr<Measure>>& list) const;
};

} // namespace kestrova
