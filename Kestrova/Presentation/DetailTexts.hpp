#pragma once

// Texts and observation the two detail panes share.

#include "Presentation/ViewKit.hpp"

#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::detail {

/// "Last Updated: <date>" and "Created: <date>" (medium date, no time), each when present.
std::string timestampsText(const std::optional<joblark::Date>& updatedAt,
                           const std::optional<joblark::Date>& createdAt);

/// The recent-behaviour sentence: whether the history is all ok, and the last error when given.
/// `history` is absent without a list; `okCount`/`count` over a present one.
std::string recentBehaviorText(std::string_view noun, bool hasHistory, std::size_t okCount, std::size_t count,
                               const std::optional<std::string>& lastError);

/// Observes `changeNotification` and window disconnection for a detail pane: `onChange` runs on the
/// main thread, `onOwnSceneDisconnect` when the pane's own window goes away. Both hold the pane weakly.
std::vector<joblark::ObserverToken> observeDetail(ViewController& pane, std::string_view changeNotification,
                                                  std::function<void(ViewController&)> onChange,
                                                  std::function<void(ViewController&)> onOwnSceneDisconnect);

/// Shows `view` unless the signed-in user's status page is off (left as it is without a user).
template <class State>
void showPublicContainer(const std::weak_ptr<View>& view, const State& state) {
    if (auto container = view.lock(); container && state && state->user)
        container->setHidden(state->user->isStatusPageEnabled != true);
}

} // namespace kestrova::detail
