#pragma once

// Counts notifications posted on the default center by name, keeping the last object of each.

#include "joblark/Foundation/NotificationCenter.hpp"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::testing {

struct Heard {
    explicit Heard(std::vector<std::string_view> names) {
        for (auto name : names)
            tokens.push_back(joblark::NotificationCenter::defaultCenter().addObserver(
                std::string(name), std::nullopt, [this](const joblark::Notification& n) {
                    ++count[n.name];
                    last[n.name] = n.object;
                }));
    }
    std::map<std::string, int> count;
    std::map<std::string, joblark::Value> last;
    std::vector<joblark::ObserverToken> tokens;
};

} // namespace kestrova::testing
