#pragma once

// Model objects for the UI tests and screenshots: endpoints and measures with histories.

#include "Model/Endpoint.hpp"
#include "Model/Measure.hpp"

#include <memory>
#include <string>
#include <vector>

namespace kestrova::ui::tests {

/// `statuses` newest first, one check each ("ok", "down", "degraded", "" for none).
std::shared_ptr<Endpoint> makeEndpoint(const std::string& id, const std::string& name,
                                       const std::vector<std::string>& statuses,
                                       double updatedAt = 1'780'000'000);
std::shared_ptr<Measure> makeMeasure(const std::string& id, const std::string& name,
                                     const std::vector<std::string>& statuses,
                                     double updatedAt = 1'780'000'000);
/// `count` statuses, mostly ok, with a down and a degraded one here and there.
std::vector<std::string> mixedHistory(std::size_t count, unsigned seed);

} // namespace kestrova::ui::tests
