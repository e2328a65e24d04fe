#include "Presentation/StatusChangeNotifier.hpp"

#include "Presentation/SceneNotifications.hpp"

#include "joblark/Foundation/UserDefaults.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace kestrova {
namespace {

using Status = StatusTransition::Status;

template <class S>
std::optional<Status> statusOf(const std::optional<S>& status) {
    if (!status)
        return std::nullopt;
    switch (*status) {
    case S::ok:
        return Status::ok;
    case S::degraded:
        return Status::degraded;
    case S::down:
        return Status::down;
    }
    return std::nullopt;
}

std::string nounFor(ResourceKind kind, std::size_t count) {
    const char* noun = kind == ResourceKind::endpoint ? "endpoint" : "measure";
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string verbFor(Status to, std::size_t count) {
    switch (to) {
    case Status::down:
        return count == 1 ? "is down" : "are down";
    case Status::degraded:
        return count == 1 ? "is degraded" : "are degraded";
    case Status::ok:
        return count == 1 ? "has recovered" : "have recovered";
    }
    return "";
}

std::string joinNames(const std::vector<const StatusTransition*>& list) {
    std::string text;
    for (std::size_t i = 0; i < list.size(); ++i)
        text += (i ? ", " : "") + list[i]->name;
    return text;
}

} // namespace

std::vector<StatusTransition> StatusChangeNotifier::observe(const AppState& state) {
    std::unordered_map<std::string, Status> now;
    std::vector<StatusTransition> changes;
    const bool first = !known_;
    auto visit = [&](ResourceKind kind, const auto& list, auto statusField) {
        if (!list)
            return;
        for (const auto& resource : *list) {
            if (!resource || !resource->id)
                continue;
            const auto status = statusOf((*resource).*statusField);
            if (!status)
                continue;
            now[*resource->id] = *status;
            if (first)
                continue;
            std::optional<Status> before;
            if (auto it = known_->find(*resource->id); it != known_->end())
                before = it->second;
            if (before != status)
                changes.push_back({kind, *resource->id, resource->name.value_or("Unnamed"), before, *status});
        }
    };
    visit(ResourceKind::endpoint, state.endpoints, &Endpoint::lastCheckStatus);
    visit(ResourceKind::measure, state.measures, &Measure::lastStatus);
    // A list that did not load keeps what was known of it, so its next load is no news.
    if (known_) {
        if (!state.endpoints || !state.measures)
            for (const auto& [id, status] : *known_)
                now.emplace(id, status);
    }
    known_ = std::move(now);
    return changes;
}

std::optional<DesktopNotification>
StatusChangeNotifier::notification(const std::vector<StatusTransition>& transitions) {
    // A resource first seen as ok is not news; everything else that changed is.
    std::vector<const StatusTransition*> down, degraded, recovered;
    for (const auto& t : transitions) {
        if (t.to == Status::down)
            down.push_back(&t);
        else if (t.to == Status::degraded)
            degraded.push_back(&t);
        else if (t.from)
            recovered.push_back(&t);
    }
    const std::size_t total = down.size() + degraded.size() + recovered.size();
    if (total == 0)
        return std::nullopt;
    DesktopNotification n;
    const StatusTransition* target = !down.empty()       ? down.front()
                                     : !degraded.empty() ? degraded.front()
                                                         : recovered.front();
    n.targetKind = target->kind;
    n.targetId = target->id;
    n.critical = !down.empty();
    if (total == 1) {
        n.title = target->name + " " + verbFor(target->to, 1);
        n.body = std::string(target->kind == ResourceKind::endpoint ? "Endpoint" : "Measure") +
                 (target->from ? std::string(", was ") + (*target->from == Status::ok     ? "ok"
                                                          : *target->from == Status::down ? "down"
                                                                                          : "degraded")
                               : std::string());
        return n;
    }
    const auto& group = !down.empty() ? down : !degraded.empty() ? degraded : recovered;
    if (group.size() == total) {
        const bool sameKind =
            std::all_of(group.begin(), group.end(), [&](auto* t) { return t->kind == group[0]->kind; });
        n.title = (sameKind ? nounFor(group[0]->kind, total) : std::to_string(total) + " resources") + " " +
                  verbFor(group[0]->to, total);
        n.body = joinNames(group);
        return n;
    }
    n.title = std::to_string(total) + " status changes";
    std::vector<std::string> lines;
    if (!down.empty())
        lines.push_back("Down: " + joinNames(down));
    if (!degraded.empty())
        lines.push_back("Degraded: " + joinNames(degraded));
    if (!recovered.empty())
        lines.push_back("Recovered: " + joinNames(recovered));
    for (std::size_t i = 0; i < lines.size(); ++i)
        n.body += (i ? "\n" : "") + lines[i];
    return n;
}

void StatusNotificationCoordinator::registerDefaults() {
    joblark::UserDefaults::standard().registerDefaults({{std::string(kNotifyOnStatusChange), true}});
}

std::shared_ptr<StatusNotificationCoordinator>
StatusNotificationCoordinator::make(std::shared_ptr<AppStateController> controller,
                                    std::shared_ptr<DesktopNotificationService> service) {
    std::shared_ptr<StatusNotificationCoordinator> coordinator(
        new StatusNotificationCoordinator(std::move(controller), std::move(service)));
    const std::weak_ptr<StatusNotificationCoordinator> weak = coordinator;
    auto& center = joblark::NotificationCenter::defaultCenter();
    coordinator->observers_.push_back(
        center.addObserver(std::string(AppStateController::userDidChange), std::nullopt, [weak](const auto&) {
            if (auto self = weak.lock())
                self->syncDidFinish();
        }));
    for (auto name : {AppStateController::didLogin, AppStateController::didLogout})
        coordinator->observers_.push_back(
            center.addObserver(std::string(name), std::nullopt, [weak](const auto&) {
                if (auto self = weak.lock())
                    self->notifier_.reset();
            }));
    // A click brings the overview forward with the resource selected, through the activity inbox.
    if (coordinator->service_)
        coordinator->service_->activated = [weak](const DesktopNotification& n) {
            auto self = weak.lock();
            if (!self)
                return;
            const bool endpoint = n.targetKind == ResourceKind::endpoint;
            self->controller_->activityInbox.push_back(
                {std::string(endpoint ? SceneNotifications::endpointActivityType
                                      : SceneNotifications::measureActivityType),
                 {{std::string(endpoint ? SceneNotifications::endpointKey : SceneNotifications::measureKey),
                   joblark::Value(n.targetId)}}});
            joblark::NotificationCenter::defaultCenter().post(
                std::string(SceneNotifications::shouldSelectEndpoint));
        };
    return coordinator;
}

StatusNotificationCoordinator::StatusNotificationCoordinator(
    std::shared_ptr<AppStateController> controller, std::shared_ptr<DesktopNotificationService> service)
    : controller_(std::move(controller)), service_(std::move(service)) {}

void StatusNotificationCoordinator::syncDidFinish(const joblark::Date& now) {
    if (!controller_->state || !controller_->state->user)
        return;
    // Learnt even while muted or switched off, so that unmuting does not announce old news.
    const auto transitions = notifier_.observe(*controller_->state);
    if (!service_ || isMuted(now) || !joblark::UserDefaults::standard().boolForKey(kNotifyOnStatusChange))
        return;
    if (auto n = StatusChangeNotifier::notification(transitions))
        service_->show(*n);
}

void StatusNotificationCoordinator::muteUntil(std::optional<joblark::Date> until) {
    auto& defaults = joblark::UserDefaults::standard();
    if (until)
        defaults.set(until->timeIntervalSince1970(), kNotificationsMutedUntil);
    else
        defaults.removeObject(kNotificationsMutedUntil);
}

bool StatusNotificationCoordinator::isMuted(const joblark::Date& now) const {
    const double until = joblark::UserDefaults::standard().doubleForKey(kNotificationsMutedUntil);
    return std::isfinite(until) && until > now.timeIntervalSince1970();
}

joblark::Date StatusNotificationCoordinator::tomorrow(const joblark::Date& now) {
    std::time_t seconds = static_cast<std::time_t>(now.timeIntervalSince1970());
    std::tm local{};
    localtime_r(&seconds, &local);
    local.tm_mday += 1;
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    return joblark::Date::fromTimeIntervalSince1970(static_cast<double>(std::mktime(&local)));
}

} // namespace kestrova
