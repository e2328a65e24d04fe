#pragma once

#include <string_view>

/// The notifications windows and commands exchange.
namespace kestrova::SceneNotifications {

inline constexpr std::string_view showAddEndpoint = "SceneNotifications.showAddEndpoint";
inline constexpr std::string_view deleteSelectedResource = "SceneNotifications.deleteSelectedResource";
inline constexpr std::string_view shouldSelectEndpoint = "SceneNotifications.shouldSelectEndpoint";
inline constexpr std::string_view shouldDisplayAlert = "SceneNotifications.shouldDisplayAlert";

/// Activity types that carry a selection request for the overview window, and their keys.
inline constexpr std::string_view endpointActivityType = "kestrova.Endpoint";
inline constexpr std::string_view measureActivityType = "kestrova.Measure";
inline constexpr std::string_view endpointKey = "endpoint";
inline constexpr std::string_view measureKey = "measure";

} // namespace kestrova::SceneNotifications
