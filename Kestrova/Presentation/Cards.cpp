#include "Presentation/Cards.hpp"

#include "Presentation/StatusPresentation.hpp"

#include "joblark/Foundation/DateFormatter.hpp"

#include <cctype>

namespace kestrova {
namespace {

std::string timeOfDay(const joblark::Date& date) {
    // One per thread: building an ICU formatter costs far more than using one.
    thread_local const joblark::DateFormatter formatter(joblark::DateStyle::none,
                                                        joblark::DateStyle::shortStyle);
    return formatter.string(date);
}

template <class Resource>
auto historyOf(const Resource& resource) {
    return resource.history.value_or(std::decay_t<decltype(*resource.history)>{});
}

} // namespace

std::string capitalizedStatus(std::string_view text) {
    std::string result(text);
    if (!result.empty())
        result[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(result[0])));
    return result;
}

void CardCell::layoutSubviews(double width) {
    if (width < narrowWidth) {
        overviewLabelText = shortOverview;
        historyBar.showRecentHalf();
    } else {
        overviewLabelText = fullOverview;
        historyBar.showAll();
    }
}

void CardCell::showRecordedHistory(const std::vector<HistoryPoint>& recorded,
                                   const std::optional<joblark::Date>& updatedAt) {
    historyBar.showHistory(recorded);
    shortOverview = uptimeText(recorded);
    fullOverview = overviewText(*shortOverview, updatedAt);
    overviewLabelText = fullOverview;
    detailText = *fullOverview;
}

template <class Resource>
void CardCell::configureCard(const Resource& resource) {
    fullOverview = overviewText(resource);
    shortOverview = uptimeText(resource);
    nameText = resource.name;
    overviewLabelText = fullOverview;
    historyBar.showHistory(historyOf(resource));
    containerBackground = Color::clear;
    text = resource.name.value_or("");
    detailText = *fullOverview;
}

void EndpointCardCell::configure(const Endpoint& endpoint) {
    configureCard(endpoint);
}

void MeasureCardCell::configure(const Measure& measure) {
    configureCard(measure);
}

template <class Resource>
void EndpointOverviewCell::configureCard(const Resource& resource,
                                         const std::optional<std::string>& lastStatus) {
    titleText = resource.name;
    summaryText.reset();
    summaryColor = Color::label;
    summaryBold = false;
    if (lastStatus) {
        summaryText = capitalizedStatus(*lastStatus);
        summaryColor = *lastStatus == "ok"     ? Color::systemGreen
                       : *lastStatus == "down" ? Color::systemRed
                                               : Color::systemOrange;
        summaryBold = true;
    }
    descriptionText = resource.updatedAt ? "Last checked at: " + timeOfDay(*resource.updatedAt)
                                         : std::string("Not checked yet.");
    historyBar.showHistory(historyOf(resource));
}

void EndpointOverviewCell::configure(const Endpoint& endpoint) {
    std::optional<std::string> status;
    if (endpoint.lastCheckStatus)
        status = std::string(rawValue(*endpoint.lastCheckStatus));
    configureCard(endpoint, status);
}

void EndpointOverviewCell::configure(const Measure& measure) {
    std::optional<std::string> status;
    if (measure.lastStatus)
        status = std::string(rawValue(*measure.lastStatus));
    configureCard(measure, status);
}

void Badge::update(std::string title, OverallStatus status) {
    title_ = std::move(title);
    status_ = status;
    if (auto v = view.lock())
        v->showBadge(title_, backgroundColor());
}

} // namespace kestrova
