#pragma once

// What the cards show of one endpoint or measure: the overview list's cards and the dashboard
// grid's card, and the status badge of the detail screens.

#include "Model/Endpoint.hpp"
#include "Model/Measure.hpp"
#include "Presentation/HistoryBar.hpp"
#include "Presentation/ViewKit.hpp"

#include "joblark/Lists/ListView.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrova {

/// The entries recorded locally for a resource id, newest first; null when none are known. Cards of
/// a resource without a history (a cached state keeps none) show these instead of an empty bar.
using RecordedHistory = std::function<const std::vector<HistoryPoint>*(const std::string& resourceId)>;

/// A card of the overview list: name, overview text and history bar. Configured from a resource,
/// then laid out at the width it gets: under 250 points only the uptime and the 15 newest tiles show.
class CardCell : public joblark::TableViewCell {
public:
    static constexpr double narrowWidth = 250;

    std::optional<std::string> nameText;
    std::optional<std::string> overviewLabelText;
    HistoryBar historyBar;
    Color containerBackground = Color::clear;

    /// Uptime and time of day, and the uptime alone, computed at configuration.
    std::optional<std::string> fullOverview;
    std::optional<std::string> shortOverview;

    void layoutSubviews(double width);
    /// Bar and uptime from locally recorded entries, for a resource the state has no history of.
    void showRecordedHistory(const std::vector<HistoryPoint>& recorded,
                             const std::optional<joblark::Date>& updatedAt);

protected:
    template <class Resource>
    void configureCard(const Resource& resource);
};

class EndpointCardCell : public CardCell {
public:
    static constexpr std::string_view reuseIdentifierName = "EndpointCardCell";
    EndpointCardCell() { reuseIdentifier = std::string(reuseIdentifierName); }
    void configure(const Endpoint& endpoint);
};

class MeasureCardCell : public CardCell {
public:
    static constexpr std::string_view reuseIdentifierName = "MeasureCardCell";
    MeasureCardCell() { reuseIdentifier = std::string(reuseIdentifierName); }
    void configure(const Measure& measure);
};

/// The dashboard grid's card: name, last status in bold colour, when it was last checked, and the bar.
class EndpointOverviewCell {
public:
    static constexpr std::string_view reuseIdentifier = "Cell";

    std::optional<std::string> titleText;
    /// "Ok", "Down", "Degraded"; cleared for a resource without a last status, so that a reused card
    /// never keeps another resource's status.
    std::optional<std::string> summaryText;
    Color summaryColor = Color::label;
    bool summaryBold = false;
    std::optional<std::string> descriptionText;
    HistoryBar historyBar;

    void configure(const Endpoint& endpoint);
    void configure(const Measure& measure);
    /// The bar from locally recorded entries, for a resource the state has no history of.
    void showRecordedHistory(const std::vector<HistoryPoint>& recorded) { historyBar.showHistory(recorded); }

private:
    template <class Resource>
    void configureCard(const Resource& resource, const std::optional<std::string>& lastStatus);
};

/// A small rounded label coloured by status (green ok, orange degraded, red down).
class BadgeView;
class Badge {
public:
    static constexpr double cornerRadius = 4.0;
    static constexpr double minimumWidth = 44.0;

    Badge(std::string title, OverallStatus status) : title_(std::move(title)), status_(status) {}

    const std::string& title() const { return title_; }
    OverallStatus status() const { return status_; }
    Color backgroundColor() const { return statusColor(status_); }

    /// Re-titles and re-colours the badge, and its view when it has one.
    void update(std::string title, OverallStatus status);

    std::weak_ptr<BadgeView> view;

private:
    std::string title_;
    OverallStatus status_;
};

/// How the toolkit shows one badge.
class BadgeView {
public:
    virtual ~BadgeView() = default;
    virtual void showBadge(const std::string& title, Color background) = 0;
};

/// "Ok", "Down", "Degraded": a status text with its first letter capitalised.
std::string capitalizedStatus(std::string_view text);

} // namespace kestrova
