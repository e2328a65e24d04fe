#include "Presentation/EndpointDetailViewController.hpp"

#include "Presentation/DetailTexts.hpp"

#include <algorithm>

namespace kestrova {
namespace {

OverallStatus badgeStatusOf(Check::Status status) {
    switch (status) {
    case Check::Status::ok:
        return OverallStatus::ok;
    case Check::Status::down:
        return OverallStatus::down;
    case Check::Status::degraded:
        return OverallStatus::degraded;
    }
    return OverallStatus::down;
}

} // namespace

EndpointDetailViewController::EndpointDetailViewController(std::shared_ptr<AppStateController> controller)
    : controller_(std::move(controller)) {}

const std::shared_ptr<Badge>& EndpointDetailViewController::statusBadge() {
    if (!statusBadge_) {
        const bool active = endpoint && endpoint->status == Endpoint::Status::active;
        statusBadge_ = active ? std::make_shared<Badge>("Active", OverallStatus::ok)
                              : std::make_shared<Badge>("Inactive", OverallStatus::degraded);
    }
    return statusBadge_;
}

const std::shared_ptr<Badge>& EndpointDetailViewController::checkStatusBadge() {
    if (!checkStatusBadge_) {
        if (endpoint && endpoint->lastCheckStatus)
            checkStatusBadge_ =
                std::make_shared<Badge>(capitalizedStatus(rawValue(*endpoint->lastCheckStatus)),
                                        badgeStatusOf(*endpoint->lastCheckStatus));
        else
            checkStatusBadge_ = std::make_shared<Badge>("Down", OverallStatus::down);
    }
    return checkStatusBadge_;
}

void EndpointDetailViewController::viewDidLoad() {
    title = endpoint && endpoint->name ? *endpoint->name : "Endpoint";
    if (auto stack = badgeStackView.lock())
        stack->setArrangedBadges({statusBadge(), checkStatusBadge()});
    updateView();
}

void EndpointDetailViewController::viewWillAppear() {
    observers_ = detail::observeDetail(
        *this, AppStateController::endpointsDidChange,
        [](ViewController& self) { static_cast<EndpointDetailViewController&>(self).refreshFromState(); },
        [](ViewController& self) { static_cast<EndpointDetailViewController&>(self).observers_.clear(); });
}

void EndpointDetailViewController::viewDidDisappear() {
    observers_.clear();
}

std::string EndpointDetailViewController::configurationText(const Endpoint* endpoint) {
    if (!endpoint)
        return "";
    std::vector<std::string> lines;
    if (endpoint->degredationThreshold)
        lines.push_back("Degredation Threshold: " + std::to_string(*endpoint->degredationThreshold) + "ms");
    if (endpoint->certCheckExpiryThreshold)
        lines.push_back(
            "Certificate Expiry Threshold: " + std::to_string(*endpoint->certCheckExpiryThreshold) + " days");
    if (endpoint->checkType)
        lines.push_back("Request Type: " + std::string(rawValue(*endpoint->checkType)));
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += (i ? "\n" : "") + lines[i];
    return text;
}

std::string EndpointDetailViewController::recentBehaviorText(const Endpoint* endpoint) {
    if (!endpoint)
        return ".";
    std::size_t ok = 0;
    const auto& history = endpoint->history;
    if (history)
        ok = static_cast<std::size_t>(std::count_if(history->begin(), history->end(), [](const auto& check) {
            return check && check->status == Check::Status::ok;
        }));
    return detail::recentBehaviorText("endpoint", history.has_value(), ok, history ? history->size() : 0,
                                      endpoint->lastCheckMessage);
}

std::string EndpointDetailViewController::timestampsText(const std::optional<joblark::Date>& updatedAt,
                                                         const std::optional<joblark::Date>& createdAt) {
    return detail::timestampsText(updatedAt, createdAt);
}

LineChartData EndpointDetailViewController::chartData(const Endpoint* endpoint) {
    LineChartDataSet responseTimes;
    responseTimes.label = "Response Time (ms)";
    responseTimes.color = responseTimes.circleColor = Color::systemBlue;
    responseTimes.fill = Color::systemBlue;
    responseTimes.lineWidth = 2;
    responseTimes.circleRadius = 4;
    responseTimes.mode = ChartDrawingMode::cubic;

    LineChartDataSet threshold;
    threshold.label = "Degredation Threshold (ms)";
    threshold.color = Color::systemGray;
    threshold.circleColor = Color::clear;
    threshold.lineWidth = 1;
    threshold.circleRadius = 1;
    threshold.mode = ChartDrawingMode::linear;

    if (endpoint && endpoint->history) {
        const auto& history = *endpoint->history;
        const double limit = static_cast<double>(endpoint->degredationThreshold.value_or(0));
        // The service lists the newest first; the chart runs from the oldest at x = 0.
        for (std::size_t k = 0; k < history.size(); ++k) {
            const auto& check = history[history.size() - 1 - k];
            const double y = check && check->responseTime ? static_cast<double>(*check->responseTime) : 0.0;
            responseTimes.entries.push_back({static_cast<double>(k), y});
            threshold.entries.push_back({static_cast<double>(k), limit});
        }
    }
    LineChartData data;
    data.dataSets = {std::move(responseTimes), std::move(threshold)};
    data.drawValues = false;
    return data;
}

void EndpointDetailViewController::updateView() {
    const Endpoint* e = endpoint.get();
    if (auto s = statusSwitch.lock())
        s->setOn(e && e->status == Endpoint::Status::active);
    if (auto s = certSwitch.lock())
        s->setOn(e && e->ensureValidCert == true);
    if (auto s = publicSwitch.lock())
        s->setOn(e && e->isPublic == true);
    detail::showPublicContainer(publicContainerView, controller_->state);
    if (e && e->status) {
        if (*e->status == Endpoint::Status::active)
            statusBadge()->update("Active", OverallStatus::ok);
        else
            statusBadge()->update("Inactive", OverallStatus::degraded);
    }
    if (e && e->lastCheckStatus)
        checkStatusBadge()->update(capitalizedStatus(rawValue(*e->lastCheckStatus)),
                                   badgeStatusOf(*e->lastCheckStatus));
    if (auto chart = chartView.lock())
        chart->setData(chartData(e));
    if (auto label = configurationDescriptionLabel.lock())
        label->setText(configurationText(e));
    if (auto label = recentBehaviorLabel.lock())
        label->setText(recentBehaviorText(e));
    if (auto label = timestampsLabel.lock())
        label->setText(e ? timestampsText(e->updatedAt, e->createdAt) : std::string());
}

void EndpointDetailViewController::refreshFromState() {
    if (endpoint && endpoint->id)
        refreshFromState(*endpoint->id, false);
}

void EndpointDetailViewController::refreshFromState(const std::string& id, bool keepWhenMissing) {
    std::shared_ptr<Endpoint> found;
    if (const auto& state = controller_->state; state && state->endpoints)
        for (const auto& candidate : *state->endpoints)
            if (candidate && candidate->id == id) {
                found = candidate;
                break;
            }
    if (found || !keepWhenMissing)
        endpoint = found;
    updateView();
}

void EndpointDetailViewController::update(std::optional<bool> isPublic, std::optional<bool> ensureValidCert,
                                          std::optional<Endpoint::Status> status) {
    if (!endpoint || !endpoint->url || !endpoint->id)
        return;
    const auto weak = weakAs<EndpointDetailViewController>();
    controller_->updateEndpoint(*endpoint->url, isPublic, ensureValidCert, status,
                                [weak, id = *endpoint->id](bool, joblark::ErrorPtr) {
                                    // Whatever the outcome: a change that did not happen puts the switch
                                    // back.
                                    if (auto self = weak.lock())
                                        self->refreshFromState(id, true);
                                });
}

void EndpointDetailViewController::statusSwitchWasChanged() {
    if (auto s = statusSwitch.lock())
        update(std::nullopt, std::nullopt, s->isOn() ? Endpoint::Status::active : Endpoint::Status::inactive);
}

void EndpointDetailViewController::publicSwitchWasChanged() {
    if (auto s = publicSwitch.lock())
        update(s->isOn(), std::nullopt, std::nullopt);
}

void EndpointDetailViewController::certSwitchWasChanged() {
    if (auto s = certSwitch.lock())
        update(std::nullopt, s->isOn(), std::nullopt);
}

} // namespace kestrova
